#pragma once
// PIDs as users write them on the command line and as the tool names them.
#include <cstdint>
#include <string>

namespace Skts {

// 0 to 8191, decimal or hex with 0x; anything else throws CommandError.
uint32_t ParsePid(const std::string& text);
// "0x0100".
std::string PidName(uint32_t pid);

} // namespace Skts
