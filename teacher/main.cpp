// orvalis-teacher: with no arguments a gomoku brain on stdin/stdout (the manager protocol);
// "orvalis-teacher selfplay ..." writes training data (see selfplay.h and training/DATA.md).
#include "teacher/brain.h"
#include "teacher/selfplay.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    try {
        if (argc > 1 && std::string(argv[1]) == "selfplay") {
            return teacher::selfplay_main(argc - 1, argv + 1);
        }
        std::ios::sync_with_stdio(false);
        teacher::Brain brain(std::cout);
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!brain.handle_line(line)) break;
        }
        return 0;
    } catch (const std::exception& error) {
        // A failure the code did not foresee (a file system error, memory): say so, not abort.
        std::cerr << "orvalis-teacher: " << error.what() << "\n";
        return 1;
    }
}
