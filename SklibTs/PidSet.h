#pragma once
// A set of PIDs as a bit map: O(1) insert and erase, and visits in PID order that cost one
// word test per 64 PIDs, so periodic passes over sparse PID tables stay cheap.
#include <array>
#include <bit>
#include <cstdint>

#include "SkTsTypes.h"

namespace SklibTs {

class PidSet {
public:
    void Insert(uint32_t pid) { words_[pid >> 6] |= uint64_t{1} << (pid & 63); }
    void Erase(uint32_t pid) { words_[pid >> 6] &= ~(uint64_t{1} << (pid & 63)); }
    bool Contains(uint32_t pid) const { return (words_[pid >> 6] >> (pid & 63)) & 1; }
    void Clear() { words_.fill(0); }

    // Calls visit(pid) for every member in ascending order; visit may erase the PID it is given.
    template <typename Visit>
    void ForEach(Visit visit) const
    {
        for (uint32_t word = 0; word < kWords; ++word) {
            uint64_t bits = words_[word];
            while (bits != 0) {
                const uint32_t bit = static_cast<uint32_t>(std::countr_zero(bits));
                bits &= bits - 1;
                visit(word * 64 + bit);
            }
        }
    }

private:
    static constexpr uint32_t kWords = kPidCount / 64;
    std::array<uint64_t, kWords> words_{};
};

} // namespace SklibTs
