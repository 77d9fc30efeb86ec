#pragma once

namespace SklibTs {

// Root of the parser objects that a PID keeps across PES packets.
class BsParser {
public:
    BsParser() = default;
    virtual ~BsParser() = default;
    BsParser(const BsParser&) = delete;
    BsParser& operator=(const BsParser&) = delete;
};

} // namespace SklibTs
