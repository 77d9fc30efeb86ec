#pragma once
/// @file
/// Properties of an audio elementary stream, on the same flag principle as VideoStreamInfo.
#include <cstdint>

namespace SklibTs {

/// What the headers of an audio stream (MPEG audio, AC-3, E-AC-3, AAC) say. A field is valid
/// only when its flag is in `flags` (Has()).
struct AudioStreamInfo {
    /// A flag of `flags`: the field of that name carries a value (kFlagFrameLayout:
    /// samplesPerFrame and channelCount).
    ///@{
    static constexpr uint32_t kFlagBitRate = 0x1;
    static constexpr uint32_t kFlagSampleRate = 0x2;
    static constexpr uint32_t kFlagChannelMode = 0x4;
    static constexpr uint32_t kFlagLfe = 0x8;
    static constexpr uint32_t kFlagMpegLayer = 0x10;
    static constexpr uint32_t kFlagBitstreamId = 0x100;
    static constexpr uint32_t kFlagBitstreamMode = 0x200;
    static constexpr uint32_t kFlagAacProfile = 0x10000;
    static constexpr uint32_t kFlagFrameLayout = 0x20000;
    static constexpr uint32_t kFlagDialogueLevel = 0x1000000;
    ///@}

    /// channelMode is one enumeration across codings.
    static constexpr uint32_t kChannelModeMpegStereo = 1;       ///< MPEG audio mode 0
    static constexpr uint32_t kChannelModeMpegJointStereo = 2;  ///< mode 1
    static constexpr uint32_t kChannelModeMpegDual = 3;         ///< mode 2
    static constexpr uint32_t kChannelModeMpegMono = 4;         ///< mode 3
    static constexpr uint32_t kChannelModeAc3First = 5;         ///< AC-3 acmod 0 .. 7 -> 5 .. 12
    static constexpr uint32_t kChannelModeAacFirst = 13;        ///< AAC configuration 1 .. 7 -> 13 .. 19

    static constexpr uint32_t kAacLc = 1;   ///< aacProfile: low complexity
    static constexpr uint32_t kAacMain = 2; ///< aacProfile: main
    static constexpr uint32_t kAacSsr = 3;  ///< aacProfile: scalable sample rate

    /// The field of `flag` carries a value.
    bool Has(uint32_t flag) const { return (flags & flag) != 0; }

    uint32_t flags = 0;          ///< kFlag... bits of the fields that carry a value
    uint32_t bitRate = 0;        ///< bit/s
    uint32_t sampleRate = 0;     ///< Hz
    uint32_t channelMode = 0;    ///< a kChannelMode... value (one enumeration across codings)
    uint8_t lfe = 0;             ///< AC-3 / E-AC-3 lfeon
    uint8_t mpegLayer = 0;       ///< MPEG audio layer 1 .. 3
    uint32_t bitstreamId = 0;    ///< AC-3 / E-AC-3 bsid
    uint32_t bitstreamMode = 0;  ///< AC-3 / E-AC-3 bsmod
    uint32_t aacProfile = 0;     ///< kAacLc, kAacMain or kAacSsr
    uint32_t samplesPerFrame = 0;  ///< 0x20000, with channelCount
    uint32_t channelCount = 0;     ///< all channels, LFE included
    int32_t dialogueLevel = 0;   ///< dB, AC-3: minus dialnorm
};

} // namespace SklibTs
