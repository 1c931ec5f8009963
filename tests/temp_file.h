#pragma once
// Scratch file names for tests. CTest runs each test case as its own process, several at once, so a
// fixed name under the temp folder would let two cases overwrite each other's file mid-read; the
// process id keeps every case's files apart. Every name handed out is removed when the process
// exits normally, so that repeated test runs do not fill the temp folder.

#include <cstdio>
#include <string>
#include <vector>
#include <unistd.h>

#include <gtest/gtest.h>

inline std::string temp_file(const std::string& name) {
    struct removed_at_exit {
        std::vector<std::string> paths;
        ~removed_at_exit() {
            for (const std::string& path : paths) std::remove(path.c_str());
        }
    };
    static removed_at_exit created;
    std::string path = testing::TempDir() + "/orvalis-" + std::to_string(::getpid()) + "-" + name;
    created.paths.push_back(path);
    return path;
}
