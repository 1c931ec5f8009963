// orvalis-loss-audit: where lost games were lost to threats (loss_audit.h).
//
//   orvalis-loss-audit [--board N] [--attack-nodes N] [--alternative-nodes N] < games
//
// One game a line: `ID LOSER OPENING_STONES x,y x,y ...` with LOSER `b` or `w` and the moves black
// first, the opening included (audit_record.py writes these from a match record). Prints one line a
// game and a summary.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/loss-audit/loss_audit.h"

namespace {

struct Options {
    int board = 20;
    loss_audit::Budget budget;
};

Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) throw std::runtime_error("missing value after " + name);
        const long long value = std::stoll(argv[++i]);
        if (name == "--board" && value >= 5 && value <= threat::kMaxSide) options.board = static_cast<int>(value);
        else if (name == "--attack-nodes" && value > 0) options.budget.attack_nodes = value;
        else if (name == "--alternative-nodes" && value > 0) options.budget.alternative_nodes = value;
        else throw std::runtime_error("bad option " + name + " " + argv[i]);
    }
    return options;
}

// Reads "x,y" cells onto the board, rejecting cells off it or repeated.
std::vector<int> parse_moves(std::istringstream& in, int side) {
    std::vector<int> moves;
    std::vector<bool> seen(threat::kCells, false);
    std::string token;
    while (in >> token) {
        int x = -1, y = -1;
        char comma = 0;
        std::istringstream cell(token);
        if (!(cell >> x >> comma >> y) || comma != ',' || x < 0 || y < 0 || x >= side || y >= side)
            throw std::runtime_error("bad cell " + token);
        const int index = threat::to_index(x, y);
        if (seen[index]) throw std::runtime_error("repeated cell " + token);
        seen[index] = true;
        moves.push_back(index);
    }
    return moves;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parse_options(argc, argv);
        threat::ThreatSolver solver;
        int games = 0, found = 0, held_at_loss = 0, held_before = 0, own_missed = 0;
        std::string line;
        while (std::getline(std::cin, line)) {
            std::istringstream in(line);
            std::string id, loser;
            int opening = 0;
            if (!(in >> id)) continue;
            if (!(in >> loser >> opening) || (loser != "b" && loser != "w") || opening < 0)
                throw std::runtime_error("bad game line: " + line);
            const std::vector<int> moves = parse_moves(in, options.board);
            const loss_audit::GameAudit audit =
                loss_audit::audit_game(options.board, options.board, moves, opening,
                                       loser == "b" ? threat::kBlack : threat::kWhite, options.budget, solver);
            ++games;
            if (audit.lost_at < 0) {
                std::printf("%s no loss to threats found (%zu plies)\n", id.c_str(), moves.size());
                continue;
            }
            ++found;
            held_at_loss += audit.at_loss.held > 0;
            held_before += audit.at_previous.held > 1;
            own_missed += audit.own_win_missed;
            std::printf("%s lost at ply %d of %zu%s; other moves holding there %d of %d (%d unknown), "
                        "at the move before %d of %d (%d unknown)\n",
                        id.c_str(), audit.lost_at + 1, moves.size(), audit.own_win_missed ? ", own win missed" : "",
                        audit.at_loss.held, audit.at_loss.tried, audit.at_loss.unknown, audit.at_previous.held,
                        audit.at_previous.tried, audit.at_previous.unknown);
            std::fflush(stdout);
        }
        std::printf("%d games: %d lost to threats; a move that held at that point in %d; more than one move "
                    "holding at the move before in %d; own win missed in %d\n",
                    games, found, held_at_loss, held_before, own_missed);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "orvalis-loss-audit: %s\n", error.what());
        return 1;
    }
}
