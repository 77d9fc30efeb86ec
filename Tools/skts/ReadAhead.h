#pragma once
// Reads a file on a thread of its own into a few large buffers, so that the kernel's copying of
// the next stretch overlaps the work on this one. The reader stays at most a few buffers ahead
// and is woken for every buffer taken (letting it sleep until half were free saved context
// switches but no time).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Skts {

class ReadAhead {
public:
    static constexpr size_t kBufferSize = size_t{256} << 10;
    static constexpr size_t kBuffers = 8;

    // Starts reading the file (not owned) from where it stands.
    explicit ReadAhead(std::FILE* file, size_t bufferSize = kBufferSize, size_t buffers = kBuffers);
    // Stops the reader, whatever it was doing, and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next stretch of the file: empty at its end or after a read error. What an earlier
    // call returned is given back for reading into.
    struct Stretch {
        const uint8_t* data = nullptr;
        size_t size = 0;
    };
    Stretch Next();
    // errno of the read that failed, 0 while none did; meaningful once Next() came back empty.
    int Error() const;

private:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
    };

    void Run();

    std::FILE* const file_;
    const size_t bufferSize_;
    mutable std::mutex lock_;
    std::condition_variable filled_;
    std::condition_variable emptied_;
    std::vector<Buffer> buffers_;  // a ring: the reader fills, the consumer takes, in order
    size_t filledCount_ = 0;       // buffers filled and not yet taken
    size_t readIndex_ = 0;         // the next buffer the reader fills
    size_t takeIndex_ = 0;         // the next buffer the consumer takes
    bool holding_ = false;         // the consumer holds the buffer before takeIndex_
    bool ended_ = false;           // the reader met the end of the file or an error
    std::atomic<bool> stopping_{false}; // also read by a reader waiting for a pipe
    int error_ = 0;
    std::thread thread_; // last: starts once everything above is ready
};

} // namespace Skts
