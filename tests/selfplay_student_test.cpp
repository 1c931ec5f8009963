#include "tools/selfplay/network_student.h"
#include "teacher/player.h"
#include "teacher/record_file.h"
#include "teacher/selfplay.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace teacher;

// An evaluator whose policy prefers the cells listed first (by the network's cell index), and that
// remembers what it was shown.
class ranked_policy : public eval::Evaluator {
public:
    explicit ranked_policy(std::vector<int> preferred) : preferred(std::move(preferred)) {}
    std::vector<eval::evaluation_array> Evaluate(std::vector<const std::int8_t*> boards,
                                                 std::vector<std::int8_t> sides) override {
        std::vector<eval::evaluation_array> results;
        for (size_t i = 0; i < boards.size(); ++i) {
            seen_board.assign(boards[i], boards[i] + eval::board_cells);
            seen_side = sides[i];
            eval::evaluation_array out(new float[eval::evaluation_size]());
            for (size_t rank = 0; rank < preferred.size(); ++rank) {
                out[preferred[rank]] = static_cast<float>(preferred.size() - rank);
            }
            results.push_back(std::move(out));
        }
        return results;
    }
    std::vector<int> preferred;
    std::vector<std::int8_t> seen_board;
    std::int8_t seen_side = 0;
};

TEST(NetworkStudent, PlaysTheBestEmptyCellOnTheBoardAndShowsTheNetworkTheRightPosition) {
    // Network cells are row * 20 + column. Cell 3 * 20 + 2 is taken by black, 18 * 20 + 18 lies off
    // a 15 x 15 board; the next preference, (x 4, y 1), must be chosen.
    auto policy = std::make_unique<ranked_policy>(std::vector<int>{3 * 20 + 2, 18 * 20 + 18, 1 * 20 + 4, 0});
    ranked_policy* seen = policy.get();
    selfplay::network_student student(std::move(policy));
    Board board(15, 15);
    board.place(to_index(2, 3), kBlack);
    board.place(to_index(7, 9), kWhite);
    board.place(to_index(14, 14), kBlack);

    EXPECT_EQ(student.choose(board, kWhite), to_index(4, 1));
    EXPECT_EQ(seen->seen_side, -1);
    EXPECT_EQ(seen->seen_board[3 * 20 + 2], 1);
    EXPECT_EQ(seen->seen_board[9 * 20 + 7], -1);
    EXPECT_EQ(seen->seen_board[14 * 20 + 14], 1);
    int stones = 0;
    for (std::int8_t cell : seen->seen_board) stones += cell != 0;
    EXPECT_EQ(stones, 3);
    EXPECT_EQ(student.choose(board, kBlack), to_index(4, 1));
    EXPECT_EQ(seen->seen_side, 1);
}

TEST(TeacherSelfPlay, AStudentPlaysOnlyQuietMovesAndTheTeacherKeepsLabelling) {
    SelfPlayOptions options;
    options.nodes_per_move = 300;
    options.max_sampled_moves = 0;
    options.student_rate = 1.0;
    // A poor student: the empty cell nearest the top-left corner, or nothing on odd turns (and an
    // occupied cell now and then, which must be ignored).
    int calls = 0;
    options.student = [&calls](const Board& board, Color) {
        ++calls;
        if (calls % 3 == 1) return -1;
        if (calls % 3 == 2 && !board.history().empty()) return board.history().front();
        for (int cell : board.empty_cells()) return cell;
        return -1;
    };
    Teacher teacher;
    int student_moves = 0;
    for (int game = 0; game < 3; ++game) {
        const std::vector<PositionRecord> records = play_selfplay_game(teacher, options, 0, game);
        ASSERT_FALSE(records.empty());
        for (size_t i = 0; i < records.size(); ++i) {
            const PositionRecord& r = records[i];
            if (!(r.flags & kFlagStudent)) continue;
            ++student_moves;
            EXPECT_EQ(r.flags & (kFlagProvenWin | kFlagDefence), 0) << "a forced move was handed to the student";
            // The label stays the teacher's move, and the game went on with another one.
            if (i + 1 < records.size()) {
                const PositionRecord& next = records[i + 1];
                EXPECT_FALSE((next.opponent[r.move >> 3] >> (r.move & 7)) & 1)
                    << "the teacher's move was played although the student's was taken";
                EXPECT_EQ(next.ply, r.ply + 1);
            }
        }
    }
    EXPECT_GT(student_moves, 0);
    EXPECT_GT(calls, student_moves);  // refused proposals left the move to the teacher

    // Without a student the rate is refused rather than silently ignored.
    std::vector<std::string> words{"selfplay", "--out", "unused", "--student-rate", "0.5"};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    EXPECT_EQ(selfplay_main(static_cast<int>(argv.size()), argv.data()), 2);
}

}  // namespace
