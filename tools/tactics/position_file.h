// The tactics suite's position file: one block of text per position, readable by people (the
// board is drawn) and by tools (the generator writes it, the test and the runner read it).
// The format is described in README.md beside this file.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace tactics {

enum class Category { kVcf, kWinInOne, kDefendVcf, kDefendThree };

/// The name used in the file ("vcf", "win-in-one", "defend-vcf", "defend-three").
const char* category_name(Category category);
std::optional<Category> category_from_name(const std::string& name);

struct Point {
    int x = 0;  // column
    int y = 0;  // row
    bool operator==(const Point&) const = default;
};

struct Position {
    std::string id;
    Category category = Category::kVcf;
    int width = 20;
    int height = 20;
    /// The stones in a playable order: black first, then the colours alternate.
    std::vector<Point> moves;
    /// Attacker moves before the five in the shortest win by fours (vcf only; 0 otherwise).
    int proof_length = 0;
    /// Every move that passes, in row-major order.
    std::vector<Point> answers;
    /// The board as drawn in the file (rows of 'X' black, 'O' white, '*' answer, '.' empty);
    /// filled by read_positions only, so that a test can check it against the stones.
    std::vector<std::string> drawing;
    /// The file's "to-move" word; read_positions checks it against the stone counts.
    std::string stated_to_move;

    bool black_to_move() const { return moves.size() % 2 == 0; }
};

/// The drawing of `position`: one string per row, cells as in Position::drawing.
std::vector<std::string> draw(const Position& position);

void write_position(std::ostream& out, const Position& position);

/// Reads every block of `in`. On a malformed block, returns nothing and sets *error to a message
/// that names the line.
std::optional<std::vector<Position>> read_positions(std::istream& in, std::string* error);

}  // namespace tactics
