#include "protocol/line_reader.h"

namespace protocol {

bool stream_line_source::read_command_line(std::string& line) {
    // Up to 256 characters of the line are stored, the newline included; the
    // last stored one is then replaced by the end of the text. So a short line
    // loses its newline and a long one keeps its first 255 characters.
    char stored[max_line_length + 1];
    int count = 0;
    for (;;) {
        const int c = std::getc(input_);
        if (c == EOF) return false;
        if (count < max_line_length + 1) stored[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    int length = count - 1;
    if (length >= 1 && stored[length - 1] == '\r') --length;
    line.assign(stored, static_cast<std::size_t>(length));
    return true;
}

}  // namespace protocol
