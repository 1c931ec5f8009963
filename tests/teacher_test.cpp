// The teacher in-process: its forced choices, its side of the manager protocol (driven line by
// line through Brain), and its self-play chunk files.
#include "teacher/brain.h"
#include "teacher/player.h"
#include "teacher/record_file.h"
#include "teacher/selfplay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

TEST(TeacherPlayer, AttacksByFoursBeforeDefendingButBlocksAFiveFirstAndLeavesTheBoardAsItWas) {
    Teacher teacher;
    ThinkLimits limits;
    limits.max_nodes = 200000;
    // Black wins by fours: (6,5) makes two fours at once (column 6 and row 5, each closed by a
    // white stone). White's open three on row 15 must not draw black into defending.
    std::vector<std::string> rows(16);
    rows[1] = "......O";
    rows[2] = rows[3] = rows[4] = "......X";
    rows[5] = "..OXXX";
    rows[15] = ".....OOO";
    Board attack = board_from(rows);
    const uint64_t hash = attack.hash();
    const std::vector<int> history = attack.history();
    const MoveChoice win = teacher.choose(attack, kBlack, limits);
    EXPECT_EQ(win.reason, MoveReason::kWinByFours);
    EXPECT_TRUE(cell_threat(attack, kBlack, win.index).makes_four()) << column_of(win.index) << "," << row_of(win.index);
    EXPECT_EQ(attack.hash(), hash);
    EXPECT_EQ(attack.history(), history);

    // The same with a white four on row 17: stopping its five comes before any attack.
    rows.resize(18);
    rows[17] = "OOOO";
    Board threatened = board_from(rows);
    const MoveChoice block = teacher.choose(threatened, kBlack, limits);
    EXPECT_EQ(block.reason, MoveReason::kBlockFive);
    EXPECT_EQ(block.index, to_index(4, 17));
}

// Feeds `lines` to `brain` and returns what it wrote.
std::string run_lines(Brain& brain, const std::vector<std::string>& lines, std::ostringstream& out) {
    out.str("");
    for (const std::string& line : lines) brain.handle_line(line);
    return out.str();
}

TEST(TeacherBrain, SpeaksTheManagerProtocol) {
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(run_lines(brain, {"TURN 1,1"}, out), "ERROR no game started\n");
    EXPECT_EQ(run_lines(brain, {"START 15"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"INFO timeout_turn 50", "INFO time_left 100000"}, out), "");
    // Black has four on row 0 of a 15 x 15 board: the brain (own stones = field 1) must win.
    const std::string win = run_lines(brain, {"BOARD", "10,0,1", "11,0,1", "12,0,1", "13,0,1", "0,5,2", "1,5,2",
                                              "2,5,2", "3,5,2", "DONE"}, out);
    EXPECT_TRUE(win == "14,0\n" || win == "9,0\n") << win;
    EXPECT_EQ(run_lines(brain, {"TURN 10,0"}, out), "ERROR occupied cell\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 5,5"}, out), "5,5\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 5,5"}, out), "ERROR occupied cell\n");
    EXPECT_EQ(run_lines(brain, {"RESTART"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 10,0"}, out), "10,0\n");  // the old stones are gone
    EXPECT_EQ(run_lines(brain, {"FROBNICATE 1"}, out), "UNKNOWN FROBNICATE\n");
    EXPECT_NE(run_lines(brain, {"ABOUT"}, out).find("name="), std::string::npos);
    EXPECT_FALSE(brain.handle_line("END"));
}

TEST(TeacherBrain, RefusesNumbersOffTheBoardAndAtTheEndsOfThe32BitRange) {
    // A parser that wraps at 2^32 would read 4294967298 as 2 and 4294967311 as 15.
    const std::vector<std::string> bad_moves = {
        "2147483647,0", "-2147483648,-1", "99999999999,5", "5,-99999999999", "4294967298,3",
        "15,0",         "0,15",           "-1,0",          "3",              "3 ,4",
        "x,1",          "",
    };
    for (const char* command : {"TURN ", "PLAY ", "TAKEBACK "}) {
        for (const std::string& move : bad_moves) {
            std::ostringstream out;
            Brain brain(out);
            run_lines(brain, {"START 15"}, out);
            EXPECT_EQ(run_lines(brain, {command + move}, out), "ERROR bad coordinates\n") << command << move;
        }
    }
    const std::vector<std::string> bad_starts = {
        "START 4294967311",     "START 2147483647", "START -2147483648",      "START 4",      "START 21", "START",
        "RECTSTART 2147483647,2147483647",          "RECTSTART -2147483648,20", "RECTSTART 4294967306,10",
        "RECTSTART 21,5",       "RECTSTART 5,4",    "RECTSTART 10",          "RECTSTART 10;7",
    };
    for (const std::string& start : bad_starts) {
        std::ostringstream out;
        Brain brain(out);
        run_lines(brain, {"START 15", "PLAY 1,1"}, out);
        EXPECT_EQ(run_lines(brain, {start}, out), "ERROR unsupported board size (5 to 20 only)\n") << start;
        // The refused size ends the old game too: nothing is played into it.
        EXPECT_EQ(run_lines(brain, {"TURN 2,2"}, out), "ERROR no game started\n") << start;
    }
    // Signs and the blank the front-end's scanners allow.
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(run_lines(brain, {"START +15"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"PLAY +3,-0"}, out), "3,0\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 4, 0"}, out), "4,0\n");
    EXPECT_EQ(run_lines(brain, {"RECTSTART 20 ,5"}, out), "OK\n");
}

TEST(TeacherBrain, RectangularBoardsKeepWidthAndHeightApart) {
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(run_lines(brain, {"RECTSTART 12,6"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 11,5"}, out), "11,5\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 5,11"}, out), "ERROR bad coordinates\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 12,0"}, out), "ERROR bad coordinates\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 0,6"}, out), "ERROR bad coordinates\n");
}

TEST(TeacherBrain, BoardListsTakeOnlyWellFormedStonesOfKnownOwners) {
    // On an empty 15 x 15 board the teacher opens at the centre, so a refused stone on the centre
    // shows up as that reply; a stone taken in anyway (say as the opponent's) changes it.
    for (const std::string who : {"0", "4", "-1", "2147483648", "4294967297", "99999999999999999999", "", "x"}) {
        std::ostringstream out;
        Brain brain(out);
        run_lines(brain, {"START 15"}, out);
        EXPECT_EQ(run_lines(brain, {"BOARD", "7,7," + who, "DONE"}, out), "ERROR bad BOARD line\n7,7\n") << who;
    }
    std::ostringstream out;
    Brain brain(out);
    run_lines(brain, {"START 15", "INFO timeout_turn 100"}, out);
    // White (field 2) has four on row 5: the brain must block at its one open end. Around that:
    // a stone off the board, one on a taken cell, a line with no owner, and a winning-line mark.
    EXPECT_EQ(run_lines(brain, {"BOARD", "0,5,2", "1,5,2", "2,5,2", "3,5,2", "15,0,1", "0,15,2", "3,5,1", "1,2",
                                "10,10,1", "11,11,1", "12,12,1", "6,6,3", "6,6,1", "done"}, out),
              "ERROR bad BOARD line\nERROR bad BOARD line\nERROR occupied cell\nERROR bad BOARD line\n"
              "ERROR occupied cell\n4,5\n");
    // The mark holds its cell until it is taken back; it was never a stone.
    EXPECT_EQ(run_lines(brain, {"TURN 6,6"}, out), "ERROR occupied cell\n");
    EXPECT_EQ(run_lines(brain, {"TAKEBACK 6,6"}, out), "OK\n");
    EXPECT_EQ(run_lines(brain, {"PLAY 6,6"}, out), "6,6\n");
    // A new BOARD list starts from an empty board.
    EXPECT_EQ(run_lines(brain, {"BOARD", "DONE"}, out), "7,7\n");
    // END ends the process even in the middle of a list.
    run_lines(brain, {"BOARD", "1,1,1"}, out);
    EXPECT_FALSE(brain.handle_line("END"));
}

TEST(TeacherBrain, ABoardListWithoutAGameIsRefusedOnceAndSwallowed) {
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(run_lines(brain, {"BOARD", "1,1,1", "2,2,2", "DONE"}, out), "ERROR no game started\n");
    // A list cut short by a command: the command still counts.
    EXPECT_EQ(run_lines(brain, {"BOARD", "1,1,1", "START 15", "BEGIN"}, out), "ERROR no game started\nOK\n7,7\n");
}

TEST(TeacherBrain, TakebackRemovesTheNamedStoneAndRefusesAnEmptyCell) {
    std::ostringstream out;
    Brain brain(out);
    run_lines(brain, {"START 15", "INFO timeout_turn 100"}, out);
    EXPECT_EQ(run_lines(brain, {"TAKEBACK 0,0"}, out), "ERROR empty cell\n");
    // Own four on row 0, x 0 to 3: the five is at 4,0.
    EXPECT_EQ(run_lines(brain, {"PLAY 0,0", "PLAY 1,0", "PLAY 2,0", "PLAY 3,0", "TURN 10,10"}, out),
              "0,0\n1,0\n2,0\n3,0\n4,0\n");
    // Take back the five, the white stone and 1,0 from the middle of the row, then add 4,0:
    // X.XXX leaves the five at 1,0 only, which the brain sees only if exactly those stones went.
    EXPECT_EQ(run_lines(brain, {"TAKEBACK 4,0", "TAKEBACK 10,10", "TAKEBACK 1,0", "PLAY 4,0"}, out),
              "OK\nOK\nOK\n4,0\n");
    EXPECT_EQ(run_lines(brain, {"TURN 10,10"}, out), "1,0\n");
    EXPECT_EQ(run_lines(brain, {"TAKEBACK 1,0", "TAKEBACK 1,0"}, out), "OK\nERROR empty cell\n");
}

TEST(TeacherBrain, MoveTimeFollowsTheInfoLimits) {
    std::ostringstream out;
    Brain brain(out);
    EXPECT_EQ(brain.move_time_ms(), 4000);  // 80% of the 5 s a move it assumes until told
    run_lines(brain, {"INFO timeout_turn 1000"}, out);
    EXPECT_EQ(brain.move_time_ms(), 800);
    run_lines(brain, {"INFO time_left 10000"}, out);  // no match limit: time_left means nothing
    EXPECT_EQ(brain.move_time_ms(), 800);
    run_lines(brain, {"INFO timeout_match 100000"}, out);
    EXPECT_EQ(brain.move_time_ms(), 10000 / 25 * 80 / 100);
    run_lines(brain, {"INFO time_left -2147483648"}, out);  // over time already: move at once
    EXPECT_EQ(brain.move_time_ms(), 5);
    run_lines(brain, {"INFO time_left 99999999999999999999", "INFO timeout_turn 99999999999999999999"}, out);
    EXPECT_EQ(brain.move_time_ms(), int64_t{2147483647} / 25 * 80 / 100);  // saturated, no overflow
    run_lines(brain, {"INFO timeout_match 0", "INFO timeout_turn 0"}, out);  // 0: as fast as possible
    EXPECT_EQ(brain.move_time_ms(), 5);
    run_lines(brain, {"INFO timeout_turn -5"}, out);
    EXPECT_EQ(brain.move_time_ms(), 5);
    run_lines(brain, {"info TIMEOUT_TURN 300"}, out);
    EXPECT_EQ(brain.move_time_ms(), 240);
    EXPECT_EQ(run_lines(brain, {"INFO max_memory 83886080", "INFO rule 1", "INFO folder /tmp"}, out), "");
    EXPECT_EQ(brain.move_time_ms(), 240);

    // A busy middle game, where the teacher uses all the 4 s it assumes by default, answers well
    // within a second under a 100 ms turn limit.
    run_lines(brain, {"START 20", "INFO timeout_turn 100"}, out);
    const auto started = std::chrono::steady_clock::now();
    const std::string move = run_lines(brain, {"BOARD", "9,9,2", "10,10,1", "10,9,2", "8,9,1", "11,8,2", "9,10,1",
                                               "12,7,2", "13,6,1", "8,10,2", "11,11,1", "DONE"}, out);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1)) << move;
    EXPECT_EQ(move.find("ERROR"), std::string::npos) << move;
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

TEST(TeacherSelfPlay, SmallBoardGamesStayInTheirCornerAndTheirFilesSayTheSide) {
    const auto dir = std::filesystem::temp_directory_path() / ("teacher-small-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    SelfPlayOptions options;
    options.out_dir = dir.string();
    options.games_per_chunk = 2;
    options.nodes_per_move = 300;
    options.board_side = 15;
    Teacher teacher;
    ASSERT_GT(run_chunk(teacher, options, 0), 0);
    const std::string path = (dir / "chunk-000000.bin").string();
    std::vector<PositionRecord> records;
    // A 20 x 20 run must neither read nor extend a 15 x 15 run's file.
    EXPECT_FALSE(read_record_file(path, &records));
    ASSERT_TRUE(read_record_file(path, &records, 15));
    for (const PositionRecord& r : records) {
        EXPECT_LT(r.move % kRecordSide, 15);
        EXPECT_LT(r.move / kRecordSide, 15);
        for (int cell = 0; cell < kRecordCells; ++cell) {
            if (cell % kRecordSide < 15 && cell / kRecordSide < 15) continue;
            ASSERT_FALSE(((r.own[cell >> 3] | r.opponent[cell >> 3]) >> (cell & 7)) & 1) << cell;
        }
    }
    std::ifstream file(path, std::ios::binary);
    std::array<char, kHeaderBytes> header{};
    file.read(header.data(), header.size());
    EXPECT_EQ(header[16], 15);
    std::filesystem::remove_all(dir);
}

TEST(TeacherSelfPlay, RecordsKeepCellsRowsAndFieldsApartAndFilesCheckTheirHeader) {
    // A 15 x 10 board: cells are stored row * 20 + column whatever the game's size.
    Board board(15, 10);
    board.place(to_index(14, 0), kBlack);
    board.place(to_index(0, 9), kWhite);
    board.place(to_index(3, 2), kBlack);
    const PositionRecord record = encode_position(board, kWhite);
    const auto has = [](const std::array<uint8_t, kPlaneBytes>& plane, int cell) {
        return ((plane[cell >> 3] >> (cell & 7)) & 1) != 0;
    };
    EXPECT_TRUE(has(record.opponent, 14) && has(record.opponent, 2 * 20 + 3) && has(record.own, 9 * 20));
    EXPECT_EQ(record.ply, 3);
    EXPECT_EQ(record_cell(to_index(19, 19)), 399);

    PositionRecord extreme = record;
    extreme.move = 399;
    extreme.ply = 400;
    extreme.game = 65535;
    extreme.value = -1;
    extreme.flags = kFlagSampled | kFlagProvenWin | kFlagDefence | kFlagStudent;
    const PositionRecord back = deserialize(serialize(extreme).data());
    EXPECT_EQ(serialize(back), serialize(extreme));
    EXPECT_EQ(back.value, -1);
    EXPECT_EQ(back.game, 65535);

    const auto path = std::filesystem::temp_directory_path() / ("teacher-records-" + std::to_string(::getpid()));
    ASSERT_TRUE(write_record_file(path.string(), {extreme, record}));
    std::vector<PositionRecord> read;
    ASSERT_TRUE(read_record_file(path.string(), &read));
    ASSERT_EQ(read.size(), 2u);
    // Another record version (byte 8 of the header) must not be read as this one.
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(8);
        file.put(static_cast<char>(kRecordVersion + 1));
    }
    EXPECT_FALSE(read_record_file(path.string(), &read));
    std::filesystem::remove(path);
    EXPECT_FALSE(read_record_file(path.string(), &read));
}

TEST(TeacherSelfPlay, BadOptionsAreUsageErrorsNotCrashes) {
    const auto dir = std::filesystem::temp_directory_path() / ("teacher-options-" + std::to_string(::getpid()));
    const auto run = [](std::vector<std::string> words) {
        words.insert(words.begin(), "selfplay");
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        return selfplay_main(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(run({"--out", dir.string(), "--chunks", "abc"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--nodes", "99999999999999999999999"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--games-per-chunk", "65536"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--worker", "2", "--workers", "2"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--frobnicate", "1"}), 2);
    EXPECT_EQ(run({"--out"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--board-side", "9"}), 2);
    EXPECT_EQ(run({"--out", dir.string(), "--board-side", "21"}), 2);
    // An output folder that cannot be made (a file is in the way) is a failure, reported.
    { std::ofstream(dir.string()) << "a file"; }
    EXPECT_EQ(run({"--out", (dir / "sub").string(), "--chunks", "1"}), 1);
    std::filesystem::remove(dir);
}

}  // namespace
