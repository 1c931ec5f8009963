// Where protocol replies go. Both threads reply (the worker writes the move
// line, the main thread everything else), so each line is written whole under
// one lock and flushed at once: the manager is waiting on the pipe.
#pragma once

#include <cstdio>
#include <mutex>
#include <string_view>

namespace protocol {

class reply_channel {
public:
    virtual ~reply_channel() = default;

    /// Writes `line` and a line end as one unit. Safe from any thread.
    virtual void write_line(std::string_view line) = 0;

    /// printf-style convenience over write_line().
    void reply(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

/// Replies on standard output (a text stream: on Windows the line end goes out as CR LF).
class stdout_channel final : public reply_channel {
public:
    void write_line(std::string_view line) override;

private:
    std::mutex mutex_;
};

}  // namespace protocol
