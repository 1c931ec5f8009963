#include "teacher/brain.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>

namespace teacher {
namespace {

// Part of a move's allowance actually used: the rest covers process scheduling and pipes.
constexpr int64_t kUsePercent = 80;
// A move never plans on more than this share of the match time left.
constexpr int64_t kMovesLeftEstimate = 25;
// Thinking stops this long before the reckoned end, and never plans below the floor.
constexpr int64_t kMinimumMoveMs = 5;
// Node cap per move; far above what 100 ms allows, so time is what binds in matches.
constexpr int64_t kMoveNodeCap = 50'000'000;

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

void Brain::reply(const std::string& line) { out_ << line << '\n' << std::flush; }

bool Brain::parse_point(const std::string& text, int* x, int* y) const {
    char comma = 0;
    std::istringstream in(text);
    if (!(in >> *x >> comma >> *y) || comma != ',') return false;
    return board_ && board_->on_board(*x, *y);
}

void Brain::start(int width, int height) {
    board_ = std::make_unique<Board>(width, height);
    stones_.clear();
    colors_.clear();
}

void Brain::put(int x, int y, Color color) {
    const int index = to_index(x, y);
    if (!board_->empty(index)) return;
    board_->place(index, color);
    stones_.push_back(index);
    colors_.push_back(color);
}

void Brain::remove(int x, int y) {
    const int index = to_index(x, y);
    const auto it = std::find(stones_.begin(), stones_.end(), index);
    if (it == stones_.end()) return;
    const size_t at = static_cast<size_t>(it - stones_.begin());
    stones_.erase(it);
    colors_.erase(colors_.begin() + static_cast<std::ptrdiff_t>(at));
    // The board can only take back its last stone: rebuild it from the remaining ones.
    const int width = board_->width();
    const int height = board_->height();
    board_ = std::make_unique<Board>(width, height);
    for (size_t i = 0; i < stones_.size(); ++i) board_->place(stones_[i], colors_[i]);
}

int64_t Brain::move_time_ms() const {
    int64_t allowance = timeout_turn_ms_ > 0 ? timeout_turn_ms_ : 1000;
    if (time_left_ms_ >= 0 && timeout_match_ms_ > 0) {
        allowance = std::min(allowance, time_left_ms_ / kMovesLeftEstimate);
    }
    return std::max(kMinimumMoveMs, allowance * kUsePercent / 100);
}

void Brain::think_and_reply() {
    const std::vector<int> empty = board_->empty_cells();
    if (empty.empty()) {
        reply("ERROR the board is full");
        return;
    }
    ThinkLimits limits;
    limits.max_nodes = kMoveNodeCap;
    limits.deadline = SearchBudget::Clock::now() + std::chrono::milliseconds(move_time_ms());
    const MoveChoice choice = teacher_.choose(*board_, kBlack, limits);
    const int x = column_of(choice.index);
    const int y = row_of(choice.index);
    put(x, y, kBlack);
    reply(std::to_string(x) + "," + std::to_string(y));
}

bool Brain::handle_line(const std::string& raw) {
    const std::string line = trim(raw);
    if (line.empty()) return true;
    const std::string word = upper(line.substr(0, line.find(' ')));
    const std::string rest = line.find(' ') == std::string::npos ? "" : trim(line.substr(line.find(' ')));

    if (in_board_block_) {
        if (word == "DONE") {
            in_board_block_ = false;
            think_and_reply();
            return true;
        }
        int x = 0, y = 0, field = 0;
        char c1 = 0, c2 = 0;
        std::istringstream in(line);
        if (in >> x >> c1 >> y >> c2 >> field && board_->on_board(x, y)) {
            put(x, y, field == 1 ? kBlack : kWhite);
        } else {
            reply("ERROR bad BOARD line");
        }
        return true;
    }

    if (word == "START" || word == "RECTSTART") {
        int width = 0, height = 0;
        std::istringstream in(rest);
        char comma = 0;
        bool ok = static_cast<bool>(in >> width);
        height = width;
        if (ok && word == "RECTSTART") ok = static_cast<bool>(in >> comma >> height) && comma == ',';
        if (!ok || width < 5 || height < 5 || width > kMaxSide || height > kMaxSide) {
            reply("ERROR unsupported board size (5 to 20 only)");
        } else {
            start(width, height);
            reply("OK");
        }
    } else if (word == "RESTART") {
        if (!board_) start(kMaxSide, kMaxSide);
        start(board_->width(), board_->height());
        reply("OK");
    } else if (word == "INFO") {
        std::istringstream in(rest);
        std::string key;
        int64_t value = 0;
        in >> key;
        key = upper(key);
        if (in >> value) {
            if (key == "TIMEOUT_TURN") timeout_turn_ms_ = value;
            if (key == "TIMEOUT_MATCH") timeout_match_ms_ = value;
            if (key == "TIME_LEFT") time_left_ms_ = value;
        }
    } else if (word == "ABOUT") {
        reply("name=\"orvalis-teacher\", version=\"1.0\", author=\"Orvalis developers\", country=\"-\"");
    } else if (word == "END") {
        return false;
    } else if (!board_ && (word == "BEGIN" || word == "TURN" || word == "BOARD" || word == "PLAY" ||
                           word == "TAKEBACK")) {
        reply("ERROR no game started");
    } else if (word == "BEGIN") {
        think_and_reply();
    } else if (word == "TURN" || word == "PLAY" || word == "TAKEBACK") {
        int x = 0, y = 0;
        if (!parse_point(rest, &x, &y)) {
            reply("ERROR bad coordinates");
        } else if (word == "TAKEBACK") {
            remove(x, y);
            reply("OK");
        } else if (!board_->empty(to_index(x, y))) {
            reply("ERROR occupied cell");
        } else if (word == "PLAY") {
            put(x, y, kBlack);
            reply(std::to_string(x) + "," + std::to_string(y));
        } else {
            put(x, y, kWhite);
            think_and_reply();
        }
    } else if (word == "BOARD") {
        start(board_->width(), board_->height());
        in_board_block_ = true;
    } else {
        reply("UNKNOWN " + word);
    }
    return true;
}

}  // namespace teacher
