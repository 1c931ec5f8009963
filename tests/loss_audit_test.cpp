// The loss audit on games whose losing move is known by hand.
#include <gtest/gtest.h>

#include <vector>

#include "tools/loss-audit/loss_audit.h"

namespace {

using threat::to_index;

// Black builds an open three on row 9 while white plays along column 0; white's third move
// ignores the three.
std::vector<int> ignored_three() {
    return {to_index(9, 9), to_index(0, 0), to_index(10, 9), to_index(0, 2), to_index(11, 9), to_index(0, 4)};
}

loss_audit::GameAudit audit(const std::vector<int>& moves, int opening, threat::Color loser) {
    threat::ThreatSolver solver;
    return loss_audit::audit_game(20, 20, moves, opening, loser, loss_audit::Budget{}, solver);
}

TEST(LossAudit, FindsTheMoveThatIgnoredAnOpenThreeAndTheTwoBlocksThatHeld) {
    const loss_audit::GameAudit found = audit(ignored_three(), 0, threat::kWhite);
    EXPECT_EQ(found.lost_at, 5);
    EXPECT_FALSE(found.own_win_missed);
    // Only the cells next to the three stop it: one further out leaves an open four on the other side.
    EXPECT_EQ(found.at_loss.held, 2);
    EXPECT_EQ(found.at_loss.unknown, 0);
    EXPECT_GT(found.at_loss.tried, 20);
    // With two black stones on the board nothing white played could lose.
    EXPECT_GT(found.at_previous.tried, 0);
    EXPECT_EQ(found.at_previous.held, found.at_previous.tried);

    // The same moves as the match's opening are not the loser's to answer for, and black's own
    // moves are not audited when white is the loser.
    EXPECT_EQ(audit(ignored_three(), 6, threat::kWhite).lost_at, -1);
    EXPECT_EQ(audit(ignored_three(), 0, threat::kBlack).lost_at, -1);

    // Blocking instead: no loss.
    std::vector<int> blocked = ignored_three();
    blocked.back() = to_index(12, 9);
    EXPECT_EQ(audit(blocked, 0, threat::kWhite).lost_at, -1);
}

TEST(LossAudit, ReportsAnOwnWinPassedOverAndHasNoMoveBeforeTheFirstAudited) {
    // White has an open three of its own on column 0 when black answers it with a three of its
    // own; white could have won first with an open four, and plays elsewhere.
    const std::vector<int> moves = {to_index(9, 9),   to_index(0, 10), to_index(10, 9), to_index(0, 11),
                                    to_index(15, 15), to_index(0, 12), to_index(11, 9), to_index(5, 5)};
    const loss_audit::GameAudit found = audit(moves, 6, threat::kWhite);
    EXPECT_EQ(found.lost_at, 7);
    EXPECT_TRUE(found.own_win_missed);
    EXPECT_EQ(found.at_previous.tried, 0);  // white's move before was the opening's
    EXPECT_GE(found.at_loss.held, 2);       // the two open fours, at least
}

}  // namespace
