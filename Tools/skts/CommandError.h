#pragma once
#include <stdexcept>
#include <string>

namespace Skts {

// A failure the user must be told about in one line; the tool exits with code 2.
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message) : std::runtime_error(message) {}
};

// Exit codes: 0 success, 1 an internal error (a bug: nothing the input or the system did),
// 2 bad input or output (unreadable or unusable input, an output that could not be written).
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitInternalError = 1;
inline constexpr int kExitBadInput = 2;

} // namespace Skts
