// Test doubles for driving the front-end in-process: a reply recorder, a
// scripted line source and a player that records what it is told.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "play/gomoku_player.h"
#include "play/player_settings.h"
#include "protocol/line_reader.h"
#include "protocol/reply_channel.h"

namespace test_support {

class recording_channel final : public protocol::reply_channel {
public:
    void write_line(std::string_view line) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    std::vector<std::string> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class scripted_lines final : public protocol::line_source {
public:
    void add(std::vector<std::string> lines) {
        for (auto& line : lines) pending_.push_back(std::move(line));
    }
    bool read_command_line(std::string& line) override {
        if (pending_.empty()) return false;
        line = pending_.front();
        pending_.pop_front();
        return true;
    }
    std::size_t remaining() const { return pending_.size(); }

private:
    std::deque<std::string> pending_;
};

/// What one search step of the double reports.
struct scripted_step {
    std::int32_t x = 0;
    std::int32_t y = 0;
    float share = 1.0f;
    std::int32_t visits = 100000;
};

/// Shared record of everything the doubles were asked, kept by the test.
struct player_log {
    std::vector<play::player_settings> created;
    std::vector<std::pair<std::int32_t, std::int32_t>> stones;  // make_move calls, in order
    int search_steps = 0;
    int destroyed = 0;
    /// Step `n` of a think (counted over the whole test) reports script(n).
    std::function<scripted_step(int)> script = [](int) { return scripted_step{}; };
    /// Thrown from search_step when set.
    std::string search_failure;
    /// plan_think calls: think time (ms) and whether the threat search is on.
    std::vector<std::pair<std::int32_t, bool>> plans;
};

class player_double final : public play::gomoku_player {
public:
    player_double(player_log& log, protocol::reply_channel& transcript) : log_(log), transcript_(transcript) {}
    ~player_double() override {
        ++log_.destroyed;
        // The base prints to the real stdout; mirror it into the transcript
        // so tests see where it falls among the replies.
        transcript_.write_line("father delete...");
    }

    std::int32_t make_move(std::int32_t x, std::int32_t y) override {
        log_.stones.emplace_back(x, y);
        return 2;
    }
    std::int32_t search_step(std::int32_t, std::int32_t& x, std::int32_t& y, float& win_rate, float& share,
                             std::int32_t& visits) override {
        if (!log_.search_failure.empty()) throw std::runtime_error(log_.search_failure);
        const scripted_step step = log_.script(log_.search_steps++);
        x = step.x;
        y = step.y;
        win_rate = 0.0f;
        share = step.share;
        visits = step.visits;
        return 2;
    }

    std::int32_t replay_and_move(const std::vector<play::move_xy>&, play::move_xy&, float&) override { return 2; }
    std::int32_t play_best_move(std::int32_t&, std::int32_t&, float&) override { return 2; }
    std::int32_t no_op() override { return 2; }
    std::int32_t copy_cells(std::int8_t*) override { return 2; }
    std::int32_t print_board() override { return 2; }
    std::int32_t print_result() override { return 2; }
    bool is_over() override { return false; }
    std::int32_t get_tree_colour() override { return -1; }
    std::int32_t set_tree_colour(std::int32_t) override { return 0; }
    std::int32_t side_to_move() override { return 1; }
    bool is_free(std::int32_t, std::int32_t) override { return true; }
    const play::board_state* get_board() override { return nullptr; }
    std::int32_t set_playouts(std::int32_t) override { return 0; }
    std::int32_t cache_hits() override { return 0; }
    std::int32_t new_game(std::int32_t) override { return 0; }
    std::int32_t release_game() override { return 0; }
    std::string timer_report() override { return {}; }
    void plan_think(std::int32_t think_ms, bool threat_aware) override { log_.plans.emplace_back(think_ms, threat_aware); }

private:
    player_log& log_;
    protocol::reply_channel& transcript_;
};

}  // namespace test_support
