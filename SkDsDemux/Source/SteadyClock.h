#pragma once
#include <chrono>
#include <cstdint>
#include <functional>

namespace DsDemux {

/// The monotonic clock in nanoseconds; the engine takes it as a function so tests can drive it.
using SteadyClock = std::function<int64_t()>;

/// The monotonic clock now, in nanoseconds: the engine's default SteadyClock.
inline int64_t SteadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace DsDemux
