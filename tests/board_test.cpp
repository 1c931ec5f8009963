#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <type_traits>

#include "play/board_state.h"

namespace {

using play::board_state;
using play::make_packed_move;

void place(board_state& board, std::int8_t colour, int row, int column) {
    play::put_stone(board, colour, make_packed_move(row, column));
}

TEST(BoardRecord, NewBoardAndLayout) {
    const board_state board;
    for (std::int8_t cell : board.cells) EXPECT_EQ(cell, 0);
    EXPECT_EQ(board.over, 0);
    EXPECT_EQ(board.winner, 0);
    EXPECT_EQ(board.hash, 0u);
    EXPECT_EQ(board.stones, 0);
    EXPECT_EQ(board.last_row, -1);
    EXPECT_EQ(board.last_col, -1);
    // The evaluator is handed a board as a pointer to its cells.
    EXPECT_EQ(static_cast<const void*>(&board), static_cast<const void*>(board.cells));
    EXPECT_TRUE(std::is_trivially_copyable_v<board_state>);
}

TEST(BoardRecord, PackedMoveHoldsRowLowColumnHigh) {
    EXPECT_EQ(make_packed_move(3, 7), (std::int64_t{7} << 32) + 3);
    EXPECT_EQ(play::packed_row(make_packed_move(3, 7)), 3);
    EXPECT_EQ(play::packed_column(make_packed_move(3, 7)), 7);
    const play::packed_move negative = make_packed_move(-1, -5);
    EXPECT_EQ(play::packed_row(negative), -1);
    EXPECT_EQ(play::packed_column(negative), -5);
    EXPECT_EQ(play::packed_row(make_packed_move(-1, 4)), -1);
    EXPECT_EQ(play::packed_column(make_packed_move(-1, 4)), 4);
}

TEST(ZobristKeys, GivenKeysPlaneSwapAndDistinct) {
    EXPECT_EQ(play::zobrist_keys[0][0][0], 0x216eb9db61c847b5ULL);
    EXPECT_EQ(play::zobrist_keys[0][0][1], 0x42aef2f604c98e93ULL);
    EXPECT_EQ(play::zobrist_keys[0][0][2], 0xc30ba4760d5e0271ULL);
    EXPECT_EQ(play::zobrist_keys[0][0][3], 0xae655e33bdebc0e7ULL);
    EXPECT_EQ(play::zobrist_keys[1][0][0], 0x61c847b5216eb9dbULL);
    std::set<std::uint64_t> seen;
    for (int row = 0; row < 20; ++row) {
        for (int column = 0; column < 20; ++column) {
            const std::uint64_t key = play::zobrist_keys[0][row][column];
            EXPECT_EQ(play::zobrist_keys[1][row][column], (key << 32) | (key >> 32));
            seen.insert(play::zobrist_keys[0][row][column]);
            seen.insert(play::zobrist_keys[1][row][column]);
        }
    }
    EXPECT_EQ(seen.size(), 800u);
}

TEST(PutStone, PlacesAndHashes) {
    board_state board;
    place(board, play::black, 0, 0);
    EXPECT_EQ(board.cells[0], 1);
    EXPECT_EQ(board.stones, 1);
    EXPECT_EQ(board.last_row, 0);
    EXPECT_EQ(board.last_col, 0);
    EXPECT_EQ(board.hash, 0x61c847b5216eb9dbULL);
    EXPECT_EQ(board.over, 0);

    place(board, play::white, 19, 18);
    EXPECT_EQ(board.cells[19 * 20 + 18], -1);
    EXPECT_EQ(board.last_row, 19);
    EXPECT_EQ(board.last_col, 18);
    EXPECT_EQ(board.hash, play::zobrist_keys[1][0][0] ^ play::zobrist_keys[0][19][18]);
}

TEST(PutStone, HashIndependentOfOrder) {
    board_state first;
    place(first, play::black, 4, 5);
    place(first, play::white, 9, 2);
    board_state second;
    place(second, play::white, 9, 2);
    place(second, play::black, 4, 5);
    EXPECT_EQ(first.hash, second.hash);
    // The colour matters: swapping them gives another position.
    board_state swapped;
    place(swapped, play::white, 4, 5);
    place(swapped, play::black, 9, 2);
    EXPECT_NE(first.hash, swapped.hash);
}

TEST(PutStone, IgnoresOffBoardAndOccupied) {
    board_state board;
    place(board, play::black, 7, 7);
    const board_state before = board;
    const play::packed_move rejected[] = {make_packed_move(20, 0), make_packed_move(0, -1), make_packed_move(-1, 3),
                                          make_packed_move(5, 20), make_packed_move(7, 7)};
    for (const play::packed_move move : rejected) {
        play::put_stone(board, play::white, move);
        EXPECT_EQ(std::memcmp(&board, &before, sizeof board), 0) << "move " << move;
    }
}

// Places `count` black stones from (row, column) stepping (row_step,
// column_step), skipping index `skip` (-1 for none).
void line_of(board_state& board, int row, int column, int row_step, int column_step, int count, int skip = -1) {
    for (int k = 0; k < count; ++k) {
        if (k != skip) place(board, play::black, row + k * row_step, column + k * column_step);
    }
}

TEST(CheckFive, FourIsNotFiveAndFifthAtEitherEndOrGapWins) {
    {
        board_state board;
        line_of(board, 5, 5, 0, 1, 4);
        EXPECT_EQ(board.over, 0);
        place(board, play::black, 5, 9);
        EXPECT_EQ(board.over, 1);
        EXPECT_EQ(board.winner, 1);
    }
    {
        board_state board;
        line_of(board, 5, 5, 0, 1, 4);
        place(board, play::black, 5, 4);
        EXPECT_EQ(board.over, 1);
        EXPECT_EQ(board.winner, 1);
    }
    {
        board_state board;
        line_of(board, 5, 5, 0, 1, 5, /*skip=*/2);
        EXPECT_EQ(board.over, 0);
        place(board, play::black, 5, 7);
        EXPECT_EQ(board.over, 1);
        EXPECT_EQ(board.winner, 1);
    }
    {
        // An opponent stone breaks the line.
        board_state board;
        line_of(board, 5, 5, 0, 1, 4);
        place(board, play::white, 5, 9);
        place(board, play::black, 5, 10);
        EXPECT_EQ(board.over, 0);
    }
}

TEST(CheckFive, OverlineWins) {
    board_state board;
    line_of(board, 3, 0, 1, 0, 6, /*skip=*/3);
    EXPECT_EQ(board.over, 0);
    place(board, play::black, 6, 0);  // closes a line of six
    EXPECT_EQ(board.over, 1);
    EXPECT_EQ(board.winner, 1);
}

TEST(CheckFive, EveryLineAlsoAtEdgesAndCorners) {
    struct line_case {
        const char* name;
        int row, column, row_step, column_step;
    };
    const line_case cases[] = {
        {"row at top edge", 0, 3, 0, 1},           {"row into right edge", 10, 15, 0, 1},
        {"column at left edge", 2, 0, 1, 0},       {"column into bottom edge", 15, 19, 1, 0},
        {"diagonal from corner", 0, 0, 1, 1},      {"diagonal into corner", 15, 15, 1, 1},
        {"anti-diagonal from corner", 0, 19, 1, -1}, {"anti-diagonal into corner", 15, 4, 1, -1},
        {"diagonal in the middle", 7, 8, 1, 1},    {"anti-diagonal in the middle", 7, 12, 1, -1},
    };
    for (const line_case& c : cases) {
        for (int last = 0; last < 5; ++last) {
            board_state board;
            line_of(board, c.row, c.column, c.row_step, c.column_step, 5, last);
            EXPECT_EQ(board.over, 0) << c.name;
            place(board, play::black, c.row + last * c.row_step, c.column + last * c.column_step);
            EXPECT_EQ(board.over, 1) << c.name << ", last stone " << last;
            EXPECT_EQ(board.winner, 1) << c.name << ", last stone " << last;
        }
    }
}

TEST(CheckFive, WhiteFiveReportsWhite) {
    board_state board;
    for (int k = 0; k < 5; ++k) place(board, play::white, 12, 2 + k);
    EXPECT_EQ(board.over, 1);
    EXPECT_EQ(board.winner, -1);
}

TEST(CheckFive, ResultFollowsLastStoneOnly) {
    board_state board;
    line_of(board, 0, 0, 0, 1, 5);
    ASSERT_EQ(board.over, 1);
    place(board, play::white, 10, 10);
    EXPECT_EQ(board.over, 0);
    EXPECT_EQ(board.winner, 0);
}

// Colours with no five anywhere: pairs along each row, shifted by two per row.
std::int8_t drawn_colour(int row, int column) { return ((column + 2 * row) / 2) % 2 == 0 ? play::black : play::white; }
// Runs of three along each row, shifted by two per row: no five anywhere, but
// the colour flipped at (2, 0) makes one.
std::int8_t near_five_colour(int row, int column) {
    return ((column + 2 * row) / 3) % 2 == 0 ? play::black : play::white;
}

TEST(CheckFive, FullBoard) {
    {
        board_state board;
        for (int index = 0; index < 400; ++index) {
            place(board, drawn_colour(index / 20, index % 20), index / 20, index % 20);
            ASSERT_EQ(board.over, index == 399 ? 1 : 0) << "stone " << index;
        }
        EXPECT_EQ(board.stones, 400);
        EXPECT_EQ(board.winner, 0);
    }
    {
        board_state board;
        for (int index = 0; index < 400; ++index) {
            if (index == 2 * 20 + 0) continue;
            place(board, near_five_colour(index / 20, index % 20), index / 20, index % 20);
            ASSERT_EQ(board.over, 0) << "stone " << index;
        }
        const std::int8_t flipped = static_cast<std::int8_t>(-near_five_colour(2, 0));
        place(board, flipped, 2, 0);
        EXPECT_EQ(board.stones, 400);
        EXPECT_EQ(board.over, 1);
        EXPECT_EQ(board.winner, flipped);
    }
}

}  // namespace
