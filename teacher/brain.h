// The teacher's side of the gomoku manager protocol: START, RECTSTART, RESTART, INFO, BEGIN,
// TURN, BOARD ... DONE, TAKEBACK, PLAY, ABOUT and END. Numbers are read with the engine
// front-end's scanners (protocol/number_scan.h), so both engines accept the same text. Thinking
// happens inline (the teacher needs no input while it thinks), within INFO timeout_turn and a
// share of time_left.
//
// Ownership and threads: one Brain per process, driven from one thread; handle_line() writes
// every reply to the stream given at construction.
#pragma once

#include "teacher/threat_names.h"
#include "teacher/player.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace teacher {

class Brain {
public:
    explicit Brain(std::ostream& out) : out_(out) {}

    /// Interprets one input line; returns false after END.
    bool handle_line(const std::string& line);

    /// Milliseconds the next move may take, from the INFO limits.
    int64_t move_time_ms() const;

private:
    std::ostream& out_;
    std::unique_ptr<Board> board_;  // null until a game is started, and after a refused START
    Teacher teacher_;
    std::vector<int> stones_;  // padded indices, in order; own stones are black, the opponent's white
    std::vector<Color> colors_;
    std::vector<int> marks_;   // cells a BOARD list marked as a winning line's (who = 3): taken, no stone
    bool in_board_block_ = false;
    int64_t timeout_turn_ms_ = 5000;
    int64_t timeout_match_ms_ = 0;
    std::optional<int64_t> time_left_ms_;  // unknown until INFO time_left

    void start(int width, int height);
    void start_command(bool rectangular, std::string_view parameters);
    void info(std::string_view parameters);
    void move_command(const std::string& word, std::string_view parameters);
    void board_line(std::string_view line);
    /// The cell of "x,y" when it lies on the board.
    std::optional<int> cell_of(std::string_view text) const;
    bool taken(int index) const;
    void put(int index, Color color);
    /// Takes the stone or mark off `index`; false when the cell holds neither.
    bool remove(int index);
    void think_and_reply();
    void reply(const std::string& line);
};

}  // namespace teacher
