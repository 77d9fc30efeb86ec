#include "StreamInfoStore.h"

#include <array>

namespace SklibTs {
namespace {

// One property group of a record: its flag, how two records compare in it, how it is copied.
template <typename Info>
struct Group {
    uint32_t flag;
    bool (*equal)(const Info&, const Info&);
    void (*copy)(Info& to, const Info& from);
};

using V = VideoStreamInfo;
using A = AudioStreamInfo;

// The size group is handled on its own because of the size extension bit.
constexpr std::array<Group<V>, 10> kVideoGroups{{
    {V::kFlagDisplaySize,
     [](const V& a, const V& b) { return a.displayWidth == b.displayWidth && a.displayHeight == b.displayHeight; },
     [](V& to, const V& from) { to.displayWidth = from.displayWidth; to.displayHeight = from.displayHeight; }},
    {V::kFlagChromaFormat, [](const V& a, const V& b) { return a.chromaFormat == b.chromaFormat; },
     [](V& to, const V& from) { to.chromaFormat = from.chromaFormat; }},
    {V::kFlagAspect, [](const V& a, const V& b) { return a.aspectX == b.aspectX && a.aspectY == b.aspectY; },
     [](V& to, const V& from) { to.aspectX = from.aspectX; to.aspectY = from.aspectY; }},
    {V::kFlagFraction1, [](const V& a, const V& b) { return a.fraction1 == b.fraction1; },
     [](V& to, const V& from) { to.fraction1 = from.fraction1; }},
    {V::kFlagFraction2, [](const V& a, const V& b) { return a.fraction2 == b.fraction2; },
     [](V& to, const V& from) { to.fraction2 = from.fraction2; }},
    {V::kFlagPictureAspect, [](const V& a, const V& b) { return a.pictureAspect == b.pictureAspect; },
     [](V& to, const V& from) { to.pictureAspect = from.pictureAspect; }},
    // NaN compares unequal, so an undefined rate always counts as different.
    {V::kFlagFrameRate, [](const V& a, const V& b) { return a.frameRate == b.frameRate; },
     [](V& to, const V& from) { to.frameRate = from.frameRate; }},
    {V::kFlagCaptions, [](const V& a, const V& b) { return a.cea708Captions == b.cea708Captions; },
     [](V& to, const V& from) { to.cea708Captions = from.cea708Captions; }},
    {V::kFlagInterlaced, [](const V& a, const V& b) { return a.interlaced == b.interlaced; },
     [](V& to, const V& from) { to.interlaced = from.interlaced; }},
    {V::kFlagBitDepth,
     [](const V& a, const V& b) { return a.bitDepthLuma == b.bitDepthLuma && a.bitDepthChroma == b.bitDepthChroma; },
     [](V& to, const V& from) { to.bitDepthLuma = from.bitDepthLuma; to.bitDepthChroma = from.bitDepthChroma; }},
}};

constexpr std::array<Group<A>, 10> kAudioGroups{{
    {A::kFlagBitRate, [](const A& a, const A& b) { return a.bitRate == b.bitRate; },
     [](A& to, const A& from) { to.bitRate = from.bitRate; }},
    {A::kFlagSampleRate, [](const A& a, const A& b) { return a.sampleRate == b.sampleRate; },
     [](A& to, const A& from) { to.sampleRate = from.sampleRate; }},
    {A::kFlagChannelMode, [](const A& a, const A& b) { return a.channelMode == b.channelMode; },
     [](A& to, const A& from) { to.channelMode = from.channelMode; }},
    {A::kFlagLfe, [](const A& a, const A& b) { return a.lfe == b.lfe; },
     [](A& to, const A& from) { to.lfe = from.lfe; }},
    {A::kFlagMpegLayer, [](const A& a, const A& b) { return a.mpegLayer == b.mpegLayer; },
     [](A& to, const A& from) { to.mpegLayer = from.mpegLayer; }},
    {A::kFlagBitstreamId, [](const A& a, const A& b) { return a.bitstreamId == b.bitstreamId; },
     [](A& to, const A& from) { to.bitstreamId = from.bitstreamId; }},
    {A::kFlagBitstreamMode, [](const A& a, const A& b) { return a.bitstreamMode == b.bitstreamMode; },
     [](A& to, const A& from) { to.bitstreamMode = from.bitstreamMode; }},
    {A::kFlagAacProfile, [](const A& a, const A& b) { return a.aacProfile == b.aacProfile; },
     [](A& to, const A& from) { to.aacProfile = from.aacProfile; }},
    {A::kFlagFrameLayout,
     [](const A& a, const A& b) { return a.samplesPerFrame == b.samplesPerFrame && a.channelCount == b.channelCount; },
     [](A& to, const A& from) { to.samplesPerFrame = from.samplesPerFrame; to.channelCount = from.channelCount; }},
    {A::kFlagDialogueLevel, [](const A& a, const A& b) { return a.dialogueLevel == b.dialogueLevel; },
     [](A& to, const A& from) { to.dialogueLevel = from.dialogueLevel; }},
}};

template <typename Info, size_t N>
bool AnyGroupDiffers(const std::array<Group<Info>, N>& groups, const Info& stored, const Info& fresh)
{
    const uint32_t common = stored.flags & fresh.flags;
    for (const auto& group : groups) {
        if ((common & group.flag) != 0 && !group.equal(stored, fresh))
            return true;
    }
    return false;
}

template <typename Info, size_t N>
void CopyGroups(const std::array<Group<Info>, N>& groups, Info& stored, const Info& fresh)
{
    for (const auto& group : groups) {
        if (fresh.Has(group.flag))
            group.copy(stored, fresh);
    }
    stored.flags |= fresh.flags;
}

// Sizes with and without the extension bits describe different things; they are compared
// only when both records have the same kind.
bool SizeDiffers(const V& stored, const V& fresh)
{
    if (!stored.Has(V::kFlagSize) || !fresh.Has(V::kFlagSize))
        return false;
    const bool storedExt = stored.Has(V::kFlagSizeExtension);
    const bool freshExt = fresh.Has(V::kFlagSizeExtension);
    if ((storedExt || freshExt) && !(storedExt && freshExt))
        return false;
    return stored.width != fresh.width || stored.height != fresh.height;
}

void MergeSize(V& stored, const V& fresh)
{
    if (!fresh.Has(V::kFlagSize))
        return;
    const bool freshExt = fresh.Has(V::kFlagSizeExtension);
    const bool storedExt = stored.Has(V::kFlagSizeExtension);
    if (freshExt || !storedExt) {
        stored.width = fresh.width;
        stored.height = fresh.height;
    }
}

} // namespace

void StoreVideoInfo(EsProperties& es, std::unique_ptr<VideoStreamInfo> info)
{
    es.DropAudio();
    if (!info)
        return;
    VideoStreamInfo* stored = es.MutableVideo();
    if (stored == nullptr || SizeDiffers(*stored, *info) || AnyGroupDiffers(kVideoGroups, *stored, *info)) {
        es.SetVideo(std::move(info));
        return;
    }
    MergeSize(*stored, *info);
    if (info->h264.present)
        stored->h264 = info->h264;
    CopyGroups(kVideoGroups, *stored, *info);
}

void StoreAudioInfo(EsProperties& es, std::unique_ptr<AudioStreamInfo> info)
{
    es.DropVideo();
    if (!info)
        return;
    AudioStreamInfo* stored = es.MutableAudio();
    if (stored == nullptr || AnyGroupDiffers(kAudioGroups, *stored, *info)) {
        es.SetAudio(std::move(info));
        return;
    }
    CopyGroups(kAudioGroups, *stored, *info);
}

} // namespace SklibTs
