// The search of all the defender's moves in one best-first tree must say of each move what a
// search after that move alone says, and stop as soon as it has found the defences asked for.
#include "threat/patterns.h"
#include "threat/threat_search.h"
#include "tools/tactics/judge.h"
#include "tools/tactics/position_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace threat;

std::vector<Board> suite_boards() {
    std::vector<Board> boards;
    // The tactics suite: wins by fours, wins in one, defences against fours and open threes.
    for (const char* path : {ORVALIS_TEST_DATA "/tactics/positions.txt"}) {
        std::ifstream in(path);
        std::string error;
        auto read = tactics::read_positions(in, &error);
        EXPECT_TRUE(read) << path << ": " << error;
        if (read) {
            for (const tactics::Position& position : *read) boards.push_back(tactics::board_of(position));
        }
    }
    return boards;
}

std::vector<int> cells_near(const Board& board) {
    std::vector<int> cells;
    const Board::Area area = board.area_near_stones(2);
    for (int y = area.y0; y <= area.y1; ++y) {
        for (int x = area.x0; x <= area.x1; ++x) {
            if (board.empty(to_index(x, y))) cells.push_back(to_index(x, y));
        }
    }
    return cells;
}

bool contains(const std::vector<int>& cells, int cell) {
    return std::find(cells.begin(), cells.end(), cell) != cells.end();
}

TEST(ThreatDefences, TheJointSearchJudgesEachMoveAsASearchAfterItAlone) {
    ThreatSolver alone;
    alone.set_order(SearchOrder::kProofNumber);
    ThreatSolver joint;
    int threatened = 0, settled = 0, judged_safe = 0, judged_lost = 0, stopped_early = 0;
    for (Board& board : suite_boards()) {
        const uint64_t hash = board.hash();
        for (Color defender : {kBlack, kWhite}) {
            const Color attacker = other(defender);
            // Only positions where the attacker would win if it moved now: there the answer matters.
            SearchBudget probe(20000, SearchBudget::Clock::time_point::max());
            if (alone.find_win(board, attacker, ThreatKind::kFoursAndThrees, &probe) < 0) continue;
            ++threatened;
            const std::vector<int> cells = cells_near(board);
            std::vector<int> safe, lost;
            for (int cell : cells) {
                board.place(cell, defender);
                SearchBudget budget(4000, SearchBudget::Clock::time_point::max());
                const int win = alone.find_win(board, attacker, ThreatKind::kFoursAndThrees, &budget);
                if (win >= 0) lost.push_back(cell);
                if (win < 0 && !alone.aborted()) safe.push_back(cell);
                board.undo();
            }

            ProofNumberSearch::Defences all;
            SearchBudget budget(50000, SearchBudget::Clock::time_point::max());
            joint.find_defences(board, attacker, cells, cells.size(), &budget, all);
            ASSERT_EQ(board.hash(), hash);
            for (int cell : all.safe) {
                EXPECT_FALSE(contains(lost, cell)) << "held, yet lost alone: " << cell;
                judged_safe += contains(safe, cell);
            }
            for (const auto& [cell, answer] : all.refuted) {
                EXPECT_FALSE(contains(safe, cell)) << "refuted, yet held alone: " << cell;
                ASSERT_TRUE(board.empty(answer));
                ASSERT_NE(answer, cell);
                // The answer given is one of the attacker's threats (a five, a four or an open
                // three), or the block of the defender's four.
                board.place(cell, defender);
                const CellThreat threat = cell_threat(board, attacker, answer);
                const bool block = contains(five_cells(board, defender), answer);
                board.undo();
                EXPECT_TRUE(threat.makes_five() || threat.makes_four() || threat.open_threes > 0 || block)
                    << cell << " answered at " << answer;
                judged_lost += contains(lost, cell);
            }
            if (!joint.aborted()) {
                ++settled;
                // Settled: every move is in one list or the other, once.
                EXPECT_EQ(all.safe.size() + all.refuted.size(), cells.size());
                for (int cell : safe) EXPECT_TRUE(contains(all.safe, cell)) << cell;
            }

            // Asked for one defence, it stops at the first.
            ProofNumberSearch::Defences one;
            SearchBudget short_budget(50000, SearchBudget::Clock::time_point::max());
            joint.find_defences(board, attacker, cells, 1, &short_budget, one);
            EXPECT_LE(one.safe.size(), 1u);
            if (!one.safe.empty()) {
                EXPECT_FALSE(contains(lost, one.safe.front()));
                stopped_early += short_budget.nodes() < budget.nodes();
            }
        }
    }
    // Enough threatened positions, with moves of both kinds judged the same way.
    // (Measured: 102 threatened, 62 settled, 288 and 12,464 moves judged, 79 early stops.)
    EXPECT_GT(threatened, 80);
    EXPECT_GT(settled, 40);
    EXPECT_GT(judged_safe, 150);
    EXPECT_GT(judged_lost, 8000);
    EXPECT_GT(stopped_early, 40);
}

}  // namespace
