#include "teacher/brain.h"
#include "teacher/player.h"
#include "teacher/record_file.h"
#include "teacher/selfplay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/threat_test_support.h"

namespace {

using namespace teacher;

using threat_test::board_from;

TEST(TeacherPlayer, WinsBlocksAndDefendsOpenThrees) {
    Teacher teacher;
    ThinkLimits limits;
    limits.max_nodes = 200000;

    Board own_four = board_from({"", "", "..XXXX", "", "OOOO"});
    EXPECT_EQ(teacher.choose(own_four, kBlack, limits).reason, MoveReason::kFive);

    Board their_four = board_from({"", "", "..XX.X", "", "OOOO."});
    const MoveChoice block = teacher.choose(their_four, kBlack, limits);
    EXPECT_EQ(block.reason, MoveReason::kBlockFive);
    EXPECT_EQ(block.index, to_index(4, 4));

    // White has an open three on row 5; black has nothing: black must stop it at an end
    // (or, for a straight three, a cell next to it).
    Board open_three = board_from({"", "", "", "..X.....X", "", "....OOO....", "", "..X"});
    const MoveChoice defence = teacher.choose(open_three, kBlack, limits);
    EXPECT_EQ(defence.reason, MoveReason::kDefence);
    const int x = column_of(defence.index);
    const int y = row_of(defence.index);
    EXPECT_EQ(y, 5);
    EXPECT_TRUE(x == 2 || x == 3 || x == 7 || x == 8) << x;
}

std::string run_lines(Brain& brain, const std::vector<std::string>& lines, std::ostringstream& out) {
    out.str("");
    for (const std::string& line : lines) brain.handle_line(line);
    return out.str();
}

TEST(TeacherBrain, SpeaksTheManagerProtocol) {
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(run_lines(brain, {"START 30"}, out).rfind("ERROR", 0), 0u);
    EXPECT_EQ(run_lines(brain, {"TURN 1,1"}, out).rfind("ERROR", 0), 0u);  // no game yet
    EXPECT_EQ(run_lines(brain, {"START 15"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"INFO timeout_turn 50", "INFO time_left 100000"}, out), "");
    // Black has four on row 0 of a 15 x 15 board: the brain (own stones = field 1) must win.
    const std::string win = run_lines(brain, {"BOARD", "10,0,1", "11,0,1", "12,0,1", "13,0,1", "0,5,2", "1,5,2",
                                              "2,5,2", "3,5,2", "DONE"}, out);
    EXPECT_TRUE(win == "14,0\n" || win == "9,0\n") << win;
    EXPECT_EQ(run_lines(brain, {"TURN 10,0"}, out).rfind("ERROR", 0), 0u);  // occupied
    EXPECT_EQ(run_lines(brain, {"RECTSTART 10,7"}, out), "OK\n");
    const std::string first = run_lines(brain, {"BEGIN"}, out);
    int x = -1, y = -1;
    char comma = 0;
    std::istringstream(first) >> x >> comma >> y;
    EXPECT_TRUE(x >= 0 && x < 10 && y >= 0 && y < 7) << first;
    EXPECT_EQ(run_lines(brain, {"TAKEBACK " + std::to_string(x) + "," + std::to_string(y)}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 0,0"}, out), "0,0\n");
    EXPECT_EQ(run_lines(brain, {"FROBNICATE"}, out).rfind("UNKNOWN", 0), 0u);
    EXPECT_NE(run_lines(brain, {"ABOUT"}, out).find("name="), std::string::npos);
    EXPECT_FALSE(brain.handle_line("END"));
}

// Checks one game's records: alternating sides, consistent stones, legal moves, and values
// that say the side that moved last won (or all zero for a draw).
void expect_consistent_game(const std::vector<PositionRecord>& records) {
    ASSERT_FALSE(records.empty());
    for (size_t i = 0; i < records.size(); ++i) {
        const PositionRecord& r = records[i];
        int own = 0, opponent = 0;
        for (int k = 0; k < kRecordCells; ++k) {
            const bool o = (r.own[k >> 3] >> (k & 7)) & 1;
            const bool p = (r.opponent[k >> 3] >> (k & 7)) & 1;
            EXPECT_FALSE(o && p);
            own += o;
            opponent += p;
        }
        EXPECT_EQ(own + opponent, r.ply);
        EXPECT_TRUE(own == opponent || own + 1 == opponent) << own << " " << opponent;
        EXPECT_FALSE((r.own[r.move >> 3] >> (r.move & 7)) & 1);
        EXPECT_FALSE((r.opponent[r.move >> 3] >> (r.move & 7)) & 1);
        if (i > 0) {
            EXPECT_EQ(r.ply, records[i - 1].ply + 1);
            EXPECT_EQ(r.value, -records[i - 1].value);
        }
    }
    EXPECT_TRUE(records.back().value == 1 || (records.back().value == 0 && records.front().value == 0));
}

TEST(TeacherSelfPlay, ChunksAreDeterministicAndResumeAfterATornWrite) {
    const auto dir = std::filesystem::temp_directory_path() / ("teacher-selfplay-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    SelfPlayOptions options;
    options.out_dir = dir.string();
    options.games_per_chunk = 3;
    options.nodes_per_move = 300;
    std::filesystem::create_directories(dir);

    Teacher teacher;
    ASSERT_GT(run_chunk(teacher, options, 0), 0);
    std::vector<PositionRecord> complete;
    ASSERT_TRUE(read_record_file((dir / "chunk-000000.bin").string(), &complete));
    for (int game = 0; game < options.games_per_chunk; ++game) {
        std::vector<PositionRecord> one;
        for (const PositionRecord& r : complete) {
            if (r.game == game) one.push_back(r);
        }
        expect_consistent_game(one);
    }

    // A run stopped in the middle of game 1's write: the part file holds game 0 and a torn
    // piece of game 1. Resuming must give exactly the uninterrupted chunk.
    std::vector<PositionRecord> partial;
    for (const PositionRecord& r : complete) {
        if (r.game == 0 || (r.game == 1 && partial.size() < 3 + complete.size() / 10)) partial.push_back(r);
    }
    ASSERT_TRUE(write_record_file((dir / "chunk-000001.bin.part").string(), partial));
    std::filesystem::copy_file(dir / "chunk-000000.bin", dir / "renamed.bin");
    std::filesystem::remove(dir / "chunk-000000.bin");
    std::filesystem::rename(dir / "chunk-000001.bin.part", dir / "chunk-000000.bin.part");
    {
        FILE* torn = std::fopen((dir / "chunk-000000.bin.part").string().c_str(), "ab");
        ASSERT_NE(torn, nullptr);
        std::fputs("torn", torn);  // half a record
        std::fclose(torn);
    }
    Teacher fresh_teacher;
    ASSERT_EQ(run_chunk(fresh_teacher, options, 0), static_cast<int64_t>(complete.size()));
    std::vector<PositionRecord> resumed;
    ASSERT_TRUE(read_record_file((dir / "chunk-000000.bin").string(), &resumed));
    ASSERT_EQ(resumed.size(), complete.size());
    for (size_t i = 0; i < resumed.size(); ++i) {
        EXPECT_EQ(serialize(resumed[i]), serialize(complete[i])) << "record " << i;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "chunk-000000.bin.part"));
    std::filesystem::remove_all(dir);
}

}  // namespace
