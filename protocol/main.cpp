// Entry point of pbrain-orvalis: serve the manager protocol on stdin/stdout.
#include <cstdio>
#include <string>

#include "platform/process.h"
#include "play/player_factory.h"
#include "protocol/command_interpreter.h"
#include "protocol/console_message.h"

int main() {
    platform::use_byte_mode_standard_streams();
    if (platform::stdin_is_console()) {
        std::fputs(protocol::console_message, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    // Never destroyed: the process ends through exit_process(), which skips
    // teardown because the worker may still be thinking.
    static protocol::stdout_channel replies;
    static protocol::stream_line_source lines(stdin);
    static protocol::engine_session session(replies, play::create_engine_player,
                                            [] { return platform::parent_folder(platform::executable_path()); });
    static protocol::command_interpreter interpreter(session, lines);

    std::string line;
    for (;;) {
        if (!lines.read_command_line(line)) platform::exit_process(0);
        if (interpreter.execute_command(line) == protocol::command_outcome::end_process) platform::exit_process(0);
    }
}
