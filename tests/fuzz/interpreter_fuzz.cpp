// libFuzzer target: the manager protocol front-end, fed arbitrary bytes.
//
// The input is what a manager might write to the engine's standard input:
// it goes through the real line reader (over-long lines, carriage returns,
// NUL bytes, input ending mid-line) into the real command interpreter and
// engine session, worker thread included. Only the player is a double, so an
// input runs in microseconds instead of loading the network.
//
// The first byte picks a fault to inject, so the paths that answer faults are
// fuzzed too: '!' every player fails to load its model, '?' every search step
// throws. Anything else: a healthy player.
//
// Besides crashes, hangs and sanitizer reports, the target aborts on a reply
// line that is not a protocol reply (see reply_is_well_formed).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>  // protocol_doubles.h uses std::exchange without including it

#include "protocol/command_interpreter.h"
#include "protocol/engine_session.h"
#include "protocol/line_reader.h"
#include "protocol_doubles.h"

namespace {

using test_support::player_double;
using test_support::player_log;
using test_support::recording_channel;
using test_support::scripted_step;

bool is_decimal(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

/// A move line "x,y", "OK", "UNKNOWN...", "ERROR ...", the ABOUT line or the
/// line a destroyed player writes. Anything else would confuse a manager.
bool reply_is_well_formed(std::string_view line) {
    if (line == "OK" || line == "father delete...") return true;
    if (line.rfind("UNKNOWN", 0) == 0 || line.rfind("ERROR ", 0) == 0 || line.rfind("name=", 0) == 0) {
        return line.find('\n') == std::string_view::npos;
    }
    const auto comma = line.find(',');
    return comma != std::string_view::npos && is_decimal(line.substr(0, comma)) && is_decimal(line.substr(comma + 1));
}

/// The move a search double reports, the same through a whole think (so the
/// think settles after two steps, as it would on a clear best move) and
/// different from one stone count to the next: mostly on a 20 x 20 board,
/// some off it or on taken cells, so the think's checks of its own move run.
scripted_step search_report(std::size_t stones_placed) {
    const int n = static_cast<int>(stones_placed);
    return scripted_step{(n * 7) % 23 - 1, (n * 11) % 22 - 1, 1.0f, 100000};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer
    const bool model_fails = data[0] == '!';
    const bool search_fails = data[0] == '?';

    recording_channel replies;
    player_log log;
    log.script = [&log](int) { return search_report(log.stones.size()); };
    if (search_fails) log.search_failure = "injected search fault";
    auto make_player = [&](const play::player_settings& settings) -> std::unique_ptr<play::gomoku_player> {
        log.created.push_back(settings);
        if (model_fails) throw std::runtime_error("model file '" + settings.model_path + "': cannot be read");
        return std::make_unique<player_double>(log, replies);
    };

    std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (input == nullptr) std::abort();
    {
        protocol::engine_session session(replies, make_player, [] { return std::string("/fuzz"); });
        protocol::stream_line_source lines(input);
        protocol::command_interpreter interpreter(session, lines);
        std::string line;
        while (lines.read_command_line(line)) {
            if (interpreter.execute_command(line) == protocol::command_outcome::end_process) break;
        }
        session.await_idle();
    }
    std::fclose(input);

    for (const std::string& reply : replies.take()) {
        if (!reply_is_well_formed(reply)) {
            std::fprintf(stderr, "malformed reply: '%s'\n", reply.c_str());
            std::abort();
        }
    }
    return 0;
}
