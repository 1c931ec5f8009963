#include "threat/threat_search.h"

#include "threat/patterns.h"
#include "threat/proof_number_search.h"
#include "threat/threat_moves.h"

#include <algorithm>

namespace threat {
namespace {

// 2^18 entries of 16 bytes: 4 MiB per solver, more than a move's search fills.
constexpr size_t kTableEntries = size_t{1} << 18;
// Salts that keep apart, in one table, the same stones seen with another attacker, another node
// kind (attacker or defender to move) or another search kind.
constexpr uint64_t kWhiteAttackerSalt = 0x9e3779b97f4a7c15ULL;
constexpr uint64_t kDefenderNodeSalt = 0xc2b2ae3d27d4eb4fULL;
constexpr uint64_t kThreesSalt = 0x165667b19e3779f9ULL;

}  // namespace

struct ThreatSolver::Entry {
    uint64_t key = 0;
    int16_t depth = -1;
    int16_t move = -1;  // the winning threat, for won attacker nodes
    bool won = false;
};

ThreatSolver::ThreatSolver() = default;
ThreatSolver::~ThreatSolver() = default;

std::vector<int> five_cells(const Board& board, Color color) {
    std::vector<int> cells;
    for_each_threat_cell(board, color, [&](int index) {
        if (cell_threat(board, color, index).makes_five()) cells.push_back(index);
    });
    return cells;
}

std::vector<int> flex_four_cells(const Board& board, Color color) {
    std::vector<int> cells;
    for_each_threat_cell(board, color, [&](int index) {
        if (cell_threat(board, color, index).makes_flex_four()) cells.push_back(index);
    });
    return cells;
}

void ThreatSolver::set_order(SearchOrder order) {
    if (order == SearchOrder::kDepthFirst) {
        proof_numbers_.reset();
    } else if (!proof_numbers_) {
        proof_numbers_ = std::make_unique<ProofNumberSearch>();
    }
}

uint64_t ThreatSolver::threes_salt() const {
    if (kind_ != ThreatKind::kFoursAndThrees) return 0;
    // Each width has keys of its own: a refutation by a narrow search is none for a wider one.
    return three_moves_ == kDefaultThreeMoves ? kThreesSalt : kThreesSalt * (2 * three_moves_ + 1);
}

int ThreatSolver::lookup(uint64_t key, int depth, int* move) const {
    const Entry& entry = table_[key & (kTableEntries - 1)];
    if (entry.key != key) return -1;
    if (entry.won) {
        *move = entry.move;
        return 1;  // a win found with less depth is a win with more
    }
    return entry.depth >= depth ? 0 : -1;
}

void ThreatSolver::store(uint64_t key, int depth, bool won, int move) {
    Entry& entry = table_[key & (kTableEntries - 1)];
    entry.key = key;
    entry.depth = static_cast<int16_t>(depth);
    entry.move = static_cast<int16_t>(move);
    entry.won = won;
}

void ThreatSolver::find_defences(Board& board, Color attacker, const std::vector<int>& candidates,
                                 size_t safe_wanted, SearchBudget* budget, ProofNumberSearch::Defences& out) {
    SearchBudget unlimited;
    // A depth-first solver lends no tree: one is made for the search (its table costs only the
    // pages it touches).
    std::unique_ptr<ProofNumberSearch> own;
    ProofNumberSearch* tree = proof_numbers_.get();
    if (!tree) {
        own = std::make_unique<ProofNumberSearch>();
        tree = own.get();
    }
    tree->find_defences(board, attacker, true, three_moves_, candidates, safe_wanted, budget ? *budget : unlimited,
                        kMaxVctDepth, out);
    aborted_ = tree->aborted();
}

int ThreatSolver::find_win(Board& board, Color attacker, ThreatKind kind, SearchBudget* budget,
                           std::vector<int>* line, int max_depth) {
    SearchBudget unlimited;
    budget_ = budget ? budget : &unlimited;
    kind_ = kind;
    aborted_ = false;
    if (max_depth < 0) max_depth = kind == ThreatKind::kFoursOnly ? kMaxVcfDepth : kMaxVctDepth;
    if (proof_numbers_ && kind == ThreatKind::kFoursAndThrees) {
        const int win = proof_numbers_->find_win(board, attacker, true, three_moves_, *budget_, line, max_depth);
        aborted_ = proof_numbers_->aborted();
        budget_ = nullptr;
        return win;
    }
    // Made on first use: a solver kept for best-first searches may never need it.
    if (!table_) table_ = std::make_unique<Entry[]>(kTableEntries);
    std::vector<int> reversed;
    line_ = &reversed;

    // The first move is chosen here rather than in attacker_node so that it can be returned.
    int first_move = -1;
    const std::vector<int> own_fives = five_cells(board, attacker);
    if (!own_fives.empty()) {
        first_move = own_fives.front();
        reversed.push_back(first_move);
    } else {
        const std::vector<int> defender_fives = five_cells(board, other(attacker));
        if (defender_fives.size() == 1) {
            board.place(defender_fives.front(), attacker);
            if (defender_node(board, attacker, max_depth - 1)) first_move = defender_fives.front();
            board.undo();
            if (first_move >= 0) reversed.push_back(first_move);
        } else if (defender_fives.empty()) {
            // Deepening: short wins are found fast, and the table carries the shallow refutations
            // into the deeper passes. attacker_node pushes its winning move last.
            const int first_depth = kind == ThreatKind::kFoursOnly ? max_depth : std::min(max_depth, 3);
            for (int depth = first_depth; depth <= max_depth && first_move < 0 && !aborted_; depth += 2) {
                reversed.clear();
                if (attacker_node(board, attacker, depth) && !reversed.empty()) first_move = reversed.back();
                if (depth < max_depth && depth + 2 > max_depth) depth = max_depth - 2;
            }
        }
    }
    budget_ = nullptr;
    line_ = nullptr;
    if (line) {
        line->assign(reversed.rbegin(), reversed.rend());
        if (first_move < 0) line->clear();
    }
    return first_move;
}

ThreatSolver::PlyScratch& ThreatSolver::enter_ply() {
    if (ply_ == scratch_.size()) scratch_.emplace_back();
    return scratch_[ply_++];
}

namespace {
// Leaves a ply of the depth-first search on every return path.
struct PlyExit {
    size_t& ply;
    ~PlyExit() { --ply; }
};
}  // namespace

bool ThreatSolver::attacker_node(Board& board, Color attacker, int depth) {
    if (!budget_->spend()) {
        aborted_ = true;
        return false;
    }
    const uint64_t key = board.hash() ^ (attacker == kWhite ? kWhiteAttackerSalt : 0) ^
                         threes_salt();
    int known_move = -1;
    if (const int known = lookup(key, depth, &known_move); known >= 0) {
        // A remembered win shows only its first move; the caller's line stops there.
        if (known == 1) line_->push_back(known_move);
        return known == 1;
    }

    // 1. One pass over the cells near the stones: our five, the defender's fives, our threats.
    PlyScratch& scratch = enter_ply();
    const PlyExit exit{ply_};
    AttackerMoves& found = scratch.found;
    attacker_moves(board, attacker, kind_ == ThreatKind::kFoursAndThrees, three_moves_, found);
    if (found.five >= 0) {
        line_->push_back(found.five);
        return true;
    }

    // 2. A defender four must be blocked (two cannot be), and the attack goes on only if some
    //    threat of ours still stands after the block.
    bool won = false;
    if (found.defender_five_count > 0) {
        if (found.defender_five_count == 1 && depth > 0) {
            board.place(found.defender_five, attacker);
            won = defender_node(board, attacker, depth - 1);
            board.undo();
            if (won) line_->push_back(found.defender_five);
        }
        if (!aborted_) store(key, depth, won, found.defender_five);
        return won;
    }

    // 3. Our threats, the most promising first: fours, then (in VCT) open threes.
    if (depth <= 0) return false;
    if (!found.fours.empty() && found.fours.front().priority >= kFlexFourPriority) {
        line_->push_back(found.fours.front().index);
        store(key, depth, true, found.fours.front().index);
        return true;
    }
    std::vector<ThreatMove>& moves = scratch.moves;
    moves.assign(found.fours.begin(), found.fours.end());
    moves.insert(moves.end(), found.threes.begin(), found.threes.end());

    // 4. Each threat against every defence.
    int winning_move = -1;
    for (const ThreatMove& move : moves) {
        const size_t mark = line_->size();
        board.place(move.index, attacker);
        won = defender_node(board, attacker, depth - 1);
        board.undo();
        if (won) {
            line_->push_back(move.index);
            winning_move = move.index;
            break;
        }
        line_->resize(mark);
        if (aborted_) return false;
    }
    if (!aborted_) store(key, depth, won, winning_move);
    return won;
}

bool ThreatSolver::defender_node(Board& board, Color attacker, int depth) {
    if (!budget_->spend()) {
        aborted_ = true;
        return false;
    }
    const Color defender = other(attacker);
    const uint64_t key = board.hash() ^ (attacker == kWhite ? kWhiteAttackerSalt : 0) ^
                         kDefenderNodeSalt ^ threes_salt();
    int unused_move = -1;
    if (const int known = lookup(key, depth, &unused_move); known >= 0) return known == 1;

    // 1. What the attacker threatens: a five (one cell to block) or, in VCT, an open four.
    PlyScratch& scratch = enter_ply();
    const PlyExit exit{ply_};
    std::vector<int>& replies = scratch.replies;
    switch (defender_replies(board, attacker, kind_ == ThreatKind::kFoursAndThrees, false, replies)) {
        case Threatened::kLost: return true;
        case Threatened::kNothing: return false;
        case Threatened::kAnswerable: break;
    }

    // 2. The attack wins only if it wins against every reply.
    bool won = true;
    for (int reply : replies) {
        const size_t mark = line_->size();
        board.place(reply, defender);
        const bool reply_loses = attacker_node(board, attacker, depth);
        board.undo();
        if (!reply_loses) {
            won = false;
            line_->resize(mark);
            break;
        }
        if (reply != replies.back()) line_->resize(mark);  // keep one line: the last reply's
        else line_->push_back(reply);
    }
    if (aborted_) return false;
    store(key, depth, won, -1);
    return won;
}

}  // namespace threat
