#pragma once
#include <string>
#include <string_view>

namespace Skts {

// Stream text for the readable report: valid UTF-8 in which nothing can steer the terminal.
// Control characters (C0, DEL, C1), the bidirectional overrides and the backslash are shown
// escaped ("\x1b", "\u009b", "\u202e", "\\"); everything else is printed as it is.
std::string ForTerminal(std::string_view text);

} // namespace Skts
