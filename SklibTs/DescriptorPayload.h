#pragma once
// Reading the payload of a recorded descriptor, for the decode functions.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Descriptor.h"
#include "DvbText.h"

namespace SklibTs {

// Payload size that is really there, whatever the record claims.
inline uint32_t PayloadSize(const Descriptor& d)
{
    return std::min<uint32_t>(d.length, static_cast<uint32_t>(d.data.size()));
}

inline bool HasTag(const Descriptor& d, uint8_t tag) { return d.tag == tag && d.tag_extension == 0; }

// Walks a descriptor's payload front to back; callers ask Remaining() before they take.
class PayloadReader {
public:
    explicit PayloadReader(const Descriptor& d) : bytes_(d.data.data()), size_(PayloadSize(d)) {}

    size_t Remaining() const { return size_ - position_; }
    const uint8_t* Here() const { return bytes_ + position_; }
    void Skip(size_t count) { position_ += std::min(count, Remaining()); }
    uint8_t Byte() { return bytes_[position_++]; }
    // Three characters of an ISO 639 language code.
    std::string Language()
    {
        const std::string code(reinterpret_cast<const char*>(Here()), 3);
        Skip(3);
        return code;
    }
    // A length byte, then that many bytes of DVB text, cut to what remains.
    std::wstring LengthPrefixedText()
    {
        if (Remaining() == 0)
            return {};
        const size_t declared = Byte();
        const size_t length = std::min(declared, Remaining());
        std::wstring text = DvbTextToWide(Here(), static_cast<int32_t>(length));
        Skip(length);
        return text;
    }

private:
    const uint8_t* bytes_;
    size_t size_;
    size_t position_ = 0;
};

} // namespace SklibTs
