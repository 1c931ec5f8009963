// The command interpreter driven in-process against a recording player.
#include "protocol/command_interpreter.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "protocol/stop_rules.h"
#include "protocol_doubles.h"

namespace {

using test_support::player_double;
using test_support::player_log;
using test_support::recording_channel;
using test_support::scripted_lines;
using test_support::scripted_step;
using lines = std::vector<std::string>;
using stones = std::vector<std::pair<std::int32_t, std::int32_t>>;

class Interpreter : public ::testing::Test {
protected:
    Interpreter()
        : session_(channel_, [this](const play::player_settings& settings) { return make_player(settings); },
                   [] { return std::string("/opt/engine"); }),
          interpreter_(session_, lines_) {}

    std::unique_ptr<play::gomoku_player> make_player(const play::player_settings& settings) {
        if (!model_failure_.empty()) throw std::runtime_error(model_failure_);
        log_.created.push_back(settings);
        return std::make_unique<player_double>(log_, channel_);
    }

    /// Runs each line as the main loop would (BOARD takes its stone lines
    /// from the same queue), waits for the last think, returns the replies.
    lines run(const lines& input) {
        lines_.add(input);
        std::string line;
        while (lines_.read_command_line(line)) last_outcome_ = interpreter_.execute_command(line);
        session_.await_idle();
        return channel_.take();
    }

    recording_channel channel_;
    scripted_lines lines_;
    player_log log_;
    std::string model_failure_;
    protocol::engine_session session_;
    protocol::command_interpreter interpreter_;
    protocol::command_outcome last_outcome_ = protocol::command_outcome::carry_on;
};

TEST_F(Interpreter, CommandWordsMatchByCaseInsensitivePrefixInTableOrder) {
    EXPECT_EQ(run({"start 20"}), (lines{"OK"}));
    EXPECT_EQ(run({"Start 20"}), (lines{"father delete...", "OK"}));
    // PLAYER is PLAY with the parameter text "ER".
    EXPECT_EQ(run({"PLAYER"}), (lines{"ERROR bad coordinates"}));
    // RESTART and RECTSTART are not START.
    EXPECT_EQ(run({"RESTART"}), (lines{"father delete...", "OK"}));
    EXPECT_EQ(run({"RECTSTART 10,12"}), (lines{"father delete...", "OK"}));
    EXPECT_EQ(run({"", "STAR 20", "hello"}), (lines{"UNKNOWN command", "UNKNOWN command", "UNKNOWN command"}));
    EXPECT_EQ(run({"ABOUT me"}), (lines{R"(name="Orvalis", author="Kestrin", version="1.0", country="China", www="")"}));
    // ENDX ends the process like END, after destroying the player.
    EXPECT_EQ(run({"ENDX"}), (lines{"father delete..."}));
    EXPECT_EQ(last_outcome_, protocol::command_outcome::end_process);
    EXPECT_EQ(session_.current_player, nullptr);
}

TEST_F(Interpreter, StartValidatesTheSizeAndGameCommandsStartImplicitly) {
    EXPECT_EQ(run({"START 4"}), (lines{"ERROR bad START parameter"}));
    EXPECT_EQ(run({"START"}), (lines{"ERROR bad START parameter"}));
    EXPECT_EQ(session_.board_width, 0);
    // A game command without a game first starts 20 x 20 and says OK.
    log_.script = [](int) { return scripted_step{9, 9}; };
    EXPECT_EQ(run({"TURN 10,10"}), (lines{"OK", "9,9"}));
    EXPECT_EQ(session_.board_width, 20);
    EXPECT_EQ(session_.board_height, 20);
    EXPECT_EQ(session_.model_path, "/opt/engine/models/474/474_ncnn.qvm");
}

TEST_F(Interpreter, SizesAboveTheEnginesBoardAreRefusedAndLeaveThePlayer) {
    run({"START 15"});
    ASSERT_EQ(log_.created.size(), 1u);
    EXPECT_EQ(log_.created[0].width, 15);
    EXPECT_EQ(log_.created[0].height, 15);
    for (const char* command : {"START 21", "START 101", "RECTSTART 20,21", "RECTSTART 300,20"}) {
        EXPECT_EQ(run({command}), (lines{"ERROR Maximal board size is 20"})) << command;
        EXPECT_EQ(session_.board_width, 0) << command;
        EXPECT_EQ(session_.board_height, 0) << command;
    }
    EXPECT_EQ(log_.created.size(), 1u);
    EXPECT_EQ(log_.destroyed, 0);
    // The next game command starts 20 x 20 afresh.
    EXPECT_EQ(run({"PLAY 19,19"}), (lines{"father delete...", "OK", "19,19"}));
}

TEST_F(Interpreter, RectstartAcceptsBlanksAroundTheComma) {
    for (const char* command : {"RECTSTART 20,15", "RECTSTART 20 ,15", "RECTSTART 20, 15", "rectstart\t20 , 15"}) {
        run({command});
        EXPECT_EQ(session_.board_width, 20) << command;
        EXPECT_EQ(session_.board_height, 15) << command;
        EXPECT_EQ(log_.created.back().height, 15) << command;
    }
    for (const char* command : {"RECTSTART 20", "RECTSTART 20,4", "RECTSTART 4,20", "RECTSTART x"}) {
        EXPECT_EQ(run({command}), (lines{"ERROR bad RECTSTART parameters"})) << command;
        EXPECT_EQ(session_.board_width, 0);
        EXPECT_EQ(session_.board_height, 0);
    }
}

TEST_F(Interpreter, TurnAndPlayCoordinateForms) {
    run({"START 20"});
    log_.script = [](int) { return scripted_step{0, 0}; };
    EXPECT_EQ(run({"TURN 10 ,10"}), (lines{"ERROR bad coordinates"}));
    EXPECT_EQ(run({"TURN 20,3", "TURN -1,3", "TURN 3"}),
              (lines{"ERROR bad coordinates", "ERROR bad coordinates", "ERROR bad coordinates"}));
    EXPECT_EQ(log_.search_steps, 0);  // no think after bad coordinates
    EXPECT_EQ(run({"TURN 10, 10 and more"}), (lines{"0,0"}));
    EXPECT_EQ(run({"PLAY 5,6"}), (lines{"5,6"}));
    EXPECT_EQ(run({"TURN 99999999999,1"}), (lines{"ERROR bad coordinates"}));
    EXPECT_EQ(log_.stones, (stones{{10, 10}, {0, 0}, {5, 6}}));
    EXPECT_EQ(session_.manager_board[10][10], protocol::opponent_stone);
    EXPECT_EQ(session_.manager_board[0][0], protocol::own_stone);
}

TEST_F(Interpreter, StonesOnTakenCellsAreRefusedButTheCommandStillAnswers) {
    run({"START 20"});
    log_.script = [](int) { return scripted_step{0, 1}; };
    run({"TURN 3,3"});
    log_.script = [](int) { return scripted_step{1, 1}; };
    EXPECT_EQ(run({"TURN 3,3"}), (lines{"ERROR opponents's move [3,3]", "1,1"}));
    EXPECT_EQ(run({"PLAY 3,3"}), (lines{"ERROR my move [3,3]", "3,3"}));
    // The engine's own move onto a taken cell is refused and sent all the same.
    log_.script = [](int) { return scripted_step{3, 3}; };
    EXPECT_EQ(run({"BEGIN"}), (lines{"ERROR my move [3,3]", "3,3"}));
    EXPECT_EQ(session_.manager_board[3][3], protocol::opponent_stone);
    EXPECT_EQ(log_.stones, (stones{{3, 3}, {0, 1}, {1, 1}}));
}

TEST_F(Interpreter, MovesOutsideASmallBoardAreNeverRecorded) {
    run({"START 15"});
    log_.script = [](int) { return scripted_step{17, 2}; };
    EXPECT_EQ(run({"BEGIN"}), (lines{"ERROR my move [17,2]", "17,2"}));
    EXPECT_TRUE(log_.stones.empty());
}

TEST_F(Interpreter, BoardListsEndWithDoneAndReportBadEndings) {
    run({"START 20"});
    log_.script = [](int) { return scripted_step{9, 9}; };
    EXPECT_EQ(run({"BOARD", "1,1,1", "2,2,2", "done"}), (lines{"9,9"}));
    run({"RESTART"});
    EXPECT_EQ(run({"BOARD", "1,1,2", "DONE "}), (lines{"ERROR x,y,who or DONE expected after BOARD", "9,9"}));
    run({"RESTART"});
    // who 3 is recorded but not shown to the player; who 4 ends the list and
    // its line is consumed, not taken for a command.
    log_.stones.clear();
    EXPECT_EQ(run({"BOARD", "4,4,3", "5,5,2", "4,4,2", "6,6,4", "TAKEBACK 1,1"}),
              (lines{"ERROR opponents's move [4,4]", "ERROR x,y,who or DONE expected after BOARD", "9,9",
                     "UNKNOWN"}));
    EXPECT_EQ(session_.manager_board[4][4], protocol::winning_mark);
    EXPECT_EQ(log_.stones, (stones{{5, 5}, {9, 9}}));
    // A mark on a taken cell.
    log_.script = [](int) { return scripted_step{8, 8}; };
    EXPECT_EQ(run({"BOARD", "5,5,3", "DONE"}), (lines{"ERROR winning move [5,5]", "8,8"}));
}

TEST_F(Interpreter, BoardHandsStonesOverInAlternatingOrder) {
    run({"START 20"});
    log_.script = [](int) { return scripted_step{19, 19}; };
    // Equal counts: the engine moves next, so it moved first.
    run({"BOARD", "1,0,2", "2,0,2", "5,0,1", "6,0,1", "DONE"});
    EXPECT_EQ(log_.stones, (stones{{5, 0}, {1, 0}, {6, 0}, {2, 0}, {19, 19}}));

    run({"RESTART"});
    log_.stones.clear();
    // One more opponent stone: the opponent moved first.
    run({"BOARD", "5,1,1", "1,1,2", "2,1,2", "DONE"});
    EXPECT_EQ(log_.stones, (stones{{1, 1}, {5, 1}, {2, 1}, {19, 19}}));

    run({"RESTART"});
    log_.stones.clear();
    // Counts that alternating play cannot give: listed order. A refused stone
    // does not count.
    run({"BOARD", "5,2,1", "6,2,1", "1,2,2", "1,2,2", "DONE"});
    EXPECT_EQ(log_.stones, (stones{{5, 2}, {6, 2}, {1, 2}, {19, 19}}));
}

TEST_F(Interpreter, EndOfInputInsideABoardListEndsTheProcess) {
    run({"START 20"});
    run({"BOARD", "1,1,1"});
    EXPECT_EQ(last_outcome_, protocol::command_outcome::end_process);
    EXPECT_EQ(log_.destroyed, 0);  // the player is not destroyed at end of input
}

TEST_F(Interpreter, TakebackAnswersWithoutChangingAnything) {
    run({"START 20"});
    run({"PLAY 3,3"});
    EXPECT_EQ(run({"TAKEBACK 3,3", "TAKEBACK 30,3", "TAKEBACK"}),
              (lines{"UNKNOWN", "ERROR bad coordinates", "ERROR bad coordinates"}));
    EXPECT_EQ(session_.manager_board[3][3], protocol::own_stone);
    EXPECT_EQ(log_.stones.size(), 1u);
}

TEST_F(Interpreter, RestartClearsTheBoardButStartDoesNot) {
    run({"START 20", "PLAY 1,1"});
    EXPECT_EQ(run({"START 20"}), (lines{"father delete...", "OK"}));
    EXPECT_EQ(session_.manager_board[1][1], protocol::own_stone);
    EXPECT_EQ(run({"RESTART"}), (lines{"father delete...", "OK"}));
    EXPECT_EQ(session_.manager_board[1][1], protocol::empty_cell);
    EXPECT_EQ(log_.created.size(), 3u);
    EXPECT_EQ(log_.destroyed, 2);
}

TEST_F(Interpreter, InfoSetsLimitsSilently) {
    EXPECT_EQ(run({"INFO timeout_turn 5000", "INFO TIME_LEFT -7", "INFO max_memory 367001600",
                   "INFO timeout_match 100", "INFO rule 1", "INFO folder /tmp", "INFO", "INFO nonsense 5"}),
              (lines{}));
    EXPECT_EQ(session_.timeout_turn, 5000);
    EXPECT_EQ(session_.time_left, -7);
    EXPECT_EQ(session_.max_memory, 367001600);
    run({"INFO timeout_turn soon", "INFO time_left 99999999999", "INFO max_memory -99999999999"});
    EXPECT_EQ(session_.timeout_turn, 0);
    EXPECT_EQ(session_.time_left, 2147483647);
    EXPECT_EQ(session_.max_memory, -2147483647 - 1);
}

TEST_F(Interpreter, InfoSearchModeReachesTheNextThinkAndABadNameIsRefused) {
    run({"START 20", "INFO timeout_turn 2000"});
    run({"BEGIN"});
    ASSERT_EQ(log_.plans.size(), 1u);
    // The solver's share is of the turn, not cut by the first think's handicap.
    EXPECT_EQ(log_.plans.back(), std::make_pair(1800, true));
    int column = 10;
    log_.script = [&column](int) { return scripted_step{column, 10}; };
    EXPECT_EQ(run({"INFO search_mode plain", "TURN 1,1"}), (lines{"10,10"}));
    EXPECT_FALSE(log_.plans.back().second);
    column = 11;
    EXPECT_EQ(run({"INFO SEARCH_MODE   Threat  ", "TURN 2,2"}), (lines{"11,10"}));
    EXPECT_TRUE(log_.plans.back().second);
    EXPECT_EQ(run({"INFO search_mode fast"}), (lines{"ERROR unknown search mode 'fast' (plain or threat)"}));
    EXPECT_EQ(run({"INFO search_mode"}), (lines{"ERROR unknown search mode '' (plain or threat)"}));
    column = 12;
    run({"TURN 3,3"});
    EXPECT_TRUE(log_.plans.back().second);
}

TEST_F(Interpreter, AModelThatCannotLoadLeavesNoGameAndIsTriedAgain) {
    model_failure_ = "/opt/engine/models/474/474_ncnn.qvm: file not found";
    EXPECT_EQ(run({"START 20"}), (lines{"ERROR cannot load the model: /opt/engine/models/474/474_ncnn.qvm: file not found"}));
    EXPECT_EQ(session_.board_width, 0);
    EXPECT_EQ(session_.current_player, nullptr);
    // Every command that needs the player says so instead of calling it; a
    // BOARD list is swallowed whole.
    const lines turn = run({"TURN 1,1"});
    ASSERT_EQ(turn.size(), 2u);
    EXPECT_EQ(turn[1], "ERROR no game is running: the engine could not load its model");
    const lines board = run({"BOARD", "1,1,1", "2,2,2", "DONE"});
    EXPECT_EQ(board.size(), 2u);
    model_failure_ = "bad magic";
    EXPECT_EQ(run({"RESTART"}), (lines{"ERROR cannot load the model /opt/engine/models/474/474_ncnn.qvm: bad magic"}));
    model_failure_.clear();
    EXPECT_EQ(run({"TURN 1,1"}), (lines{"OK", "0,0"}));
}

TEST_F(Interpreter, AThinkThatNeverSettlesStopsAfter5000Steps) {
    run({"START 20"});
    // The reported move alternates, so the think never settles; the default
    // limits leave it 27 s, far more than 5000 instant steps need.
    log_.script = [](int step) { return scripted_step{step % 2, 5}; };
    run({"BEGIN"});
    EXPECT_EQ(log_.search_steps, protocol::max_think_steps);
}

TEST_F(Interpreter, AFailedSearchStillAnswersWithALegalMove) {
    run({"START 15"});
    log_.search_failure = "out of memory";
    EXPECT_EQ(run({"TURN 7,7"}), (lines{"ERROR search failed: out of memory", "6,7"}));
    EXPECT_EQ(session_.manager_board[6][7], protocol::own_stone);
}

TEST_F(Interpreter, InfoAndAboutAreAnsweredDuringAThinkAndEndWaitsForTheMove) {
    run({"START 20"});
    std::atomic<bool> release{false};
    log_.script = [&](int) {
        while (!release) std::this_thread::yield();
        return scripted_step{4, 4};
    };
    lines_.add({"BEGIN", "ABOUT", "INFO timeout_turn 0"});
    std::string line;
    while (lines_.read_command_line(line)) interpreter_.execute_command(line);
    // The think is stuck, yet ABOUT was answered.
    EXPECT_EQ(channel_.take().size(), 1u);
    release = true;
    EXPECT_EQ(run({"END"}), (lines{"4,4", "father delete..."}));
    EXPECT_EQ(last_outcome_, protocol::command_outcome::end_process);
}

}  // namespace
