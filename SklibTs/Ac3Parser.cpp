#include "Ac3Parser.h"

#include <iterator>

#include "BitReader.h"
#include "SkTsExceptions.h"

namespace SklibTs {
namespace {

using A = AudioStreamInfo;

constexpr uint16_t kSyncWord = 0x0B77;
constexpr size_t kHeaderBytes = 8; // enough for every field read below
constexpr size_t kEndSlack = 2;
constexpr uint32_t kMaxAc3Bsid = 10;
constexpr uint32_t kMinEac3Bsid = 11;
constexpr uint32_t kMaxEac3Bsid = 16;

constexpr uint32_t kSampleRates[3] = {48000, 44100, 32000};
constexpr uint32_t kBitRatesKbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160,
                                        192, 224, 256, 320, 384, 448, 512, 576, 640};
// 16-bit words per frame by [frmsizecod][fscod].
constexpr uint16_t kFrameWords[38][3] = {
    {64, 69, 96},       {64, 70, 96},       {80, 87, 120},      {80, 88, 120},
    {96, 104, 144},     {96, 105, 144},     {112, 121, 168},    {112, 122, 168},
    {128, 139, 192},    {128, 140, 192},    {160, 174, 240},    {160, 175, 240},
    {192, 208, 288},    {192, 209, 288},    {224, 243, 336},    {224, 244, 336},
    {256, 278, 384},    {256, 279, 384},    {320, 348, 480},    {320, 349, 480},
    {384, 417, 576},    {384, 418, 576},    {448, 487, 672},    {448, 488, 672},
    {512, 557, 768},    {512, 558, 768},    {640, 696, 960},    {640, 697, 960},
    {768, 835, 1152},   {768, 836, 1152},   {896, 975, 1344},   {896, 976, 1344},
    {1024, 1114, 1536}, {1024, 1115, 1536}, {1152, 1253, 1728}, {1152, 1254, 1728},
    {1280, 1393, 1920}, {1280, 1394, 1920},
};
// Full-bandwidth channels of acmod 0 to 7.
constexpr uint32_t kChannelsByAcmod[8] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr uint32_t kBlocksByCode[4] = {1, 2, 3, 6};

uint32_t BsidAt(const uint8_t* data) { return data[5] >> 3; }

void SetChannels(uint32_t acmod, bool lfeOn, A& info)
{
    info.channelMode = A::kChannelModeAc3First + acmod;
    info.lfe = lfeOn ? 1 : 0;
    info.channelCount = kChannelsByAcmod[acmod] + (lfeOn ? 1 : 0);
    info.flags |= A::kFlagChannelMode | A::kFlagLfe;
}

void SetDialogueLevel(uint32_t dialnorm, A& info)
{
    info.dialogueLevel = -static_cast<int32_t>(dialnorm);
    info.flags |= A::kFlagDialogueLevel;
}

using HeaderReader = bool (*)(const uint8_t*, size_t, A&, uint32_t&);

// A frame is taken only when its end is confirmed: the next sync word follows it, or the
// payload ends within kEndSlack bytes of it. This rejects sync words inside audio data.
std::unique_ptr<A> FirstConfirmedFrame(const uint8_t* payload, int32_t length, const HeaderReader* readers,
                                       size_t readerCount)
{
    if (payload == nullptr || length <= 0)
        return nullptr;
    const auto size = static_cast<size_t>(length);
    auto info = std::make_unique<A>();
    uint32_t frameBytes = 0;
    for (size_t i = 0; i + kHeaderBytes <= size; ++i) {
        if (payload[i] != (kSyncWord >> 8) || payload[i + 1] != (kSyncWord & 0xFF))
            continue;
        for (size_t r = 0; r < readerCount; ++r) {
            if (!readers[r](payload + i, size - i, *info, frameBytes))
                continue;
            const size_t frameEnd = i + frameBytes;
            const bool endsAtPayloadEnd = frameEnd <= size && frameEnd + kEndSlack >= size;
            const bool syncFollows = frameEnd + 2 <= size && payload[frameEnd] == (kSyncWord >> 8) &&
                                     payload[frameEnd + 1] == (kSyncWord & 0xFF);
            if (endsAtPayloadEnd || syncFollows)
                return info;
        }
    }
    return nullptr;
}

} // namespace

bool ReadAc3Header(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes)
{
    if (size < kHeaderBytes || data[0] != (kSyncWord >> 8) || data[1] != (kSyncWord & 0xFF))
        return false;
    if (BsidAt(data) > kMaxAc3Bsid)
        return false;
    BitReader bits(data + 4, data + size); // after syncword and crc1
    try {
        const uint32_t fscod = bits.ReadBits(2);
        const uint32_t frmsizecod = bits.ReadBits(6);
        if (fscod == 3 || frmsizecod >= std::size(kFrameWords))
            return false;
        const uint32_t bsid = bits.ReadBits(5);
        const uint32_t bsmod = bits.ReadBits(3);
        const uint32_t acmod = bits.ReadBits(3);
        if ((acmod & 1) != 0 && acmod != 1)
            bits.SkipBits(2); // cmixlev
        if ((acmod & 4) != 0)
            bits.SkipBits(2); // surmixlev
        if (acmod == 2)
            bits.SkipBits(2); // dsurmod
        const bool lfeOn = bits.ReadFlag();
        const uint32_t dialnorm = bits.ReadBits(5);

        info = A{};
        info.sampleRate = kSampleRates[fscod];
        info.bitRate = kBitRatesKbps[frmsizecod / 2] * 1000;
        info.bitstreamId = bsid;
        info.bitstreamMode = bsmod;
        info.samplesPerFrame = 1536;
        info.flags |= A::kFlagSampleRate | A::kFlagBitRate | A::kFlagBitstreamId | A::kFlagBitstreamMode |
                      A::kFlagFrameLayout;
        SetChannels(acmod, lfeOn, info);
        SetDialogueLevel(dialnorm, info);
        frameBytes = 2u * kFrameWords[frmsizecod][fscod];
        return true;
    } catch (const InvalidBitIdxExc&) {
        return false;
    }
}

bool ReadEac3Header(const uint8_t* data, size_t size, AudioStreamInfo& info, uint32_t& frameBytes)
{
    if (size < kHeaderBytes || data[0] != (kSyncWord >> 8) || data[1] != (kSyncWord & 0xFF))
        return false;
    const uint32_t bsid = BsidAt(data);
    if (bsid < kMinEac3Bsid || bsid > kMaxEac3Bsid)
        return false;
    BitReader bits(data + 2, data + size);
    try {
        const uint32_t strmtyp = bits.ReadBits(2);
        bits.SkipBits(3); // substreamid
        const uint32_t frmsiz = bits.ReadBits(11);
        const uint32_t fscod = bits.ReadBits(2);
        uint32_t sampleRate = 0;
        uint32_t blocks = 6;
        if (fscod == 3) {
            const uint32_t fscod2 = bits.ReadBits(2);
            if (fscod2 == 3)
                return false;
            sampleRate = kSampleRates[fscod2] / 2;
        } else {
            sampleRate = kSampleRates[fscod];
            blocks = kBlocksByCode[bits.ReadBits(2)];
        }
        // Dependent substreams (type 1) only add channels to an independent one.
        if (strmtyp == 1 || strmtyp == 3)
            return false;
        const uint32_t acmod = bits.ReadBits(3);
        const bool lfeOn = bits.ReadFlag();
        bits.SkipBits(5); // bsid
        const uint32_t dialnorm = bits.ReadBits(5);

        frameBytes = (frmsiz + 1) * 2;
        info = A{};
        info.sampleRate = sampleRate;
        info.bitRate = static_cast<uint32_t>(uint64_t{frameBytes} * 8 * sampleRate / (blocks * 256));
        info.bitstreamId = bsid;
        info.samplesPerFrame = blocks * 256;
        info.flags |= A::kFlagSampleRate | A::kFlagBitRate | A::kFlagBitstreamId | A::kFlagFrameLayout;
        SetChannels(acmod, lfeOn, info);
        SetDialogueLevel(dialnorm, info);
        return true;
    } catch (const InvalidBitIdxExc&) {
        return false;
    }
}

std::unique_ptr<AudioStreamInfo> ParseAc3(const uint8_t* payload, int32_t length)
{
    static constexpr HeaderReader kReaders[] = {ReadAc3Header};
    return FirstConfirmedFrame(payload, length, kReaders, std::size(kReaders));
}

std::unique_ptr<AudioStreamInfo> ParseEac3(const uint8_t* payload, int32_t length)
{
    static constexpr HeaderReader kReaders[] = {ReadEac3Header, ReadAc3Header};
    return FirstConfirmedFrame(payload, length, kReaders, std::size(kReaders));
}

} // namespace SklibTs
