#pragma once
// Bit reading with the Exp-Golomb codes ue(v) and se(v) of H.264 / HEVC parameter sets.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "BitReader.h"

namespace SklibTs {

// A code with more than 31 leading zero bits: no valid syntax element is that long.
class InvalidExpGolombExc : public std::exception {
public:
    const char* what() const noexcept override { return "InvalidExpGolombExc: code too long"; }
};

class ExpGolombReader {
public:
    ExpGolombReader(const uint8_t* begin, const uint8_t* end) : bits_(begin, end) {}

    uint32_t Bits(int n) { return bits_.ReadBits(n); }
    bool Flag() { return bits_.ReadFlag(); }
    void Skip(int n) { bits_.SkipBits(n); }
    size_t BitsLeft() const { return bits_.BitsLeft(); }

    uint32_t ReadUe();
    int32_t ReadSe();

private:
    BitReader bits_;
};

} // namespace SklibTs
