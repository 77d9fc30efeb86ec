#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LiveSource.h"
#include "ReadAhead.h"

namespace Skts {

// Reads a file, or standard input for "-", in fixed-size chunks (on request through a thread
// that reads ahead); or a network input (udp://..., rtp://...) datagram by datagram, each with
// its arrival time.
class ByteSource {
public:
    // A live input gathers at most this long for a Peek.
    static constexpr double kLivePeekSeconds = 2.0;

    // Opens the source; on failure Error() says why.
    explicit ByteSource(const std::string& path, const LiveOptions& live = {});
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    bool IsOpen() const { return file_ != nullptr || (live_ && live_->IsOpen()); }
    bool IsLive() const { return live_ != nullptr; }
    // The network input, or null for a file.
    const LiveSource* Live() const { return live_.get(); }
    // Live input: when the bytes last handed out arrived (real-time clock, ns).
    int64_t ArrivalNs() const { return arrivalNs_; }
    // The size of a regular file, else -1.
    int64_t Size() const { return size_; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }

    // A file is then read on a thread of its own, ahead of the chunks handed out: worth it when
    // the caller's own work leaves the reading time to spare on another core (demultiplexing,
    // which also writes; a fast play, whose pins deliver on threads of their own). Only before
    // the first Read or ReadAll.
    void ReadAheadOnAThread() { readAhead_ = !live_; }

    // Reads up to `bytes` ahead without consuming them (ReadAll still delivers them first). Only
    // before the first Read or ReadAll.
    // Returns what was read; a read error leaves Error() set and ReadAll fails.
    const std::vector<uint8_t>& Peek(size_t bytes);

    // Reads up to size bytes (what Peek held first); 0 at the end, -1 on a read error.
    int64_t Read(uint8_t* buffer, size_t size);

    // Calls sink with every chunk of at most chunkSize bytes (live input: every datagram, cut
    // at chunkSize) until the end of the input, or until sink returns false. Returns the bytes read, or -1 on a read error (Error() then
    // says why).
    int64_t ReadAll(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink);

private:
    // A file: the bytes after what Peek held, a stretch at a time (up to `want` bytes when read
    // here, what the reader read when it reads ahead). Empty at the end; on a read error
    // Error() is set.
    ReadAhead::Stretch NextStretch(size_t want);
    // "cannot read NAME: <reason>" into Error().
    void FailRead(int error);
    // Live input: the next datagram's bytes into pending_ (false at the end or on an error).
    bool NextDatagram();
    const std::vector<uint8_t>& PeekLive(size_t bytes);
    int64_t ReadLive(uint8_t* buffer, size_t size);
    int64_t ReadAllLive(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink);

    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::string name_;
    std::string error_;
    std::vector<uint8_t> ahead_;
    size_t aheadServed_ = 0; // bytes of ahead_ that Read has handed out
    int64_t size_ = -1;
    bool readAhead_ = false;
    std::unique_ptr<ReadAhead> reader_;
    std::vector<uint8_t> direct_; // a stretch read here
    ReadAhead::Stretch stretch_; // what Read has not handed out yet of the reader's last stretch

    std::unique_ptr<LiveSource> live_;
    // Datagrams peeked (their ends in ahead_ and arrival times), then the one being read.
    std::vector<std::pair<size_t, int64_t>> aheadDatagrams_;
    std::vector<uint8_t> pending_;
    size_t pendingServed_ = 0;
    int64_t arrivalNs_ = 0;
};

} // namespace Skts
