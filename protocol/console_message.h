#pragma once

namespace protocol {

/// Written once when the engine is started by hand on a console; the
/// protocol is then served on the console all the same.
inline constexpr const char* console_message =
    "MESSAGE Gomoku AI should not be started directly. Please install gomoku manager "
    "(https://sourceforge.net/projects/piskvork/). Then enter path to this exe file in players settings.";

}  // namespace protocol
