// Reading protocol lines from the manager.
#pragma once

#include <cstdio>
#include <string>

namespace protocol {

/// Longest line text kept; the rest of a longer line is dropped.
inline constexpr int max_line_length = 255;

/// A source of protocol lines. Used by the main thread only.
class line_source {
public:
    virtual ~line_source() = default;
    /// Reads the next line into `line` (no line end, no trailing carriage
    /// return, at most max_line_length characters). Returns false at end of
    /// input, also when it comes in the middle of a line: a partial line is
    /// never interpreted.
    virtual bool read_command_line(std::string& line) = 0;
};

/// Reads lines from a C stream one character at a time, so nothing past the
/// current line is ever consumed.
class stream_line_source final : public line_source {
public:
    explicit stream_line_source(std::FILE* input) : input_(input) {}
    bool read_command_line(std::string& line) override;

private:
    std::FILE* input_;
};

}  // namespace protocol
