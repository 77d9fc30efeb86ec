#pragma once
#include <stdexcept>
#include <string>

namespace Skts {

// A failure the user must be told about in one line; the tool exits with code 2.
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message) : std::runtime_error(message) {}
};

inline constexpr int kExitBadInput = 2;

} // namespace Skts
