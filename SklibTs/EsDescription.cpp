#include "EsDescription.h"

#include <cmath>
#include <cstdio>

#include "EsParser.h"

namespace SklibTs {
namespace {

using V = VideoStreamInfo;
using A = AudioStreamInfo;

// Shortest decimal form: 25, 29.97, 23.976, 2.21.
std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string result = text;
    if (result.find('.') != std::string::npos) {
        while (result.back() == '0')
            result.pop_back();
        if (result.back() == '.')
            result.pop_back();
    }
    return result;
}

void Append(std::string& text, const std::string& part)
{
    if (part.empty())
        return;
    if (!text.empty())
        text += ' ';
    text += part;
}

const char* ChromaName(uint32_t chromaFormat)
{
    switch (chromaFormat) {
    case V::kChroma420: return "4:2:0";
    case V::kChroma422: return "4:2:2";
    case V::kChroma444:
    case V::kChroma444H264: return "4:4:4";
    case V::kChromaMonochrome: return "monochrome";
    default: return "";
    }
}

std::string ChannelModeName(const A& info)
{
    static constexpr const char* kMpeg[] = {"stereo", "joint stereo", "dual channel", "mono"};
    static constexpr const char* kAc3[] = {"1+1", "1/0", "2/0", "3/0", "2/1", "3/1", "2/2", "3/2"};
    static constexpr const char* kAac[] = {"mono", "stereo", "3/0", "3/1", "3/2", "3/2+LFE", "5/2+LFE"};
    const uint32_t mode = info.channelMode;
    if (mode >= A::kChannelModeMpegStereo && mode < A::kChannelModeAc3First)
        return kMpeg[mode - A::kChannelModeMpegStereo];
    if (mode >= A::kChannelModeAc3First && mode < A::kChannelModeAacFirst) {
        std::string name = kAc3[mode - A::kChannelModeAc3First];
        if (info.Has(A::kFlagLfe) && info.lfe != 0)
            name += "+LFE";
        return name;
    }
    if (mode >= A::kChannelModeAacFirst && mode < A::kChannelModeAacFirst + 7)
        return kAac[mode - A::kChannelModeAacFirst];
    return "";
}

std::string Ratio(double x, double y) { return Number(x) + ":" + Number(y); }

} // namespace

std::string CodingName(int32_t streamKind)
{
    switch (streamKind) {
    case StreamKind::kMpeg1Video: return "MPEG-1 video";
    case StreamKind::kMpeg2Video: return "MPEG-2 video";
    case StreamKind::kMpeg1Audio: return "MPEG-1 audio";
    case StreamKind::kMpeg2Audio: return "MPEG-2 audio";
    case StreamKind::kAacAdts: return "AAC";
    case StreamKind::kAacLatm: return "AAC LATM";
    case StreamKind::kH264: return "H.264";
    case StreamKind::kJpeg2000: return "JPEG 2000";
    case StreamKind::kHevc: return "HEVC";
    case StreamKind::kJpegXs: return "JPEG XS";
    case StreamKind::kAc3:
    case StreamKind::kAc3Descriptor: return "AC-3";
    case StreamKind::kEac3:
    case StreamKind::kEac3Descriptor: return "E-AC-3";
    case StreamKind::kVc1: return "VC-1";
    case StreamKind::kAc4Descriptor: return "AC-4";
    default: return "";
    }
}

std::string DescribeVideo(const VideoStreamInfo& info, int32_t streamKind)
{
    std::string text = CodingName(streamKind);
    if (info.Has(V::kFlagSize))
        Append(text, std::to_string(info.width) + "x" + std::to_string(info.height));
    if (info.Has(V::kFlagFrameRate))
        Append(text, std::isfinite(info.frameRate) ? Number(info.frameRate) + " fps" : "unknown fps");
    if (info.Has(V::kFlagInterlaced))
        Append(text, info.interlaced != 0 ? "interlaced" : "progressive");
    if (info.Has(V::kFlagChromaFormat))
        Append(text, ChromaName(info.chromaFormat));
    if (info.Has(V::kFlagBitDepth)) {
        Append(text, info.bitDepthLuma == info.bitDepthChroma
                         ? std::to_string(info.bitDepthLuma) + "-bit"
                         : std::to_string(info.bitDepthLuma) + "/" + std::to_string(info.bitDepthChroma) + "-bit");
    }
    if (info.Has(V::kFlagAspect)) {
        // MPEG-1/2 video signals the display aspect ratio, or 1:1 for square samples; the
        // other codings signal the sample aspect.
        const bool mpeg = streamKind == StreamKind::kMpeg1Video || streamKind == StreamKind::kMpeg2Video;
        const bool display = mpeg && !(info.aspectX == 1.0 && info.aspectY == 1.0);
        Append(text, std::string(display ? "DAR " : "SAR ") + Ratio(info.aspectX, info.aspectY));
    }
    if (info.Has(V::kFlagPictureAspect))
        Append(text, "aspect " + std::to_string(info.pictureAspect.numerator) + ":" +
                         std::to_string(info.pictureAspect.denominator));
    if (info.Has(V::kFlagDisplaySize))
        Append(text, "display " + std::to_string(info.displayWidth) + "x" + std::to_string(info.displayHeight));
    if (info.Has(V::kFlagCaptions))
        Append(text, info.cea708Captions != 0 ? "CEA-708 captions" : "CEA-608 captions");
    return text;
}

std::string DescribeAudio(const AudioStreamInfo& info, int32_t streamKind)
{
    std::string text = CodingName(streamKind);
    if (info.Has(A::kFlagAacProfile)) {
        static constexpr const char* kProfiles[] = {"", "LC", "Main", "SSR"};
        if (info.aacProfile < 4)
            Append(text, kProfiles[info.aacProfile]);
    }
    if (info.Has(A::kFlagMpegLayer)) {
        static constexpr const char* kLayers[] = {"", "Layer I", "Layer II", "Layer III"};
        if (info.mpegLayer < 4)
            Append(text, kLayers[info.mpegLayer]);
    }
    if (info.Has(A::kFlagSampleRate))
        Append(text, Number(info.sampleRate / 1000.0) + " kHz");
    if (info.Has(A::kFlagChannelMode))
        Append(text, ChannelModeName(info));
    if (info.Has(A::kFlagBitRate))
        Append(text, Number(info.bitRate / 1000.0) + " kbit/s");
    if (info.Has(A::kFlagDialogueLevel))
        Append(text, "dialnorm " + std::to_string(info.dialogueLevel) + " dB");
    return text;
}

} // namespace SklibTs
