// orvalis-tactics-gen: writes the tactics suite (tests/data/tactics/positions.txt) from games of
// the teacher with slips, picking positions of four kinds and computing their answers with the
// threat solver. The seed fixes the file: rerun with the same seed to reproduce it.
//
//   orvalis-tactics-gen [--seed N] [--out FILE] [--max-games N]
#include "threat/patterns.h"
#include "tools/tactics/game_source.h"
#include "tools/tactics/hand_positions.h"
#include "tools/tactics/judge.h"
#include "tools/tactics/position_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>

namespace tactics {
namespace {

using threat::Board;
using threat::Color;

// The node budget of each solver question: large beside the few thousand nodes a typical
// answer takes, so that an answer the budget cuts short (the position is then dropped) is rare.
constexpr int64_t kNodesPerCheck = 2'000'000;
// A defence test with more passing moves than this tests little.
constexpr size_t kMaxDefences = 10;
// Positions before this many stones are openings, with nothing forced yet.
constexpr int kMinStones = 8;
// Every fourth game is played on 15 x 15, the other size managers commonly use.
constexpr int kSmallBoardEvery = 4;

// How many positions of each kind; vcf by proof length (the last bucket holds 7 and more).
constexpr int kLongVcf = 7;
constexpr std::array<int, kLongVcf + 1> kVcfByLength = {0, 3, 3, 3, 3, 4, 4, 10};
constexpr int kGameWins = 6;  // wins in one from games, beside the hand-made ones
constexpr int kDefendVcf = 20;
constexpr int kDefendThree = 18;
// At most this share (in percent) of a kind on 20 x 20, so that 15 x 15 gets some of each.
constexpr int kMaxLargeBoardPercent = 80;

struct Options {
    uint64_t seed = 13;
    std::string out;
    int max_games = 3000;
};

class Generator {
public:
    explicit Generator(const Options& options) : options_(options), games_(options.seed), judge_(kNodesPerCheck) {}

    std::vector<Position> run();

private:
    Options options_;
    GameSource games_;
    Judge judge_;
    std::map<Category, std::vector<Position>> chosen_;
    std::set<uint64_t> seen_;  // board hashes already taken, so no position comes twice

    int wanted(Category category) const;
    bool room_for(const Position& p) const;
    bool full() const;
    void take_from_game(const std::vector<int>& moves, int side);
    std::optional<Position> classify(Board& board, const std::vector<int>& moves, int side);
    std::optional<Position> win_in_one_after(Board& board, std::vector<int> moves, int side);
};

int Generator::wanted(Category category) const {
    switch (category) {
        case Category::kVcf: {
            int total = 0;
            for (int n : kVcfByLength) total += n;
            return total;
        }
        case Category::kWinInOne: return kGameWins;
        case Category::kDefendVcf: return kDefendVcf;
        case Category::kDefendThree: return kDefendThree;
    }
    return 0;
}

bool Generator::room_for(const Position& p) const {
    const auto it = chosen_.find(p.category);
    const std::vector<Position> none;
    const std::vector<Position>& taken = it == chosen_.end() ? none : it->second;
    if (static_cast<int>(taken.size()) >= wanted(p.category)) return false;
    const auto large = std::count_if(taken.begin(), taken.end(), [](const Position& q) { return q.width == 20; });
    if (p.width == 20 && large * 100 >= wanted(p.category) * kMaxLargeBoardPercent) return false;
    if (p.category == Category::kVcf) {
        const int bucket = std::min(p.proof_length, kLongVcf);
        const auto same = std::count_if(taken.begin(), taken.end(),
                                        [&](const Position& q) { return std::min(q.proof_length, kLongVcf) == bucket; });
        if (same >= kVcfByLength[bucket]) return false;
    }
    return true;
}

bool Generator::full() const {
    for (Category c : {Category::kVcf, Category::kWinInOne, Category::kDefendVcf, Category::kDefendThree}) {
        const auto it = chosen_.find(c);
        if (it == chosen_.end() || static_cast<int>(it->second.size()) < wanted(c)) return false;
    }
    return true;
}

Position position_from(const std::vector<int>& moves, int side, Category category) {
    Position p;
    p.category = category;
    p.width = p.height = side;
    for (int index : moves) p.moves.push_back(point_of(index));
    return p;
}

std::vector<Point> points_of(std::vector<int> cells) {
    std::sort(cells.begin(), cells.end());  // padded indices sort row by row
    std::vector<Point> points;
    for (int cell : cells) points.push_back(point_of(cell));
    return points;
}

// The position after `moves`, if it is one of the four kinds and its answers are certain.
std::optional<Position> Generator::classify(Board& board, const std::vector<int>& moves, int side) {
    const Color me = board.side_to_move();
    const Color opponent = threat::other(me);
    const std::vector<int> my_fives = threat::five_cells(board, me);
    const std::vector<int> their_fives = threat::five_cells(board, opponent);
    if (!my_fives.empty()) {
        if (their_fives.empty()) return std::nullopt;  // a plain five: nothing to test
        Position p = position_from(moves, side, Category::kWinInOne);
        p.answers = points_of(my_fives);
        return p;
    }
    if (!their_fives.empty()) return std::nullopt;  // a forced block

    const Verdict mine = judge_.has_vcf(board, me);
    if (mine == Verdict::kUnknown) return std::nullopt;
    if (mine == Verdict::kYes) {
        Position p = position_from(moves, side, Category::kVcf);
        p.proof_length = judge_.shortest_vcf(board, me);
        if (p.proof_length <= 0 || !room_for(p)) return std::nullopt;
        std::vector<int> answers;
        for (int cell : board.empty_cells()) {
            const Verdict v = judge_.keeps_vcf(board, me, cell);
            if (v == Verdict::kUnknown) return std::nullopt;
            if (v == Verdict::kYes) answers.push_back(cell);
        }
        if (answers.empty()) return std::nullopt;
        p.answers = points_of(answers);
        return p;
    }

    if (judge_.has_vcf(board, opponent) != Verdict::kYes) return std::nullopt;
    const Category category =
        threat::flex_four_cells(board, opponent).empty() ? Category::kDefendVcf : Category::kDefendThree;
    Position p = position_from(moves, side, category);
    if (!room_for(p)) return std::nullopt;
    std::vector<int> answers;
    for (int cell : board.empty_cells()) {
        const Verdict v = judge_.defends(board, me, cell);
        if (v == Verdict::kUnknown) return std::nullopt;
        if (v == Verdict::kYes) answers.push_back(cell);
        if (answers.size() > kMaxDefences) return std::nullopt;
    }
    if (answers.empty()) return std::nullopt;  // lost whatever it plays: not a test
    p.answers = points_of(answers);
    return p;
}

// The side to move makes a four, and the opponent answers with a four of its own instead of the
// block: the side to move then has a five and faces one.
std::optional<Position> Generator::win_in_one_after(Board& board, std::vector<int> moves, int side) {
    const Color me = board.side_to_move();
    const Color opponent = threat::other(me);
    if (!threat::five_cells(board, me).empty() || !threat::five_cells(board, opponent).empty()) return std::nullopt;
    auto fours_of = [&](Color color) {
        std::vector<int> cells;
        for (int cell : board.empty_cells()) {
            const threat::CellThreat t = threat::cell_threat(board, color, cell);
            if (t.makes_four() && !t.makes_five()) cells.push_back(cell);
        }
        return cells;
    };
    const std::vector<int> mine = fours_of(me);
    if (mine.empty()) return std::nullopt;
    const int four = mine[games_.below(static_cast<int>(mine.size()))];
    board.place(four, me);
    const std::vector<int> theirs = fours_of(opponent);
    std::optional<Position> found;
    if (!theirs.empty()) {
        const int reply = theirs[games_.below(static_cast<int>(theirs.size()))];
        board.place(reply, opponent);
        const std::vector<int> fives = threat::five_cells(board, me);
        if (!fives.empty() && !has_five(board)) {
            moves.push_back(four);
            moves.push_back(reply);
            found = position_from(moves, side, Category::kWinInOne);
            found->answers = points_of(fives);
        }
        board.undo();
    }
    board.undo();
    return found;
}

void Generator::take_from_game(const std::vector<int>& moves, int side) {
    // Positions in a random order, at most one of each kind from a game: the positions of one
    // game are alike.
    std::vector<int> plies;
    for (int n = kMinStones; n < static_cast<int>(moves.size()); ++n) plies.push_back(n);
    for (size_t i = plies.size(); i > 1; --i) std::swap(plies[i - 1], plies[games_.below(static_cast<int>(i))]);
    std::set<Category> taken;
    bool tried_win_in_one = false;
    for (int n : plies) {
        std::vector<int> prefix(moves.begin(), moves.begin() + n);
        Board board(side, side);
        for (size_t i = 0; i < prefix.size(); ++i) board.place(prefix[i], i % 2 == 0 ? threat::kBlack : threat::kWhite);
        if (seen_.count(board.hash())) continue;
        std::optional<Position> p = classify(board, prefix, side);
        if (!p && !tried_win_in_one) {
            tried_win_in_one = true;
            p = win_in_one_after(board, prefix, side);
        }
        if (!p || taken.count(p->category) || !room_for(*p)) continue;
        taken.insert(p->category);
        seen_.insert(board.hash());
        chosen_[p->category].push_back(*p);
    }
}

std::vector<Position> Generator::run() {
    for (int game = 0; game < options_.max_games && !full(); ++game) {
        GameOptions options;
        options.side = game % kSmallBoardEvery == kSmallBoardEvery - 1 ? 15 : 20;
        take_from_game(games_.play(options), options.side);
        if (game % 20 == 19) {
            std::fprintf(stderr, "%d games: vcf %zu, win-in-one %zu, defend-vcf %zu, defend-three %zu\n", game + 1,
                         chosen_[Category::kVcf].size(), chosen_[Category::kWinInOne].size(),
                         chosen_[Category::kDefendVcf].size(), chosen_[Category::kDefendThree].size());
        }
    }
    std::vector<Position> all;
    std::sort(chosen_[Category::kVcf].begin(), chosen_[Category::kVcf].end(),
              [](const Position& a, const Position& b) { return a.proof_length < b.proof_length; });
    for (Category c : {Category::kVcf, Category::kWinInOne, Category::kDefendVcf, Category::kDefendThree}) {
        std::vector<Position> list = chosen_[c];
        if (c == Category::kWinInOne) {
            std::vector<Position> hand = hand_made_wins();
            list.insert(list.begin(), hand.begin(), hand.end());
        }
        for (size_t i = 0; i < list.size(); ++i) {
            char id[48];
            std::snprintf(id, sizeof id, "%s-%02zu", category_name(c), i + 1);
            list[i].id = id;
            all.push_back(list[i]);
        }
    }
    return all;
}

}  // namespace
}  // namespace tactics

int main(int argc, char** argv) {
    tactics::Options options;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--seed") && has_value) {
            options.seed = std::stoull(argv[++i]);
        } else if (!std::strcmp(argv[i], "--out") && has_value) {
            options.out = argv[++i];
        } else if (!std::strcmp(argv[i], "--max-games") && has_value) {
            options.max_games = std::stoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seed N] [--out FILE] [--max-games N]\n", argv[0]);
            return 2;
        }
    }
    const std::vector<tactics::Position> positions = tactics::Generator(options).run();
    std::ofstream file;
    if (!options.out.empty()) file.open(options.out);
    std::ostream& out = options.out.empty() ? std::cout : file;
    out << "# Orvalis tactics suite: " << positions.size() << " positions, written by\n"
        << "# orvalis-tactics-gen --seed " << options.seed << " (tools/tactics/README.md describes the format).\n\n";
    for (const tactics::Position& p : positions) tactics::write_position(out, p);
    return out ? 0 : 1;
}
