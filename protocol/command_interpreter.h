// The manager protocol: recognises each command line, parses its
// parameters, updates the front-end state and writes the replies (all but
// the engine's move line, which the think writes).
//
// Thread rules: main thread only. Commands that touch the game, the board size
// or the player wait until the worker is idle; INFO, ABOUT and unknown lines
// are answered at once, also during a think.
#pragma once

#include <optional>
#include <string_view>

#include "protocol/engine_session.h"
#include "protocol/line_reader.h"
#include "protocol/number_scan.h"

namespace protocol {

enum class command_outcome {
    carry_on,
    /// END was served, or input ended inside a BOARD list: the caller exits
    /// the process with status 0.
    end_process,
};

class command_interpreter {
public:
    /// `lines` is where BOARD reads its stone lines from.
    command_interpreter(engine_session& session, line_source& lines) : session_(session), lines_(lines) {}

    command_outcome execute_command(std::string_view line);

private:
    using handler = command_outcome (command_interpreter::*)(std::string_view parameters);
    struct command {
        std::string_view word;
        handler run;
    };

    command_outcome info(std::string_view parameters);
    command_outcome start(std::string_view parameters);
    command_outcome rectstart(std::string_view parameters);
    command_outcome restart(std::string_view parameters);
    command_outcome turn(std::string_view parameters);
    command_outcome play(std::string_view parameters);
    command_outcome begin(std::string_view parameters);
    command_outcome about(std::string_view parameters);
    command_outcome end(std::string_view parameters);
    command_outcome board(std::string_view parameters);
    command_outcome takeback(std::string_view parameters);

    /// Waits for idle and starts a 20 x 20 game if none is running. Returns
    /// whether a player is there to take stones and think.
    bool prepare_game();
    /// The opening of TURN and PLAY: prepare_game(), then "x,y" on the board.
    /// Replies and returns nothing when there is no player or the
    /// coordinates are bad.
    std::optional<coordinates> prepare_move(std::string_view parameters);
    /// Reply for a command that needs a player when none could be made.
    void reply_no_player();
    /// Records a stone in manager_board; replies `taken_format` if the cell
    /// is not empty. Returns whether the stone was recorded.
    bool record_stone(std::int32_t x, std::int32_t y, cell_code code, const char* taken_format);

    engine_session& session_;
    line_source& lines_;
};

/// True when `line` begins with `word`, letters compared without case.
bool begins_with_word(std::string_view line, std::string_view word);

}  // namespace protocol
