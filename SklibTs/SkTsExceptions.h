#pragma once
#include <exception>

namespace SklibTs {

// Thrown by packet accessors on a packet shorter than 188 bytes or without a buffer.
class InvalidTpBufferExc : public std::exception {
public:
    const char* what() const noexcept override { return "TP buffer is invalid"; }
};

// Thrown by BitReader instead of reading past the end of its range.
class InvalidBitIdxExc : public std::exception {
public:
    const char* what() const noexcept override { return "InvalidBitIdxExc: Read outside the buffer"; }
};

} // namespace SklibTs
