#include "protocol/command_interpreter.h"

#include <array>
#include <string>
#include <vector>

#include "protocol/number_scan.h"
#include "search/search_mode.h"

namespace protocol {
namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view skip_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && begins_with_word(a, b);
}

}  // namespace

bool begins_with_word(std::string_view line, std::string_view word) {
    if (line.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(line[i]) != lower(word[i])) return false;
    return true;
}

command_outcome command_interpreter::execute_command(std::string_view line) {
    // Tried in this order; the first word the line begins with decides, so
    // "ENDX" is END and "PLAYER" is PLAY.
    static constexpr std::array<command, 11> commands{{
        {"info", &command_interpreter::info},
        {"start", &command_interpreter::start},
        {"rectstart", &command_interpreter::rectstart},
        {"restart", &command_interpreter::restart},
        {"turn", &command_interpreter::turn},
        {"play", &command_interpreter::play},
        {"begin", &command_interpreter::begin},
        {"about", &command_interpreter::about},
        {"end", &command_interpreter::end},
        {"board", &command_interpreter::board},
        {"takeback", &command_interpreter::takeback},
    }};
    for (const command& candidate : commands)
        if (begins_with_word(line, candidate.word))
            return (this->*candidate.run)(skip_blanks(line.substr(candidate.word.size())));
    session_.replies().reply("UNKNOWN command");
    return command_outcome::carry_on;
}

bool command_interpreter::prepare_game() {
    session_.await_idle();
    if (session_.board_width == 0) {
        session_.board_width = 20;
        session_.board_height = 20;
        session_.engine_start();
    }
    return session_.current_player != nullptr;
}

void command_interpreter::reply_no_player() {
    session_.replies().reply("ERROR no game is running: the engine could not load its model");
}

bool command_interpreter::record_stone(std::int32_t x, std::int32_t y, cell_code code, const char* taken_format) {
    std::int32_t& cell = session_.manager_board[x][y];
    if (cell != empty_cell) {
        session_.replies().reply(taken_format, x, y);
        return false;
    }
    cell = code;
    return true;
}

command_outcome command_interpreter::info(std::string_view parameters) {
    // Tried in this order; no key begins another, so at most one matches.
    struct numeric_key {
        std::string_view key;
        std::atomic<std::int32_t>* setting;  // null: read and ignored
    };
    const std::array<numeric_key, 6> numeric_keys{{
        {"max_memory", &session_.max_memory},
        {"timeout_match", nullptr},
        {"timeout_turn", &session_.timeout_turn},
        {"time_left", &session_.time_left},
        {"game_type", nullptr},
        {"rule", nullptr},
    }};
    for (const numeric_key& entry : numeric_keys) {
        if (!begins_with_word(parameters, entry.key)) continue;
        const std::int32_t value = parse_info_integer(parameters.substr(entry.key.size()));
        if (entry.setting) *entry.setting = value;
        return command_outcome::carry_on;
    }
    // The search mode applies from the next think on; a manager that does
    // not know the key never sends it.
    if (begins_with_word(parameters, "search_mode")) {
        std::string_view value = parameters.substr(std::string_view("search_mode").size());
        while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
        while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
        std::string name(value);
        for (char& c : name) c = lower(c);
        if (const auto mode = search::mode_named(name)) {
            session_.threat_search = *mode == search::search_mode::threat_aware;
        } else {
            session_.replies().reply("ERROR unknown search mode '%.*s' (plain or threat)", static_cast<int>(value.size()),
                                     value.data());
        }
        return command_outcome::carry_on;
    }
    // "folder" is accepted and has no effect; anything else is ignored.
    return command_outcome::carry_on;
}

command_outcome command_interpreter::start(std::string_view parameters) {
    const auto size = scan_int(parameters);
    if (size && *size >= min_board_size) {
        session_.await_idle();
        session_.board_width = *size;
        session_.board_height = *size;
        session_.engine_start();
    } else {
        session_.board_width = 0;
        session_.replies().reply("ERROR bad START parameter");
    }
    return command_outcome::carry_on;
}

command_outcome command_interpreter::rectstart(std::string_view parameters) {
    const auto size = scan_size_pair(parameters);
    if (size && size->x >= min_board_size && size->y >= min_board_size) {
        session_.await_idle();
        session_.board_width = size->x;
        session_.board_height = size->y;
        session_.engine_start();
    } else {
        session_.clear_game_size();
        session_.replies().reply("ERROR bad RECTSTART parameters");
    }
    return command_outcome::carry_on;
}

command_outcome command_interpreter::restart(std::string_view) {
    prepare_game();
    if (session_.board_width == 0) return command_outcome::carry_on;  // the start failed and said why
    for (std::int32_t x = 0; x < session_.board_width; ++x)
        for (std::int32_t y = 0; y < session_.board_height; ++y) session_.manager_board[x][y] = empty_cell;
    session_.release_player();
    if (session_.create_player()) session_.replies().reply("OK");
    return command_outcome::carry_on;
}

std::optional<coordinates> command_interpreter::prepare_move(std::string_view parameters) {
    if (!prepare_game()) {
        reply_no_player();
        return std::nullopt;
    }
    const auto move = scan_coordinates(parameters);
    if (!move || !session_.on_board(move->x, move->y)) {
        session_.replies().reply("ERROR bad coordinates");
        return std::nullopt;
    }
    return move;
}

command_outcome command_interpreter::turn(std::string_view parameters) {
    const auto move = prepare_move(parameters);
    if (!move) return command_outcome::carry_on;
    if (record_stone(move->x, move->y, opponent_stone, "ERROR opponents's move [%d,%d]"))
        session_.current_player->make_move(move->x, move->y);
    session_.request_think();
    return command_outcome::carry_on;
}

command_outcome command_interpreter::play(std::string_view parameters) {
    const auto move = prepare_move(parameters);
    if (!move) return command_outcome::carry_on;
    if (record_stone(move->x, move->y, own_stone, "ERROR my move [%d,%d]"))
        session_.current_player->make_move(move->x, move->y);
    session_.replies().reply("%d,%d", move->x, move->y);
    return command_outcome::carry_on;
}

command_outcome command_interpreter::begin(std::string_view) {
    if (!prepare_game()) {
        reply_no_player();
        return command_outcome::carry_on;
    }
    session_.request_think();
    return command_outcome::carry_on;
}

command_outcome command_interpreter::about(std::string_view) {
    session_.replies().reply(R"(name="Orvalis", author="Kestrin", version="1.0", country="China", www="")");
    return command_outcome::carry_on;
}

command_outcome command_interpreter::end(std::string_view) {
    session_.await_idle();
    session_.release_player();
    return command_outcome::end_process;
}

command_outcome command_interpreter::board(std::string_view) {
    const bool has_player = prepare_game();
    // The player colours stones by the order it receives them, but a manager
    // may list a position's stones in any order. Collect the accepted stones
    // and hand them over once the list has ended, alternating colours.
    std::vector<coordinates> own, opponent, listed;
    std::string line;
    for (;;) {
        if (!lines_.read_command_line(line)) return command_outcome::end_process;
        const auto stone = scan_board_stone(line);
        if (!has_player) {
            // No game to record into: swallow the list so its lines are not
            // taken for commands.
            if (stone) continue;
            break;
        }
        if (!stone || !session_.on_board(stone->x, stone->y)) break;
        const coordinates cell{stone->x, stone->y};
        if (stone->who == own_stone) {
            if (record_stone(cell.x, cell.y, own_stone, "ERROR my move [%d,%d]")) {
                own.push_back(cell);
                listed.push_back(cell);
            }
        } else if (stone->who == opponent_stone) {
            if (record_stone(cell.x, cell.y, opponent_stone, "ERROR opponents's move [%d,%d]")) {
                opponent.push_back(cell);
                listed.push_back(cell);
            }
        } else if (stone->who == winning_mark) {
            record_stone(cell.x, cell.y, winning_mark, "ERROR winning move [%d,%d]");
        } else {
            break;
        }
    }

    if (!has_player) {
        reply_no_player();
        return command_outcome::carry_on;
    }

    // The engine moves next. Equal counts: it moved first. One more opponent
    // stone: the opponent moved first. Any other counts cannot come from
    // alternating play; those go in the listed order.
    std::vector<coordinates> order;
    if (own.size() == opponent.size() || opponent.size() == own.size() + 1) {
        const auto& first = own.size() == opponent.size() ? own : opponent;
        const auto& second = own.size() == opponent.size() ? opponent : own;
        for (std::size_t i = 0; i < first.size(); ++i) {
            order.push_back(first[i]);
            if (i < second.size()) order.push_back(second[i]);
        }
    } else {
        order = listed;
    }
    for (const coordinates& cell : order) session_.current_player->make_move(cell.x, cell.y);

    if (!equals_ignoring_case(line, "done")) session_.replies().reply("ERROR x,y,who or DONE expected after BOARD");
    session_.request_think();
    return command_outcome::carry_on;
}

command_outcome command_interpreter::takeback(std::string_view parameters) {
    prepare_game();
    const auto move = scan_coordinates(parameters);
    if (move && session_.on_board(move->x, move->y))
        session_.replies().reply("UNKNOWN");
    else
        session_.replies().reply("ERROR bad coordinates");
    return command_outcome::carry_on;
}

}  // namespace protocol
