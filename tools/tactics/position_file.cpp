#include "tools/tactics/position_file.h"

#include <cctype>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sstream>

namespace tactics {
namespace {

constexpr const char* kCategoryNames[] = {"vcf", "win-in-one", "defend-vcf", "defend-three"};

std::string point_text(const Point& p) { return std::to_string(p.x) + "," + std::to_string(p.y); }

std::optional<Point> parse_point(const std::string& text) {
    Point p;
    char comma = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &p.x, &comma, &p.y, &extra) != 3 || comma != ',') {
        return std::nullopt;
    }
    return p;
}

std::optional<std::vector<Point>> parse_points(std::istringstream& words) {
    std::vector<Point> points;
    std::string word;
    while (words >> word) {
        const auto p = parse_point(word);
        if (!p) return std::nullopt;
        points.push_back(*p);
    }
    return points;
}

}  // namespace

const char* category_name(Category category) { return kCategoryNames[static_cast<int>(category)]; }

std::optional<Category> category_from_name(const std::string& name) {
    for (int i = 0; i < 4; ++i) {
        if (name == kCategoryNames[i]) return static_cast<Category>(i);
    }
    return std::nullopt;
}

std::vector<std::string> draw(const Position& position) {
    std::vector<std::string> rows(position.height, std::string(position.width, '.'));
    auto inside = [&](const Point& p) { return p.x >= 0 && p.y >= 0 && p.x < position.width && p.y < position.height; };
    for (size_t i = 0; i < position.moves.size(); ++i) {
        if (inside(position.moves[i])) rows[position.moves[i].y][position.moves[i].x] = i % 2 == 0 ? 'X' : 'O';
    }
    for (const Point& p : position.answers) {
        if (inside(p) && rows[p.y][p.x] == '.') rows[p.y][p.x] = '*';
    }
    return rows;
}

void write_position(std::ostream& out, const Position& position) {
    out << "position " << position.id << ' ' << category_name(position.category) << ' ' << position.width << 'x'
        << position.height << '\n';
    out << "to-move " << (position.black_to_move() ? "black" : "white") << '\n';
    if (position.category == Category::kVcf) out << "proof " << position.proof_length << '\n';
    out << "answers";
    for (const Point& p : position.answers) out << ' ' << point_text(p);
    out << "\nmoves";
    for (const Point& p : position.moves) out << ' ' << point_text(p);
    out << "\n#    ";
    for (int x = 0; x < position.width; ++x) out << ' ' << x % 10;
    out << '\n';
    const std::vector<std::string> rows = draw(position);
    for (int y = 0; y < position.height; ++y) {
        char label[16];
        std::snprintf(label, sizeof label, "%3d |", y);
        out << label;
        for (char cell : rows[y]) out << ' ' << cell;
        out << '\n';
    }
    out << "end\n\n";
}

std::optional<std::vector<Position>> read_positions(std::istream& in, std::string* error) {
    std::vector<Position> positions;
    std::optional<Position> open;  // the block being read
    std::string line;
    int line_number = 0;
    auto fail = [&](const std::string& why) {
        *error = "line " + std::to_string(line_number) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++line_number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key.empty()) continue;
        if (key == "position") {
            if (open) return fail("position before the previous block's end");
            Position p;
            std::string category;
            std::string size;
            char x = 0;
            words >> p.id >> category;
            words >> size;
            const auto parsed = category_from_name(category);
            if (p.id.empty() || !parsed) return fail("expected: position <id> <category> <width>x<height>");
            if (std::sscanf(size.c_str(), "%d%c%d", &p.width, &x, &p.height) != 3 || x != 'x') {
                return fail("bad board size '" + size + "'");
            }
            p.category = *parsed;
            open = p;
            continue;
        }
        if (!open) return fail("'" + key + "' outside a position block");
        if (key == "to-move") {
            words >> open->stated_to_move;
        } else if (key == "proof") {
            if (!(words >> open->proof_length) || open->proof_length < 1) return fail("bad proof length");
        } else if (key == "answers" || key == "moves") {
            const auto points = parse_points(words);
            if (!points) return fail("bad x,y in '" + key + "'");
            (key == "answers" ? open->answers : open->moves) = *points;
        } else if (key == "end") {
            // The side to move must follow from the counts, and the drawing from the stones.
            const char* side = open->black_to_move() ? "black" : "white";
            if (open->stated_to_move != side) return fail(open->id + ": to-move must be " + side);
            if (open->drawing != draw(*open)) return fail(open->id + ": the drawing does not match the stones");
            positions.push_back(std::move(*open));
            open.reset();
        } else if (std::isdigit(static_cast<unsigned char>(key[0]))) {
            // A drawn row: "<row> | c c c ...".
            std::string bar;
            std::string row;
            words >> bar;
            char cell = 0;
            while (words >> cell) row += cell;
            if (bar != "|" || std::stoi(key) != static_cast<int>(open->drawing.size())) return fail("bad board row");
            open->drawing.push_back(row);
        } else {
            return fail("unknown line '" + key + "'");
        }
    }
    if (open) return fail("missing end after position " + open->id);
    return positions;
}

}  // namespace tactics
