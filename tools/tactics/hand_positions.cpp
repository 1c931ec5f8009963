#include "tools/tactics/hand_positions.h"

namespace tactics {
namespace {

/// A position from its black and white stones (the counts must allow alternate play).
Position from_stones(int side, const std::vector<Point>& black, const std::vector<Point>& white,
                     const std::vector<Point>& answers) {
    Position p;
    p.category = Category::kWinInOne;
    p.width = p.height = side;
    for (size_t i = 0; i < black.size() || i < white.size(); ++i) {
        if (i < black.size()) p.moves.push_back(black[i]);
        if (i < white.size()) p.moves.push_back(white[i]);
    }
    p.answers = answers;
    return p;
}

}  // namespace

std::vector<Position> hand_made_wins() {
    return {
        // Our four on the left edge, theirs above it on the same edge: black to move, 4 stones each.
        from_stones(15, {{0, 9}, {0, 10}, {0, 11}, {0, 12}}, {{0, 0}, {0, 1}, {0, 2}, {0, 3}},
                    {{0, 8}, {0, 13}}),
        // White to move: its four on the bottom edge ends in the corner's neighbour; black's four
        // runs down the right edge from the top corner.
        from_stones(15, {{14, 0}, {14, 1}, {14, 2}, {14, 3}, {7, 7}}, {{0, 14}, {1, 14}, {2, 14}, {3, 14}},
                    {{4, 14}}),
        // Our diagonal four from next to the corner; theirs on the right edge, open at both ends.
        from_stones(20, {{1, 1}, {2, 2}, {3, 3}, {4, 4}}, {{19, 15}, {19, 16}, {19, 17}, {19, 18}},
                    {{0, 0}, {5, 5}}),
        // Our anti-diagonal four is blocked inside, so only the corner cell completes it; their
        // four on the left edge is blocked above by our stone.
        from_stones(20, {{18, 1}, {17, 2}, {16, 3}, {15, 4}, {0, 9}}, {{0, 10}, {0, 11}, {0, 12}, {0, 13}, {14, 5}},
                    {{19, 0}}),
        // A split four on the bottom edge against a split four on the right edge.
        from_stones(15, {{5, 14}, {6, 14}, {8, 14}, {9, 14}}, {{14, 5}, {14, 6}, {14, 7}, {14, 9}}, {{7, 14}}),
        // Their open four on the bottom edge does not matter: our five on the right edge comes first.
        from_stones(20, {{19, 10}, {19, 11}, {19, 12}, {19, 13}}, {{5, 19}, {6, 19}, {7, 19}, {8, 19}},
                    {{19, 9}, {19, 14}}),
    };
}

}  // namespace tactics
