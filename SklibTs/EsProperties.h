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

/// The stream properties of one PID (SkPidInfo::es). Clients read Video(), Audio() and
/// StreamId() under the analyser's lock; the rest belongs to the analyser's parsers.
class EsProperties {
public:
    static constexpr int32_t kNoStreamId = -1; ///< StreamId() before the first PES
    static constexpr int32_t kNoParser = -1;   ///< ParserType() without a parser object

    EsProperties();
    ~EsProperties();
    EsProperties(const EsProperties&) = delete;
    EsProperties& operator=(const EsProperties&) = delete;

    /// The video record, null when the stream is not (yet) known as video.
    const VideoStreamInfo* Video() const { return video_.get(); }
    /// The audio record, null when the stream is not (yet) known as audio.
    const AudioStreamInfo* Audio() const { return audio_.get(); }
    /// stream_id of the last PES packet, kNoStreamId before the first.
    int32_t StreamId() const { return streamId_; }

    /// Forgets the records and the parser object, e.g. when the PID's stream kind changes.
    void Clear();

    /// @name For the analyser's parsers
    /// Storing one kind of record drops the other.
    ///@{
    VideoStreamInfo* MutableVideo() { return video_.get(); } ///< the video record to update, or null
    AudioStreamInfo* MutableAudio() { return audio_.get(); } ///< the audio record to update, or null
    void SetVideo(std::unique_ptr<VideoStreamInfo> video); ///< stores a video record, dropping the audio one
    void SetAudio(std::unique_ptr<AudioStreamInfo> audio); ///< stores an audio record, dropping the video one
    void DropVideo();                                      ///< forgets the video record
    void DropAudio();                                      ///< forgets the audio record
    void SetStreamId(int32_t streamId) { streamId_ = streamId; } ///< records a PES stream_id

    VesParser* Parser() { return parser_.get(); }          ///< the parser kept across packets, or null
    /// Type code of the parser object, kNoParser without one.
    int32_t ParserType() const;
    void SetParser(std::unique_ptr<VesParser> parser);     ///< keeps a parser across packets
    ///@}

private:
    std::unique_ptr<VideoStreamInfo> video_;
    std::unique_ptr<AudioStreamInfo> audio_;
    int32_t streamId_ = kNoStreamId;
    std::unique_ptr<VesParser> parser_;
};

} // namespace SklibTs
