#pragma once
// The bytes `skts play` pushes into the graph: read from a file or standard input, paced at the
// stream's mux rate as a tuner or network feed delivers them, or as fast as the graph takes
// them while a gate allows.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ByteSource.h"
#include "Host/ByteReader.h"

namespace Skts {

class PlayInput final : public DsHost::ByteReader {
public:
    // Sees every chunk before it goes into the graph.
    using Observer = std::function<void(const uint8_t* data, size_t size)>;
    // Blocks until the next chunk may go; false to end the input.
    using Gate = std::function<bool()>;

    // A chunk due within this much of now goes at once: chunks leave in small bursts, as
    // network feeds deliver them, instead of one wake-up each.
    static constexpr int64_t kBurstNs = 2'000'000;

    struct Options {
        int64_t bitrate = 0; // bit/s; 0: unpaced
        Observer observe;
        Gate gate;
        // One byte after the input: a last sample that lets the demultiplexer release the
        // records of the real last sample (the byte itself forms no packet).
        bool closingByte = false;
        // Called once, on the reading thread, when the input has ended.
        std::function<void()> onFinished;
    };

    PlayInput(ByteSource& source, Options options);

    int64_t Read(BYTE* buffer, size_t size) override;
    // Ends the input at the next read (a paced read waiting for its time returns soon).
    void RequestStop() { stopRequested_ = true; }

    bool Finished() const { return finished_.load(); }
    uint64_t BytesRead() const { return bytesRead_.load(); }
    // Set when reading failed.
    std::string Error() const;

    // A reader for the source filter that reads from this input, which it does not own.
    std::unique_ptr<DsHost::ByteReader> Reader();

private:
    bool WaitForDueTime();
    // Marks the input ended; returns what a read then returns.
    int64_t End(int64_t result);

    ByteSource& source_;
    const Options options_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> bytesRead_{0};
    bool closingByteSent_ = false;
    int64_t startNs_ = 0;
    std::atomic<bool> failed_{false};
};

} // namespace Skts
