#include "play/board_printer.h"

#include <cstdio>
#include <sstream>

namespace play {
namespace {

constexpr int cell_width = 4;
constexpr int row_line_length = board_size * cell_width + 1;  // 81

char stone_character(std::int8_t colour) {
    if (colour == black) return '#';
    if (colour == white) return 'O';
    return ' ';
}

std::string border_line() {
    std::string line(row_line_length, '-');
    for (int position = 0; position < row_line_length; position += cell_width) line[position] = '+';
    return line;
}

}  // namespace

std::string board_picture(const board_state& board) {
    const std::string border = border_line();
    std::ostringstream out;
    out << "step" << board.stones << '\n' << border << '\n';
    for (int row = 0; row < board_size; ++row) {
        std::string line(row_line_length, ' ');
        for (int column = 0; column <= board_size; ++column) line[column * cell_width] = '|';
        for (int column = 0; column < board_size; ++column)
            line[column * cell_width + 2] = stone_character(board.cells[cell_index(row, column)]);
        if (row == board.last_row && board.last_col >= 0) {
            line[board.last_col * cell_width] = '[';
            line[board.last_col * cell_width + cell_width] = ']';
        }
        out << line << ' ' << (board_size - row) << '\n' << border << '\n';
    }
    for (int column = 0; column < board_size; ++column) {
        char label[8];
        std::snprintf(label, sizeof label, "  %-2c", 'A' + column);
        out << label;
    }
    out << '\n';
    return out.str();
}

std::string result_line(const board_state& board) {
    if (!board.over) return "Game is not over yet.";
    std::string line = "Game over! Result: ";
    if (board.winner == black) return line + "BLACK \"#\" WINS";
    if (board.winner == white) return line + "WHITE \"O\" WINS";
    return line + "DRAW";
}

std::string timer_line(const std::map<std::int32_t, double>& totals) {
    std::ostringstream out;
    bool first = true;
    for (const auto& [id, seconds] : totals) {
        out << (first ? "CP" : ", CP") << id << '=' << seconds;
        first = false;
    }
    return out.str();
}

}  // namespace play
