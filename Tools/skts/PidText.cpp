#include "PidText.h"

#include <cstdio>
#include <exception>

#include "CommandError.h"

namespace Skts {

uint32_t ParsePid(const std::string& text)
{
    size_t used = 0;
    unsigned long value = 0;
    try {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        value = std::stoul(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
        used += hex ? 2 : 0;
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || value > 0x1FFF)
        throw CommandError("bad PID '" + text + "' (0 to 8191, decimal or hex with 0x)");
    return static_cast<uint32_t>(value);
}

std::string PidName(uint32_t pid)
{
    char name[16];
    std::snprintf(name, sizeof name, "0x%04x", pid);
    return name;
}

} // namespace Skts
