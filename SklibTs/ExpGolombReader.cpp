#include "ExpGolombReader.h"

namespace SklibTs {

uint32_t ExpGolombReader::ReadUe()
{
    int leadingZeros = 0;
    while (!bits_.ReadFlag()) {
        if (++leadingZeros > 31)
            throw InvalidExpGolombExc();
    }
    const uint64_t suffix = bits_.ReadBits(leadingZeros);
    return static_cast<uint32_t>((uint64_t{1} << leadingZeros) - 1 + suffix);
}

int32_t ExpGolombReader::ReadSe()
{
    const uint32_t code = ReadUe();
    // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
    const auto magnitude = static_cast<int64_t>((uint64_t{code} + 1) / 2);
    return static_cast<int32_t>((code & 1) != 0 ? magnitude : -magnitude);
}

} // namespace SklibTs
