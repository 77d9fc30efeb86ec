// The parsers on the PES packets of the sample streams, compared with ffprobe's findings.
#include <gtest/gtest.h>

#include <cmath>

#include "EsDescription.h"
#include "EsParser.h"
#include "EsTestSupport.h"

namespace {

using SklibTs::AudioStreamInfo;
using SklibTs::EsProperties;
namespace StreamKind = SklibTs::StreamKind;
using SklibTs::VideoStreamInfo;

struct SampleStream {
    const char* file;
    size_t packetSize;
    std::map<uint32_t, int32_t> kinds; // PID -> stream kind
};

const SampleStream kSamples[] = {
    {"h264_aac", 188, {{256, StreamKind::kH264}, {257, StreamKind::kAacAdts}}},
    {"h264_aac_204", 204, {{256, StreamKind::kH264}, {257, StreamKind::kAacAdts}}},
    {"hevc_eac3", 188, {{256, StreamKind::kHevc}, {257, StreamKind::kEac3}}},
    {"mpeg2_mp2_ac3", 188, {{256, StreamKind::kMpeg2Video}, {257, StreamKind::kMpeg1Audio}, {258, StreamKind::kAc3Descriptor}}},
    {"twoprog", 188,
     {{256, StreamKind::kH264}, {257, StreamKind::kAacAdts}, {258, StreamKind::kMpeg2Video}, {259, StreamKind::kMpeg1Audio}}},
};

double RateOf(const std::string& fraction)
{
    const auto slash = fraction.find('/');
    const double num = std::stod(fraction.substr(0, slash));
    const double den = std::stod(fraction.substr(slash + 1));
    return den == 0 ? 0.0 : num / den;
}

// Every PES packet of the PID through ParsePes, as the analyser will do it.
void FeedPid(EsProperties& es, const std::vector<uint8_t>& ts, uint32_t pid, int32_t kind, size_t packetSize)
{
    for (const auto& pes : EsTest::ExtractPes(ts, pid, packetSize))
        SklibTs::ParsePes(es, kind, pes.data(), static_cast<int32_t>(pes.size()));
}

void CheckVideo(const VideoStreamInfo& video, const EsTest::ProbedStream& probe)
{
    ASSERT_TRUE(video.Has(VideoStreamInfo::kFlagSize));
    EXPECT_EQ(video.width, probe.width);
    EXPECT_EQ(video.height, probe.height);
    if (video.Has(VideoStreamInfo::kFlagFrameRate)) {
        EXPECT_NEAR(video.frameRate, RateOf(probe.frameRate), 0.01);
    }
    if (probe.pixelFormat.rfind("yuv420p", 0) == 0) {
        ASSERT_TRUE(video.Has(VideoStreamInfo::kFlagChromaFormat));
        EXPECT_EQ(video.chromaFormat, VideoStreamInfo::kChroma420);
    }
    if (!probe.fieldOrder.empty() && video.Has(VideoStreamInfo::kFlagInterlaced)) {
        EXPECT_EQ(video.interlaced != 0, probe.fieldOrder != "progressive") << probe.fieldOrder;
    }
}

void CheckAudio(const AudioStreamInfo& audio, const EsTest::ProbedStream& probe)
{
    ASSERT_TRUE(audio.Has(AudioStreamInfo::kFlagSampleRate));
    EXPECT_EQ(audio.sampleRate, probe.sampleRate);
    ASSERT_TRUE(audio.Has(AudioStreamInfo::kFlagChannelMode));
    ASSERT_TRUE(audio.Has(AudioStreamInfo::kFlagFrameLayout));
    EXPECT_EQ(audio.channelCount, probe.channels) << probe.channelLayout;
}

TEST(EsRealData, PropertiesMatchFfprobe)
{
    for (const auto& sample : kSamples) {
        SCOPED_TRACE(sample.file);
        const auto tsPath = SktsTest::FindSample(std::string(sample.file) + ".ts");
        const auto probePath = SktsTest::FindSample(std::string(sample.file) + ".ffprobe.json");
        if (!tsPath || !probePath)
            continue; // not every checkout has the larger samples
        const auto ts = SktsTest::ReadFile(*tsPath);
        const auto probe = EsTest::ReadProbe(*probePath);
        for (const auto& [pid, kind] : sample.kinds) {
            SCOPED_TRACE(pid);
            ASSERT_TRUE(probe.count(pid));
            EsProperties es;
            FeedPid(es, ts, pid, kind, sample.packetSize);
            if (const auto* video = es.Video()) {
                EXPECT_EQ(es.Audio(), nullptr);
                CheckVideo(*video, probe.at(pid));
            } else {
                ASSERT_NE(es.Audio(), nullptr);
                CheckAudio(*es.Audio(), probe.at(pid));
            }
            EXPECT_NE(es.StreamId(), EsProperties::kNoStreamId);
        }
    }
}

// Parses every PES packet of one PID of a sample; null when the sample is not available.
std::unique_ptr<EsProperties> ParseSamplePid(const char* file, uint32_t pid, int32_t kind, size_t packetSize = 188)
{
    const auto path = SktsTest::FindSample(std::string(file) + ".ts");
    if (!path)
        return nullptr;
    auto es = std::make_unique<EsProperties>();
    FeedPid(*es, SktsTest::ReadFile(*path), pid, kind, packetSize);
    return es;
}

TEST(EsRealData, CodingSpecificProperties)
{
    if (auto es = ParseSamplePid("mpeg2_mp2_ac3", 256, StreamKind::kMpeg2Video)) {
        const VideoStreamInfo* video = es->Video();
        ASSERT_NE(video, nullptr);
        ASSERT_TRUE(video->Has(VideoStreamInfo::kFlagAspect));
        EXPECT_EQ(video->aspectX, 16.0);
        EXPECT_EQ(video->aspectY, 9.0);
        ASSERT_TRUE(video->Has(VideoStreamInfo::kFlagInterlaced));
        EXPECT_EQ(video->interlaced, 1);
        ASSERT_TRUE(video->Has(VideoStreamInfo::kFlagFrameRate));
        EXPECT_EQ(video->frameRate, 25.0);
        EXPECT_TRUE(video->Has(VideoStreamInfo::kFlagSizeExtension));
    }
    if (auto es = ParseSamplePid("mpeg2_mp2_ac3", 258, StreamKind::kAc3Descriptor)) {
        const AudioStreamInfo* audio = es->Audio();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channelMode, AudioStreamInfo::kChannelModeAc3First + 7); // 3/2
        EXPECT_EQ(audio->lfe, 1);
        EXPECT_EQ(audio->bitRate, 448000u);
        EXPECT_EQ(audio->sampleRate, 48000u);
        EXPECT_TRUE(audio->Has(AudioStreamInfo::kFlagDialogueLevel));
    }
    if (auto es = ParseSamplePid("mpeg2_mp2_ac3", 257, StreamKind::kMpeg1Audio)) {
        const AudioStreamInfo* audio = es->Audio();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channelMode, AudioStreamInfo::kChannelModeMpegMono);
        EXPECT_EQ(audio->mpegLayer, 2);
        EXPECT_EQ(audio->bitRate, 192000u);
    }
    if (auto es = ParseSamplePid("hevc_eac3", 256, StreamKind::kHevc)) {
        const VideoStreamInfo* video = es->Video();
        ASSERT_NE(video, nullptr);
        ASSERT_TRUE(video->Has(VideoStreamInfo::kFlagBitDepth));
        EXPECT_EQ(video->bitDepthLuma, 10u);
        EXPECT_EQ(video->bitDepthChroma, 10u);
        EXPECT_EQ(video->chromaFormat, VideoStreamInfo::kChroma420);
    }
    if (auto es = ParseSamplePid("hevc_eac3", 257, StreamKind::kEac3)) {
        const AudioStreamInfo* audio = es->Audio();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channelMode, AudioStreamInfo::kChannelModeAc3First + 2); // 2/0
        EXPECT_EQ(audio->bitRate, 192000u);
    }
    if (auto es = ParseSamplePid("h264_aac", 257, StreamKind::kAacAdts)) {
        const AudioStreamInfo* audio = es->Audio();
        ASSERT_NE(audio, nullptr);
        EXPECT_EQ(audio->channelMode, 14u);
        EXPECT_EQ(audio->aacProfile, AudioStreamInfo::kAacLc);
    }
    if (auto es = ParseSamplePid("h264_aac", 256, StreamKind::kH264)) {
        const VideoStreamInfo* video = es->Video();
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(video->interlaced, 0);
        EXPECT_EQ(video->aspectX, 1.0);
        EXPECT_EQ(video->aspectY, 1.0);
        // The SPS carries timing information, but with fixed_frame_rate_flag 0.
        EXPECT_FALSE(video->Has(VideoStreamInfo::kFlagFrameRate));
        EXPECT_EQ(SklibTs::DescribeVideo(*video, StreamKind::kH264), "H.264 1280x720 progressive 4:2:0 SAR 1:1");
    }
}

} // namespace
