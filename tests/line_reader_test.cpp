// Reading protocol lines and numbers the way managers send them.
#include "protocol/line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/number_scan.h"

namespace {

std::vector<std::string> read_all(const std::string& input, bool* ended_cleanly = nullptr) {
    std::FILE* stream = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    protocol::stream_line_source source(stream);
    std::vector<std::string> lines;
    std::string line;
    while (source.read_command_line(line)) lines.push_back(line);
    // Whatever was left after the last full line was never returned.
    if (ended_cleanly) *ended_cleanly = input.empty() || input.back() == '\n';
    std::fclose(stream);
    return lines;
}

TEST(LineReader, StripsLineEndsAndKeepsEmptyLines) {
    EXPECT_EQ(read_all("INFO timeout_turn 5\r\n\nABOUT\n"),
              (std::vector<std::string>{"INFO timeout_turn 5", "", "ABOUT"}));
    EXPECT_EQ(read_all("\r\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(read_all("a\r\rb\n"), (std::vector<std::string>{"a\r\rb"}));
}

TEST(LineReader, APartialLastLineIsNeverReturned) {
    EXPECT_EQ(read_all("ABOUT\nEND"), (std::vector<std::string>{"ABOUT"}));
    EXPECT_TRUE(read_all("").empty());
}

TEST(LineReader, LongLinesKeepTheirFirst255Characters) {
    const std::string long_line(255, 'x');
    EXPECT_EQ(read_all(long_line + "\n")[0], long_line);
    const auto cut = read_all(std::string(300, 'y') + "\nNEXT\n");
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0], std::string(255, 'y'));
    EXPECT_EQ(cut[1], "NEXT");
    // A carriage return in 255th place goes as well.
    EXPECT_EQ(read_all(std::string(254, 'z') + "\r" + std::string(10, 'z') + "\n")[0], std::string(254, 'z'));
}

TEST(NumberScan, FollowsScanfRulesAndSaturates) {
    using protocol::scan_coordinates;
    EXPECT_TRUE(scan_coordinates("10,10"));
    EXPECT_TRUE(scan_coordinates(" +10,\t-3 trailing"));
    EXPECT_FALSE(scan_coordinates("10 ,10"));
    EXPECT_FALSE(scan_coordinates("10,"));
    EXPECT_FALSE(scan_coordinates("+,1"));
    EXPECT_FALSE(scan_coordinates("a,1"));
    const auto huge = scan_coordinates("4294967306,-99999999999");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->x, 2147483647);
    EXPECT_EQ(huge->y, -2147483647 - 1);
    EXPECT_TRUE(protocol::scan_size_pair("20 , 15"));
    EXPECT_FALSE(protocol::scan_board_stone("1,2"));
    const auto stone = protocol::scan_board_stone("1, 2, 3x");
    ASSERT_TRUE(stone);
    EXPECT_EQ(stone->who, 3);

    EXPECT_EQ(protocol::parse_info_integer("  -42ms"), -42);
    EXPECT_EQ(protocol::parse_info_integer("abc"), 0);
    EXPECT_EQ(protocol::parse_info_integer("2147483648"), 2147483647);
    EXPECT_EQ(protocol::parse_info_integer("-2147483648"), -2147483647 - 1);
}

}  // namespace
