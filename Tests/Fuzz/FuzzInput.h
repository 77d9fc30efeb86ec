#pragma once
// Reading a fuzz input: a short script of fixed-size commands, then the stream the commands
// feed. Reads never pass the end; missing bytes read as 0, so every input is a valid script.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "StreamEdits.h"

namespace Fuzz {

class ByteCursor {
public:
    ByteCursor(const uint8_t* data, size_t size) : at_(data), left_(size) {}

    uint8_t Byte()
    {
        if (left_ == 0)
            return 0;
        --left_;
        return *at_++;
    }
    uint16_t U16() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
    uint32_t U24() { return static_cast<uint32_t>(Byte()) << 16 | U16(); }

    // Up to count bytes, fewer at the end.
    const uint8_t* Take(size_t count, size_t& taken)
    {
        const uint8_t* from = at_;
        taken = std::min(count, left_);
        at_ += taken;
        left_ -= taken;
        return from;
    }
    const uint8_t* Position() const { return at_; }
    size_t Left() const { return left_; }

private:
    const uint8_t* at_;
    size_t left_;
};

// One command of a script: an operation and three argument bytes.
struct Command {
    uint8_t op = 0;
    uint8_t a = 0;
    uint8_t b = 0;
    uint8_t c = 0;

    uint16_t Ab() const { return static_cast<uint16_t>(a << 8 | b); }
    uint32_t Pid() const { return Ab() & 0x1FFFu; }
};

// The script: its first byte counts the commands, four bytes each; the rest is the stream.
struct Script {
    std::vector<Command> commands;
    std::vector<uint8_t> stream;
};

inline Script ReadScript(const uint8_t* data, size_t size)
{
    ByteCursor in(data, size);
    Script script;
    const uint8_t count = in.Byte();
    for (uint8_t i = 0; i < count && in.Left() > 0; ++i) {
        Command command;
        command.op = in.Byte();
        command.a = in.Byte();
        command.b = in.Byte();
        command.c = in.Byte();
        script.commands.push_back(command);
    }
    script.stream.assign(in.Position(), in.Position() + in.Left());
    return script;
}

// The bytes of a sample cut of the stream: the next size bytes, fewer at its end.
class StreamFeed {
public:
    explicit StreamFeed(std::vector<uint8_t>& stream) : stream_(stream) {}

    uint8_t* Next(size_t size, size_t& taken)
    {
        taken = std::min(size, stream_.size() - at_);
        uint8_t* from = stream_.data() + at_;
        at_ += taken;
        return from;
    }
    bool AtEnd() const { return at_ >= stream_.size(); }
    size_t Offset() const { return at_; }
    std::vector<uint8_t>& Bytes() { return stream_; }

private:
    std::vector<uint8_t>& stream_;
    size_t at_ = 0;
};

// Time faults applied to the stream before it is fed: every PCR of the 188-byte packets in
// [from, to) moved by offset (27 MHz, wrapping at 2^33 x 300), and discontinuity marks.
inline void ShiftPcrs(std::vector<uint8_t>& stream, size_t from, size_t to, int64_t offset, bool markDiscontinuity)
{
    from = from / 188 * 188;
    for (size_t at = from; at + 188 <= std::min(to, stream.size()); at += 188) {
        uint8_t* p = stream.data() + at;
        if (p[0] != 0x47 || (p[3] & 0x20) == 0 || p[4] < 7)
            continue;
        if (markDiscontinuity)
            p[5] |= 0x80;
        if (offset != 0 && SktsTest::CarriesPcr(p))
            SktsTest::WritePcrField(p, ((SktsTest::ReadPcrField(p) + offset) % SktsTest::kPcrModulus + SktsTest::kPcrModulus) %
                                           SktsTest::kPcrModulus);
    }
}

// A PCR step chosen by three bytes: forward or back, from a few ticks to about the 2^33 wrap.
inline int64_t PcrStep(uint8_t scale, uint16_t amount)
{
    const int shift = scale % 26; // 2^25 x 65535 ticks reach past the wrap
    const int64_t step = static_cast<int64_t>(amount) << shift;
    return (scale & 0x80) ? -step : step;
}

} // namespace Fuzz
