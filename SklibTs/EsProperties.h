#pragma once
/// @file
/// What the elementary-stream parsers know about one PID: the stream-property record (video
/// or audio, at most one), the stream_id of the last PES packet and the parser object that
/// some codings keep across packets.
#include <cstdint>
#include <memory>

#include "AudioStreamInfo.h"
#include "VideoStreamInfo.h"

namespace SklibTs {

class VesParser;

class EsProperties {
public:
    static constexpr int32_t kNoStreamId = -1;
    static constexpr int32_t kNoParser = -1;

    EsProperties();
    ~EsProperties();
    EsProperties(const EsProperties&) = delete;
    EsProperties& operator=(const EsProperties&) = delete;

    /// For clients: the stored records (null when absent) and the last PES stream_id.
    const VideoStreamInfo* Video() const { return video_.get(); }
    const AudioStreamInfo* Audio() const { return audio_.get(); }
    int32_t StreamId() const { return streamId_; }

    /// Forgets the records and the parser object, e.g. when the PID's stream kind changes.
    void Clear();

    /// For the parsers and the merge rules. Storing one kind of record drops the other.
    VideoStreamInfo* MutableVideo() { return video_.get(); }
    AudioStreamInfo* MutableAudio() { return audio_.get(); }
    void SetVideo(std::unique_ptr<VideoStreamInfo> video);
    void SetAudio(std::unique_ptr<AudioStreamInfo> audio);
    void DropVideo();
    void DropAudio();
    void SetStreamId(int32_t streamId) { streamId_ = streamId; }

    VesParser* Parser() { return parser_.get(); }
    /// Type code of the parser object, kNoParser without one.
    int32_t ParserType() const;
    void SetParser(std::unique_ptr<VesParser> parser);

private:
    std::unique_ptr<VideoStreamInfo> video_;
    std::unique_ptr<AudioStreamInfo> audio_;
    int32_t streamId_ = kNoStreamId;
    std::unique_ptr<VesParser> parser_;
};

} // namespace SklibTs
