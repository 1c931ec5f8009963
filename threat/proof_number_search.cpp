#include "threat/proof_number_search.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "threat/threat_moves.h"

namespace threat {
namespace {

// Proof and disproof numbers saturate here: a settled node has one of them 0 and the other this.
constexpr uint32_t kInfinite = 1u << 30;
// 2^18 entries of 16 bytes (4 MiB), as the depth-first order's table.
constexpr size_t kTableEntries = size_t{1} << 18;
// The tree's size limit: 2^20 nodes of 16 bytes (16 MiB). Measured: a search of 300,000 leaves
// on the bench's and the games' positions keeps under 1.5 million children; past the limit the
// search ends as if out of budget.
constexpr size_t kMaxNodes = size_t{1} << 20;
// Keys apart from the depth-first table's salts (each search has its own table anyway).
constexpr uint64_t kWhiteAttackerSalt = 0x85ebca6b0d3c2f21ULL;
constexpr uint64_t kDefenderNodeSalt = 0x27d4eb2f165667c5ULL;
constexpr uint64_t kThreesSalt = 0x94d049bb133111ebULL;

// Proof number of a new node after an open three of the attacker, as a guess of the defender's
// answers to it (after a four there is one). Measured on the 1,960 searches of every position of
// the 60 bench games (tools/bench/data/game_positions.txt), both sides attacking, wins found at
// 5,000 / 20,000 nodes: 1: 424 / 461, 2: 427 / 469, 3: 435 / 470, 4: 436 / 486, 6: 427 / 479,
// 9: 427 / 472 (the depth-first order: 393 / 440).
constexpr uint32_t kThreeProof = 4;

uint32_t saturated_sum(uint32_t a, uint32_t b) { return std::min(a + b, kInfinite); }

}  // namespace

// All zero is an empty slot: the table comes from calloc, whose pages the system maps on first
// touch, so that a solver made for a short game or a bench position costs no 4 MiB of writes.
struct ProofNumberSearch::Entry {
    uint64_t key;
    int16_t depth;
    bool won;
    bool used;
};

void ProofNumberSearch::FreeTable::operator()(Entry* table) const { std::free(table); }

ProofNumberSearch::ProofNumberSearch() : table_(static_cast<Entry*>(std::calloc(kTableEntries, sizeof(Entry)))) {
    if (!table_) throw std::bad_alloc();
    // Reserved whole, so that a growing tree is never copied in the middle of a search (a copy of
    // 8 MiB took milliseconds that the turn's deadline did not see); the pages are only mapped
    // as the tree reaches them.
    nodes_.reserve(kMaxNodes);
}
ProofNumberSearch::~ProofNumberSearch() = default;

uint64_t ProofNumberSearch::key(uint64_t hash, bool attacker_to_move) const {
    return hash ^ salt_ ^ (attacker_to_move ? 0 : kDefenderNodeSalt);
}

void ProofNumberSearch::remember(uint64_t key, int depth, const Node& node) {
    Entry& entry = table_[key & (kTableEntries - 1)];
    entry.key = key;
    entry.depth = static_cast<int16_t>(depth);
    entry.won = node.proof == 0;
    entry.used = true;
}

void ProofNumberSearch::add_child(Board& board, Color mover, int move, bool child_attacker_to_move,
                                  int child_depth, uint32_t proof) {
    Node child;
    child.move = static_cast<int16_t>(move);
    child.proof = proof;
    const uint64_t child_key = key(board.hash() ^ stone_hash(move, mover), child_attacker_to_move);
    const Entry& entry = table_[child_key & (kTableEntries - 1)];
    if (entry.used && entry.key == child_key) {
        if (entry.won) {
            child.proof = 0;
            child.disproof = kInfinite;
        } else if (entry.depth >= child_depth) {
            child.proof = kInfinite;
            child.disproof = 0;
        }
    }
    nodes_.push_back(child);
}

void ProofNumberSearch::update(Node& node, bool attacker_to_move) const {
    const Node* child = nodes_.data() + node.first_child;
    const Node* end = child + node.child_count;
    if (attacker_to_move) {
        node.proof = kInfinite;
        node.disproof = 0;
        for (; child != end; ++child) {
            node.proof = std::min(node.proof, child->proof);
            node.disproof = saturated_sum(node.disproof, child->disproof);
        }
    } else {
        node.proof = 0;
        node.disproof = kInfinite;
        for (; child != end; ++child) {
            node.proof = saturated_sum(node.proof, child->proof);
            node.disproof = std::min(node.disproof, child->disproof);
        }
    }
}

void ProofNumberSearch::expand(uint32_t at, Board& board, Color attacker, bool attacker_to_move, int depth) {
    const Color defender = other(attacker);
    const uint32_t first = static_cast<uint32_t>(nodes_.size());
    auto settle = [&](bool won) {
        nodes_[at].proof = won ? 0 : kInfinite;
        nodes_[at].disproof = won ? kInfinite : 0;
    };
    if (attacker_to_move) {
        AttackerMoves& found = found_;
        attacker_moves(board, attacker, with_threes_, three_moves_, found);
        int winning = -1;
        if (found.five >= 0) {
            winning = found.five;
        } else if (found.defender_five_count >= 2 || depth <= 0) {
            settle(false);
            return;
        } else if (found.defender_five_count == 1) {
            // The block is forced; the attack goes on only if a threat of ours still stands.
            add_child(board, attacker, found.defender_five, false, depth - 1, 1);
        } else if (!found.fours.empty() && found.fours.front().priority >= kFlexFourPriority) {
            winning = found.fours.front().index;
        } else {
            for (const ThreatMove& four : found.fours) add_child(board, attacker, four.index, false, depth - 1, 1);
            for (const ThreatMove& three : found.threes) add_child(board, attacker, three.index, false, depth - 1, kThreeProof);
        }
        if (winning >= 0) {
            // Kept as a settled child so that the line can be read back.
            add_child(board, attacker, winning, false, depth - 1, 0);
            nodes_.back().proof = 0;
            nodes_.back().disproof = kInfinite;
        }
    } else {
        switch (defender_replies(board, attacker, with_threes_, true, replies_)) {
            case Threatened::kLost: settle(true); return;
            case Threatened::kNothing: settle(false); return;
            case Threatened::kAnswerable: break;
        }
        for (int reply : replies_) add_child(board, defender, reply, true, depth, 1);
    }
    Node& node = nodes_[at];
    node.first_child = first;
    node.child_count = static_cast<uint16_t>(nodes_.size() - first);
    if (node.child_count == 0) {
        settle(false);
        return;
    }
    update(node, attacker_to_move);
}

void ProofNumberSearch::prepare(Color attacker, bool with_threes, std::size_t three_moves) {
    aborted_ = false;
    with_threes_ = with_threes;
    three_moves_ = three_moves;
    salt_ = (attacker == kWhite ? kWhiteAttackerSalt : 0) ^ (with_threes ? kThreesSalt * (2 * three_moves + 1) : 0);
    nodes_.clear();
    nodes_.push_back(Node{});
}

template <class StopAfter>
void ProofNumberSearch::run(Board& board, Color attacker, bool root_attacker_to_move, int max_depth,
                            SearchBudget& budget, StopAfter stop_after) {
    struct Step {
        uint32_t node;
        int depth;
        bool attacker_to_move;
    };
    // The path from the root to the node where the next descent starts, with its stones on the
    // board. After an expansion the numbers are backed up only as far as they change: above that
    // point the path to the most proving leaf stays the same, so the next descent starts there.
    std::vector<Step> path{{0, max_depth, root_attacker_to_move}};
    while (nodes_[0].proof != 0 && nodes_[0].disproof != 0) {
        if (!budget.spend() || nodes_.size() + 400 > kMaxNodes) {
            aborted_ = true;
            break;
        }
        // Down to the most proving leaf: the child that sets the node's deciding number.
        while (nodes_[path.back().node].child_count > 0) {
            const Step step = path.back();
            const Node& node = nodes_[step.node];
            uint32_t best = node.first_child;
            for (uint32_t c = node.first_child; c < node.first_child + node.child_count; ++c) {
                if (step.attacker_to_move ? nodes_[c].proof < nodes_[best].proof
                                          : nodes_[c].disproof < nodes_[best].disproof) {
                    best = c;
                }
            }
            board.place(nodes_[best].move, step.attacker_to_move ? attacker : other(attacker));
            path.push_back({best, step.attacker_to_move ? step.depth - 1 : step.depth, !step.attacker_to_move});
        }
        const Step leaf = path.back();
        uint32_t proof = nodes_[leaf.node].proof;
        uint32_t disproof = nodes_[leaf.node].disproof;
        expand(leaf.node, board, attacker, leaf.attacker_to_move, leaf.depth);
        for (;;) {
            const Step step = path.back();
            Node& node = nodes_[step.node];
            if (step.node != leaf.node) {
                proof = node.proof;
                disproof = node.disproof;
                update(node, step.attacker_to_move);
            }
            const bool settled = node.proof == 0 || node.disproof == 0;
            if (path.size() == 1) break;
            if (settled) remember(key(board.hash(), step.attacker_to_move), step.depth, node);
            if (!settled && node.proof == proof && node.disproof == disproof) break;
            board.undo();
            path.pop_back();
        }
        // Only a change that reached the root can have settled one of its children.
        if (path.size() == 1 && stop_after()) break;
    }
    for (size_t i = 1; i < path.size(); ++i) board.undo();
}

int ProofNumberSearch::find_win(Board& board, Color attacker, bool with_threes, std::size_t three_moves,
                                SearchBudget& budget, std::vector<int>* line, int max_depth) {
    prepare(attacker, with_threes, three_moves);
    if (line) line->clear();
    run(board, attacker, true, max_depth, budget, [] { return false; });
    if (nodes_[0].proof == 0 || nodes_[0].disproof == 0) remember(key(board.hash(), true), max_depth, nodes_[0]);

    const Node& root = nodes_[0];
    if (root.proof != 0) return -1;
    if (line) {
        // One line of the proof: the attacker's winning threat, the defender's last answer.
        uint32_t at = 0;
        bool attacker_to_move = true;
        while (nodes_[at].child_count > 0) {
            const Node& node = nodes_[at];
            uint32_t next = node.first_child + node.child_count - 1;
            if (attacker_to_move) {
                for (uint32_t c = node.first_child; c < node.first_child + node.child_count; ++c) {
                    if (nodes_[c].proof == 0) {
                        next = c;
                        break;
                    }
                }
            }
            line->push_back(nodes_[next].move);
            at = next;
            attacker_to_move = !attacker_to_move;
        }
    }
    for (uint32_t c = root.first_child; c < root.first_child + root.child_count; ++c) {
        if (nodes_[c].proof == 0) return nodes_[c].move;
    }
    return -1;
}

}  // namespace threat

namespace threat {

void ProofNumberSearch::find_defences(Board& board, Color attacker, bool with_threes, std::size_t three_moves,
                                      const std::vector<int>& candidates, std::size_t safe_wanted,
                                      SearchBudget& budget, int max_depth, Defences& out) {
    out.safe.clear();
    out.refuted.clear();
    prepare(attacker, with_threes, three_moves);
    const Color defender = other(attacker);
    for (int cell : candidates) {
        if (board.empty(cell)) add_child(board, defender, cell, true, max_depth, 1);
    }
    Node& root = nodes_[0];
    root.first_child = 1;
    root.child_count = static_cast<uint16_t>(nodes_.size() - 1);
    if (root.child_count == 0) return;
    // A candidate found safe leaves the search (both its numbers infinite, so that no descent
    // picks it and the root's disproof is the others' best), and the search goes on for the next.
    std::vector<bool> taken(nodes_.size(), false);
    auto collect = [&] {
        for (uint32_t c = 1; c <= nodes_[0].child_count; ++c) {
            if (taken[c]) continue;
            if (nodes_[c].disproof == 0) {
                taken[c] = true;
                out.safe.push_back(nodes_[c].move);
                nodes_[c].proof = kInfinite;
                nodes_[c].disproof = kInfinite;
            } else if (nodes_[c].proof == 0) {
                taken[c] = true;
                int answer = -1;
                for (uint32_t g = nodes_[c].first_child; g < nodes_[c].first_child + nodes_[c].child_count; ++g) {
                    if (nodes_[g].proof == 0) {
                        answer = nodes_[g].move;
                        break;
                    }
                }
                out.refuted.emplace_back(nodes_[c].move, answer);
            }
        }
        update(nodes_[0], false);
        if (out.safe.size() >= safe_wanted) return true;
        // Every candidate settled: the root is out of play.
        return nodes_[0].disproof >= kInfinite;
    };
    if (!collect()) run(board, attacker, false, max_depth, budget, collect);
    // A candidate settled by the table on creation has no tree to read its refutation from:
    // the table settles it again at once.
    for (auto& [cell, answer] : out.refuted) {
        if (answer >= 0) continue;
        board.place(cell, defender);
        SearchBudget again(1000, SearchBudget::Clock::time_point::max());
        answer = find_win(board, attacker, with_threes, three_moves, again, nullptr, max_depth);
        board.undo();
    }
}

}  // namespace threat
