#include "teacher/brain.h"

#include "protocol/number_scan.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace teacher {
namespace {

// Part of a move's allowance actually used: the rest covers process scheduling and pipes.
constexpr int64_t kUsePercent = 80;
// A move never plans on more than this share of the match time left.
constexpr int64_t kMovesLeftEstimate = 25;
// The shortest think planned; timeout_turn 0 ("play as fast as possible") gets this.
constexpr int64_t kMinimumMoveMs = 5;
// Node cap per move; far above what 100 ms allows, so time is what binds in matches.
constexpr int64_t kMoveNodeCap = 50'000'000;
// The third field of a BOARD stone line, as the engine's front-end reads it.
constexpr int32_t kOwnStone = 1;
constexpr int32_t kOpponentStone = 2;
constexpr int32_t kWinningMark = 3;  // some managers mark the winning line; the cell is taken

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && protocol::is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && protocol::is_blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

void Brain::reply(const std::string& line) { out_ << line << '\n' << std::flush; }

std::optional<int> Brain::cell_of(std::string_view text) const {
    const auto point = protocol::scan_coordinates(text);
    if (!point || !board_->on_board(point->x, point->y)) return std::nullopt;
    return to_index(point->x, point->y);
}

void Brain::start(int width, int height) {
    board_ = std::make_unique<Board>(width, height);
    stones_.clear();
    colors_.clear();
    marks_.clear();
}

bool Brain::taken(int index) const {
    return !board_->empty(index) || std::find(marks_.begin(), marks_.end(), index) != marks_.end();
}

void Brain::put(int index, Color color) {
    board_->place(index, color);
    stones_.push_back(index);
    colors_.push_back(color);
}

bool Brain::remove(int index) {
    if (const auto mark = std::find(marks_.begin(), marks_.end(), index); mark != marks_.end()) {
        marks_.erase(mark);
        return true;
    }
    const auto it = std::find(stones_.begin(), stones_.end(), index);
    if (it == stones_.end()) return false;
    const size_t at = static_cast<size_t>(it - stones_.begin());
    stones_.erase(it);
    colors_.erase(colors_.begin() + static_cast<std::ptrdiff_t>(at));
    // The board can only take back its last stone: rebuild it from the remaining ones.
    board_ = std::make_unique<Board>(board_->width(), board_->height());
    for (size_t i = 0; i < stones_.size(); ++i) board_->place(stones_[i], colors_[i]);
    return true;
}

int64_t Brain::move_time_ms() const {
    int64_t allowance = std::max<int64_t>(0, timeout_turn_ms_);
    if (time_left_ms_ && timeout_match_ms_ > 0) {
        allowance = std::min(allowance, std::max<int64_t>(0, *time_left_ms_) / kMovesLeftEstimate);
    }
    return std::max(kMinimumMoveMs, allowance * kUsePercent / 100);
}

void Brain::think_and_reply() {
    if (board_->empty_cells().empty()) {
        reply("ERROR the board is full");
        return;
    }
    ThinkLimits limits;
    limits.max_nodes = kMoveNodeCap;
    limits.deadline = SearchBudget::Clock::now() + std::chrono::milliseconds(move_time_ms());
    const MoveChoice choice = teacher_.choose(*board_, kBlack, limits);
    put(choice.index, kBlack);
    reply(std::to_string(column_of(choice.index)) + "," + std::to_string(row_of(choice.index)));
}

void Brain::start_command(bool rectangular, std::string_view parameters) {
    std::optional<protocol::coordinates> size;
    if (rectangular) {
        size = protocol::scan_size_pair(parameters);
    } else if (const auto side = protocol::scan_int(parameters)) {
        size = protocol::coordinates{*side, *side};
    }
    if (!size || size->x < 5 || size->y < 5 || size->x > kMaxSide || size->y > kMaxSide) {
        // The manager now knows of no game: a later TURN must not play into the previous one.
        board_.reset();
        reply("ERROR unsupported board size (5 to 20 only)");
        return;
    }
    start(size->x, size->y);
    reply("OK");
}

void Brain::info(std::string_view parameters) {
    const size_t key_end = std::min(parameters.size(), parameters.find_first_of(" \t"));
    const std::string key = upper(parameters.substr(0, key_end));
    const int64_t value = protocol::parse_info_integer(parameters.substr(key_end));
    if (key == "TIMEOUT_TURN") timeout_turn_ms_ = value;
    if (key == "TIMEOUT_MATCH") timeout_match_ms_ = value;
    if (key == "TIME_LEFT") time_left_ms_ = value;
}

void Brain::move_command(const std::string& word, std::string_view parameters) {
    const auto cell = cell_of(parameters);
    if (!cell) {
        reply("ERROR bad coordinates");
    } else if (word == "TAKEBACK") {
        reply(remove(*cell) ? "OK" : "ERROR empty cell");
    } else if (taken(*cell)) {
        reply("ERROR occupied cell");
    } else if (word == "PLAY") {
        put(*cell, kBlack);
        reply(std::to_string(column_of(*cell)) + "," + std::to_string(row_of(*cell)));
    } else {
        put(*cell, kWhite);
        think_and_reply();
    }
}

void Brain::board_line(std::string_view line) {
    const auto stone = protocol::scan_board_stone(line);
    if (!stone || !board_->on_board(stone->x, stone->y) ||
        (stone->who != kOwnStone && stone->who != kOpponentStone && stone->who != kWinningMark)) {
        reply("ERROR bad BOARD line");
        return;
    }
    const int index = to_index(stone->x, stone->y);
    if (taken(index)) {
        reply("ERROR occupied cell");
    } else if (stone->who == kWinningMark) {
        marks_.push_back(index);
    } else {
        put(index, stone->who == kOwnStone ? kBlack : kWhite);
    }
}

bool Brain::handle_line(const std::string& raw) {
    const std::string_view line = trim(raw);
    if (line.empty()) return true;
    const size_t word_end = std::min(line.size(), line.find_first_of(" \t"));
    const std::string word = upper(line.substr(0, word_end));
    const std::string_view rest = trim(line.substr(word_end));

    if (word == "END") return false;  // also inside a BOARD list: the manager is done with us
    if (in_board_block_ && !board_) {
        // A BOARD list without a game was refused when it began: swallow its stones, so they are
        // not answered one by one as unknown commands; anything else ends it.
        if (protocol::scan_board_stone(line)) return true;
        in_board_block_ = false;
        if (word == "DONE") return true;
    } else if (in_board_block_) {
        if (word == "DONE") {
            in_board_block_ = false;
            think_and_reply();
        } else {
            board_line(line);
        }
        return true;
    }

    if (word == "START" || word == "RECTSTART") {
        start_command(word == "RECTSTART", rest);
    } else if (word == "RESTART") {
        if (!board_) start(kMaxSide, kMaxSide);
        start(board_->width(), board_->height());
        reply("OK");
    } else if (word == "INFO") {
        info(rest);
    } else if (word == "ABOUT") {
        reply("name=\"orvalis-teacher\", version=\"1.0\", author=\"Orvalis developers\", country=\"-\"");
    } else if (!board_ && (word == "BEGIN" || word == "TURN" || word == "BOARD" || word == "PLAY" ||
                           word == "TAKEBACK")) {
        reply("ERROR no game started");
        in_board_block_ = word == "BOARD";
    } else if (word == "BEGIN") {
        think_and_reply();
    } else if (word == "TURN" || word == "PLAY" || word == "TAKEBACK") {
        move_command(word, rest);
    } else if (word == "BOARD") {
        start(board_->width(), board_->height());
        in_board_block_ = true;
    } else {
        reply("UNKNOWN " + word);
    }
    return true;
}

}  // namespace teacher
