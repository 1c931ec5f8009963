// The teacher's side of the gomoku manager protocol: START, RECTSTART, RESTART, INFO, BEGIN,
// TURN, BOARD ... DONE, TAKEBACK, PLAY, ABOUT and END. Thinking happens inline (the teacher needs
// no input while it thinks), within INFO timeout_turn and a share of time_left.
//
// Ownership and threads: one Brain per process, driven from one thread; handle_line() writes
// every reply to the stream given at construction.
#pragma once

#include "teacher/threat_names.h"
#include "teacher/player.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
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
    std::unique_ptr<Board> board_;
    Teacher teacher_;
    std::vector<int> stones_;  // padded indices, in order; own stones are black, the opponent's white
    std::vector<Color> colors_;
    bool in_board_block_ = false;
    int64_t timeout_turn_ms_ = 5000;
    int64_t timeout_match_ms_ = 0;
    int64_t time_left_ms_ = -1;  // unknown until INFO time_left

    void start(int width, int height);
    bool parse_point(const std::string& text, int* x, int* y) const;
    void put(int x, int y, Color color);
    void remove(int x, int y);
    void think_and_reply();
    void reply(const std::string& line);
};

}  // namespace teacher
