// The threat-aware search: forced expansions, exact proofs, the root solver,
// and the move choice around them (and the plain mode's five).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "search/search_constants.h"
#include "search/search_tree.h"
#include "search/select_edge.h"
#include "search/threat_constants.h"
#include "search/threat_context.h"
#include "search_test_support.h"
#include "threat/threat_search.h"

namespace {

using search::search_mode;
using search::search_tree;
using search_testing::scripted_evaluator;

// Engine boards drawn as rows of text (row 0 first): 'X' is the side to
// move, 'O' the opponent; the side to move is black.
play::board_state board_of(const std::vector<std::string>& rows) {
    play::board_state board;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        for (int column = 0; column < static_cast<int>(rows[row].size()); ++column) {
            const char c = rows[row][column];
            if (c == 'X') play::put_stone(board, play::black, play::make_packed_move(row, column));
            if (c == 'O') play::put_stone(board, play::white, play::make_packed_move(row, column));
        }
    }
    return board;
}

std::vector<play::packed_move> edge_moves(const search::tree_node& node) {
    std::vector<play::packed_move> moves;
    for (const search::tree_edge& edge : node.children) moves.push_back(edge.move);
    std::sort(moves.begin(), moves.end());
    return moves;
}

// (x, y) as the manager writes it.
play::packed_move xy(int x, int y) { return play::make_packed_move(y, x); }

std::vector<play::packed_move> sorted(std::vector<play::packed_move> moves) {
    std::sort(moves.begin(), moves.end());
    return moves;
}

class ThreatSearch : public ::testing::Test {
protected:
    void SetUp() override { search_testing::clear_process_cache(); }

    std::unique_ptr<search_tree> tree_for(const play::board_state& board, search_mode mode = search_mode::threat_aware,
                                          int side = 20) {
        auto tree = std::make_unique<search_tree>(search::make_root(board, play::black), &evaluator, side, side, mode);
        tree->plan_think(1'000'000);  // node caps only: the same result on any machine
        return tree;
    }

    scripted_evaluator evaluator;
};

TEST_F(ThreatSearch, ForcedPositionsExpandToTheirAnswersOnly) {
    // The opponent's four: its block is the only move.
    auto four = tree_for(board_of({"", "", "..XX", "", "XOOOO"}));
    four->run_playouts(2);
    ASSERT_TRUE(four->root().expanded);
    EXPECT_EQ(edge_moves(four->root()), std::vector<play::packed_move>{xy(5, 4)});
    EXPECT_TRUE(four->root().complete);

    // A broken open three: its gap, its two far ends, and our own fours.
    auto three = tree_for(board_of({"", "", "", "", "", ".....OO.O....", "", "", "", "", ".OXXX"}));
    three->run_playouts(2);
    EXPECT_EQ(edge_moves(three->root()), sorted({xy(4, 5), xy(7, 5), xy(9, 5), xy(5, 10), xy(6, 10)}));
    for (const search::tree_edge& edge : three->root().children) EXPECT_GE(edge.prior, search::forced_prior_floor);

    // Deeper in the tree too: after any move that leaves the four standing
    // the reply is forced, and the playouts find the five.
    auto deep = tree_for(board_of({"", "", "", "", "", ".....XXX", "", "", "", "", "", "", "", "", "OO"}));
    deep->run_playouts(200);
    EXPECT_EQ(deep->root().proven, 1);
    const play::packed_move win = deep->certain_move();
    EXPECT_TRUE(win == xy(4, 5) || win == xy(8, 5)) << play::packed_column(win) << "," << play::packed_row(win);
}

TEST_F(ThreatSearch, AFiveIsPlayedInBothModesWhateverTheNetworkThinks) {
    // Our four and the opponent's four; the network gives the five no weight
    // and loves the block.
    const play::board_state board = board_of({"X", "X", "X", "X", "", "", "", "", "", "O", "O", "O", "O"});
    for (search_mode mode : {search_mode::plain, search_mode::threat_aware}) {
        search_testing::clear_process_cache();
        evaluator.weights.fill(1.0f);
        evaluator.weights[play::cell_index(4, 0)] = 0.0f;
        evaluator.weights[play::cell_index(8, 0)] = 1000.0f;
        auto tree = tree_for(board, mode, 15);
        tree->run_playouts(40);
        float share = 0.0f;
        std::int32_t visits = 0;
        EXPECT_EQ(tree->choose_move(0.0, &share, &visits), xy(0, 4)) << search::mode_name(mode);
        EXPECT_EQ(share, 1.0f);
        EXPECT_EQ(visits, search::certain_visits);
        EXPECT_EQ(tree->choose_and_advance(1.0), xy(0, 4));
        EXPECT_TRUE(tree->root().board.over);
    }
}

TEST_F(ThreatSearch, ProofsBackUpExactlyAndOnlyFromCompleteNodes) {
    auto tree = tree_for(board_of({"", "", "", "", "", "", "", "", "", "", ".........X"}));
    search::tree_node& root = tree->root();
    root.evaluation = std::make_unique<float[]>(eval::evaluation_size);
    root.expand_cells({play::cell_index(3, 3), play::cell_index(4, 4)}, 0.0f);
    ASSERT_TRUE(root.complete);
    for (search::tree_edge& edge : root.children) edge.create_child();
    search::tree_node& first = *root.children[0].child;
    search::tree_node& second = *root.children[1].child;

    search::prove(first, 1);  // the opponent wins after our first move
    EXPECT_EQ(root.proven, 0);
    search::prove(second, 1);
    EXPECT_EQ(root.proven, -1);
    EXPECT_EQ(root.value, -1.0f);

    // One child lost for the opponent is a win for us, with its move.
    auto other = tree_for(board_of({"", "", "", "", "", "", "", "", "", "", ".........X"}));
    search::tree_node& other_root = other->root();
    other_root.edge_for(xy(2, 2), 0.5f);
    other_root.edge_for(xy(6, 6), 0.5f);  // may move the first edge: hold no reference across it
    other_root.children[0].create_child();
    search::prove(*other_root.children[0].child, -1);
    EXPECT_EQ(other_root.proven, 1);
    EXPECT_EQ(other_root.proof_move, xy(2, 2));
    EXPECT_EQ(other->certain_move(), xy(2, 2));

    // A node that may have more moves than its edges is not lost when they are.
    auto partial = tree_for(board_of({"", "", "", "", "", "", "", "", "", "", ".........X"}));
    search::tree_node& partial_root = partial->root();
    partial_root.edge_for(xy(1, 1), 1.0f).create_child();
    ASSERT_FALSE(partial_root.complete);
    search::prove(*partial_root.children[0].child, 1);
    EXPECT_EQ(partial_root.proven, 0);
}

TEST_F(ThreatSearch, AMoveProvenLostIsNeverChosenWhileAnotherStands) {
    // The opponent threatens (4,4): a four on row 4 and an open three on
    // column 4. The network loves a far corner and thinks everything wins.
    // Our stones at (5,2), (3,3) and (2,5) break the opponent's diagonals:
    // without them it wins by threes after any move.
    const play::board_state board = board_of({"", "", "....OX", "...XO", "XOOO", "..X", "", "", "", "", "", "", "", "", "", "", "", "", "", "........X"});
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 19)] = 100.0f;
    evaluator.weights[play::cell_index(0, 19)] = 100.0f;
    evaluator.value = 0.9f;
    auto tree = tree_for(board);
    tree->run_playouts(300);
    const play::packed_move chosen = tree->choose_move(0.0, nullptr, nullptr);
    for (const search::tree_edge& edge : tree->root().children) {
        if (edge.move == chosen) {
            ASSERT_TRUE(edge.child);
            EXPECT_LE(edge.child->proven, 0);
        }
        // The corners lose to the threat, and the search knows it.
        if (edge.move == xy(19, 19) || edge.move == xy(19, 0)) {
            ASSERT_TRUE(edge.child);
            EXPECT_EQ(edge.child->proven, 1);
        }
    }
    // The chosen move really stops the win by fours.
    threat::Board check;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        if (board.cells[cell] != play::empty) {
            check.place(threat::to_index(cell % 20, cell / 20), search::threat_colour(board.cells[cell]));
        }
    }
    check.place(search::threat_cell(chosen), threat::kBlack);
    threat::ThreatSolver solver;
    EXPECT_LT(solver.find_win(check, threat::kWhite, threat::ThreatKind::kFoursOnly, nullptr), 0)
        << play::packed_column(chosen) << "," << play::packed_row(chosen);
}

TEST_F(ThreatSearch, TheMoveAboutToBePlayedIsCheckedAgainstAWinTheRootLeftOpen) {
    // The opponent makes two open threes at once at (7,10). The root
    // solver is starved (one node a search), so it settles nothing and
    // refutes nothing; the network loves the corner by our far stone and
    // sees nothing else (not the opponent's winning move either, so the
    // tree alone is slow to prove the corner lost). The corner, once it
    // leads the visits, is checked with the full budget, proven lost, and
    // no longer chosen.
    const play::board_state board =
        board_of({"X", "", "", "", "", "", "", "", "", "", ".....OO", "......X", ".......OX", ".......O", "", "",
                  "", "", "", "..................X"});
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 19)] = 100.0f;
    evaluator.value = 0.9f;
    auto tree = tree_for(board);
    tree->use_root_budget(search::root_solver_budget{1, 1, 1, 1, 1, 1, 5, 4, 2, 6, 15});
    tree->run_playouts(1000);
    const search::threat_context& context = *tree->threats();
    ASSERT_FALSE(context.choices_checked.empty());
    EXPECT_EQ(context.choices_checked.front(), search::threat_cell(xy(19, 19)));
    EXPECT_GE(context.choice_refuted, 1);
    EXPECT_NE(tree->choose_move(0.0, nullptr, nullptr), xy(19, 19));
    for (const search::tree_edge& edge : tree->root().children) {
        if (edge.move == xy(19, 19)) {
            ASSERT_TRUE(edge.child);
            EXPECT_EQ(edge.child->proven, 1);
        }
    }
    // A root whose opponent has no win at all is never checked.
    auto quiet = tree_for(board_of({"X", "", "", "", "", "", "", "", "", "", ".........O", "", "", "", "", "", "", "",
                                    "", "X"}));
    quiet->run_playouts(300);
    EXPECT_EQ(quiet->threats()->choices_checked.size(), 0u);
}

TEST_F(ThreatSearch, EachFavouriteInTurnIsCheckedWhileTheFavouritesFall) {
    // The position above, with five far moves the network likes in turn,
    // each lost to the opponent's double three. As one is refuted its
    // visits pass to the next, and each gets its check: none of the five
    // is left to be played.
    const play::board_state board =
        board_of({"X", "", "", "", "", "", "", "", "", "", ".....OO", "......X", ".......OX", ".......O", "", "",
                  "", "", "", "..................X"});
    const std::vector<play::packed_move> favourites{xy(19, 19), xy(18, 17), xy(16, 18), xy(1, 1), xy(2, 0)};
    evaluator.weights.fill(0.001f);
    float weight = 100.0f;
    for (play::packed_move move : favourites) {
        evaluator.weights[play::cell_index(play::packed_row(move), play::packed_column(move))] = weight;
        weight *= 0.8f;
    }
    evaluator.value = 0.9f;
    auto tree = tree_for(board);
    tree->use_root_budget(search::root_solver_budget{1, 1, 1, 1, 1, 1, 5, 4, 2, 6, 15});
    tree->run_playouts(1500);
    EXPECT_GE(tree->threats()->choices_checked.size(), favourites.size());
    const play::packed_move chosen = tree->choose_move(0.0, nullptr, nullptr);
    for (const search::tree_edge& edge : tree->root().children) {
        if (std::find(favourites.begin(), favourites.end(), edge.move) == favourites.end()) continue;
        ASSERT_TRUE(edge.child);
        EXPECT_EQ(edge.child->proven, 1) << play::packed_column(edge.move) << "," << play::packed_row(edge.move);
        EXPECT_NE(edge.move, chosen);
    }
}

// Whether the opponent (white) wins by threats after our move on `board`.
bool opponent_wins_after(const play::board_state& board, play::packed_move move) {
    threat::Board check;
    for (int cell = 0; cell < play::board_cells; ++cell) {
        if (board.cells[cell] != play::empty) {
            check.place(threat::to_index(cell % 20, cell / 20), search::threat_colour(board.cells[cell]));
        }
    }
    check.place(search::threat_cell(move), threat::kBlack);
    threat::ThreatSolver solver;
    threat::SearchBudget budget(1'000'000, threat::SearchBudget::Clock::time_point::max());
    return solver.find_win(check, threat::kWhite, threat::ThreatKind::kFoursAndThrees, &budget) >= 0;
}

TEST_F(ThreatSearch, TheRootKeepsToTheMovesFoundToHoldAgainstTheOpponentsWin) {
    // The opponent's double three at (7,10) wins if we let it; the network
    // sees only the far corner. The moves found to hold, and the network's
    // favourite until it is refuted, are all the search plays: the rest get
    // no visit, and the move chosen stops the threat.
    const play::board_state board =
        board_of({"X", "", "", "", "", "", "", "", "", "", ".....OO", "......X", ".......OX", ".......O", "", "",
                  "", "", "", "..................X"});
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 19)] = 100.0f;
    evaluator.value = 0.9f;
    auto tree = tree_for(board);
    tree->run_playouts(300);
    const search::tree_node& root = tree->root();
    ASSERT_TRUE(root.holds_out);
    EXPECT_EQ(tree->threats()->defence_searches, 1);
    int held = 0;
    for (const search::tree_edge& edge : root.children) {
        if (edge.held_out) {
            EXPECT_TRUE(!edge.child || edge.child->visits == 0 || edge.child->proven > 0);
            continue;
        }
        if (edge.move == xy(19, 19)) {
            // Kept in as the favourite, and refuted by the check of the choice.
            ASSERT_TRUE(edge.child);
            EXPECT_EQ(edge.child->proven, 1);
            continue;
        }
        ++held;
        EXPECT_FALSE(opponent_wins_after(board, edge.move)) << play::packed_column(edge.move) << ","
                                                            << play::packed_row(edge.move);
    }
    EXPECT_GE(held, 1);
    EXPECT_LE(held, static_cast<int>(search::defences_held_wanted));
    const play::packed_move chosen = tree->choose_move(0.0, nullptr, nullptr);
    EXPECT_NE(chosen, xy(19, 19));
    EXPECT_FALSE(opponent_wins_after(board, chosen));
}

TEST_F(ThreatSearch, ARefutedFavouriteSendsTheSearchToTheMovesThatHold) {
    // As above, but the root solver is starved and finds nothing: the
    // corner is refuted by the check of the search's choice, and then all
    // the moves are searched together for the ones that hold.
    const play::board_state board =
        board_of({"X", "", "", "", "", "", "", "", "", "", ".....OO", "......X", ".......OX", ".......O", "", "",
                  "", "", "", "..................X"});
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 19)] = 100.0f;
    evaluator.weights[play::cell_index(18, 18)] = 80.0f;
    evaluator.value = 0.9f;
    auto tree = tree_for(board);
    tree->use_root_budget(search::root_solver_budget{1, 1, 1, 1, 1, 300000, 5, 4, 2, 6, 15});
    tree->run_playouts(600);
    const search::threat_context& context = *tree->threats();
    EXPECT_GE(context.choice_refuted, 1);
    EXPECT_EQ(context.defence_searches, 1);
    EXPECT_TRUE(tree->root().holds_out);
    const play::packed_move chosen = tree->choose_move(0.0, nullptr, nullptr);
    EXPECT_FALSE(opponent_wins_after(board, chosen)) << play::packed_column(chosen) << "," << play::packed_row(chosen);
}

TEST_F(ThreatSearch, AHoldEndsOnceEveryMoveKeptInIsProvenLost) {
    auto tree = tree_for(board_of({"", "", "", "", "", "", "", "", "", "", ".........X"}));
    search::tree_node& root = tree->root();
    for (play::packed_move move : {xy(1, 1), xy(2, 2), xy(3, 3)}) root.edge_for(move, 0.3f).create_child();
    root.children[0].child->visits = 100;  // the favourite, held out
    root.children[0].held_out = true;
    root.children[1].held_out = true;
    root.children[2].child->visits = 5;  // the one kept in
    root.holds_out = true;
    root.visits = 106;
    EXPECT_EQ(tree->choose_move(0.0, nullptr, nullptr), xy(3, 3));
    EXPECT_EQ(search::select_unproven_edge(root)->move, xy(3, 3));
    // The move kept in is refuted: the hold ends, and the others are back.
    search::prove(*root.children[2].child, 1);
    EXPECT_EQ(tree->choose_move(0.0, nullptr, nullptr), xy(1, 1));
    const search::tree_edge* next = search::select_unproven_edge(root);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next->move, xy(3, 3));
    EXPECT_FALSE(root.holds_out);
}

TEST_F(ThreatSearch, ALostPositionKeepsTheLongestResistanceOverABarelySearchedMove) {
    auto tree = tree_for(board_of({"", "", "", "", "", "", "", "", "", "", ".........X"}));
    search::tree_node& root = tree->root();
    for (play::packed_move move : {xy(1, 1), xy(2, 2), xy(3, 3)}) root.edge_for(move, 0.3f).create_child();
    root.children[0].child->visits = 178;  // proven lost after a long fight
    search::prove(*root.children[0].child, 1);
    root.children[1].child->visits = 40;  // proven lost quickly
    search::prove(*root.children[1].child, 1);
    root.children[2].child->visits = 3;  // not proven, hardly searched
    float share = 0.0f;
    EXPECT_EQ(tree->choose_move(0.0, &share, nullptr), xy(1, 1));
    EXPECT_NEAR(share, 178.0f / 221.0f, 1e-6f);
    // Searched about as much as the loss, the open move is the better bet.
    root.children[2].child->visits = 60;
    EXPECT_EQ(tree->choose_move(0.0, &share, nullptr), xy(3, 3));
    EXPECT_EQ(share, 1.0f);
}

TEST_F(ThreatSearch, ALostRootStillStopsTheQuickestWin) {
    // The opponent (O) wins by fours (its column 7 and the diagonals through
    // it), and after each of the four moves that stop that it still wins by
    // threes, so every move is proven lost before a playout has told them
    // apart. The move played must still stop the fours: an opponent that
    // would not find the slower win then has to.
    const play::board_state board = board_of({"", "", "", "", "", "", "", "", ".......X", "......XOX", ".......O.O",
                                              ".....OXOO.X", "..........O", "", "..........X"});
    evaluator.weights.fill(0.001f);
    evaluator.weights[play::cell_index(19, 19)] = 100.0f;  // the network looks away
    evaluator.value = -0.9f;
    auto tree = tree_for(board);
    tree->run_playouts(2000);
    const search::tree_node& root = tree->root();
    for (const search::tree_edge& edge : root.children) {
        ASSERT_TRUE(edge.child && edge.child->proven == 1) << play::packed_column(edge.move) << ","
                                                           << play::packed_row(edge.move);
    }
    const std::vector<play::packed_move> stops = sorted({xy(10, 9), xy(7, 12), xy(6, 13), xy(7, 13)});
    std::vector<play::packed_move> resisting;
    for (const search::tree_edge& edge : root.children) {
        if (edge.resists) resisting.push_back(edge.move);
    }
    EXPECT_EQ(sorted(resisting), stops);
    for (int i = 0; i < 5; ++i) {
        const play::packed_move chosen = tree->choose_move(0.0, nullptr, nullptr);
        EXPECT_TRUE(std::find(stops.begin(), stops.end(), chosen) != stops.end())
            << play::packed_column(chosen) << "," << play::packed_row(chosen);
    }
}

TEST_F(ThreatSearch, OurWinByFoursEndsTheThinkAtOnce) {
    // (4,4) makes a four on row 4 and an open three on column 4.
    auto tree = tree_for(board_of({"", "", "....X", "....X", "OXXX", "", "", "", "", "", "", "", "", "", "", "", "", "",
                                   "", "...O....O"}));
    tree->run_playouts(20);
    EXPECT_EQ(tree->root().proven, 1);
    EXPECT_LE(evaluator.calls, 1);  // the root's own evaluation at most
    float share = 0.0f;
    std::int32_t visits = 0;
    EXPECT_EQ(tree->choose_move(0.0, &share, &visits), xy(4, 4));
    EXPECT_EQ(share, 1.0f);
    EXPECT_EQ(visits, search::certain_visits);
    // Playouts on a proven root count without growing the tree.
    const int calls = evaluator.calls;
    tree->run_playouts(100);
    EXPECT_EQ(evaluator.calls, calls);
}

TEST_F(ThreatSearch, ABoardSmallerThanTwentyHasItsEdgeWhereTheManagerSaysSo) {
    // On a board 14 wide, a four against the right edge (column 13) has one five
    // cell; on 20 x 20 the same stones make an open four.
    const play::board_state board = board_of({"", "", "", "", "", "", "", "", "", "", "..........OOOO", "", "XX"});
    auto small = tree_for(board, search_mode::threat_aware, 14);
    small->run_playouts(2);
    EXPECT_EQ(edge_moves(small->root()), std::vector<play::packed_move>{xy(9, 10)});
    EXPECT_EQ(small->root().proven, 0);
    auto large = tree_for(board, search_mode::threat_aware, 20);
    large->run_playouts(2);
    EXPECT_EQ(large->root().proven, -1);
}

TEST_F(ThreatSearch, AProofWithoutItsWinningMoveNeverSendsAMoveOffTheBoard) {
    // The threat library's "no cell" (-1) is no move, not a cell past the corner.
    EXPECT_EQ(search::engine_move(-1), search::no_move);

    // A refutation proved with no winning move leaves the proof without one,
    // and a proof move off the area or on a stone is never the certain move.
    const play::board_state board = board_of({"", "", "", "", "", "..XO"});
    auto tree = tree_for(board, search_mode::threat_aware, 10);
    search::tree_node& root = tree->root();
    root.edge_for(xy(4, 4), 1.0f).create_child();
    search::prove(*root.children[0].child, 1, search::engine_move(-1));
    EXPECT_EQ(root.children[0].child->proof_move, search::no_move);
    root.proven = 1;
    for (const play::packed_move bad : {play::make_packed_move(-4, -5), xy(12, 3), xy(2, 5)}) {
        root.proof_move = bad;
        EXPECT_EQ(tree->certain_move(), search::no_move);
    }

    // A root proven won without its move gets the move back from the solver...
    auto winning = tree_for(board_of({"", "", "....X", "....X", "OXXX", "", "", "", "", "", "", "", "", "", "", "", "",
                                      "", "", "...O....O"}));
    winning->root().proven = 1;
    winning->run_playouts(20);
    EXPECT_EQ(winning->root().proven, 1);
    EXPECT_EQ(winning->choose_move(0.0, nullptr, nullptr), xy(4, 4));

    // ...and is searched as unproven when there is none to find.
    auto quiet = tree_for(board, search_mode::threat_aware, 10);
    quiet->root().proven = 1;
    quiet->run_playouts(40);
    EXPECT_EQ(quiet->root().proven, 0);
    EXPECT_GT(quiet->root().visits, 1);
    const play::packed_move move = quiet->choose_move(0.0, nullptr, nullptr);
    ASSERT_TRUE(quiet->area().contains(play::packed_row(move), play::packed_column(move)));
    EXPECT_EQ(board.cells[play::cell_index(play::packed_row(move), play::packed_column(move))], play::empty);
}

}  // namespace
