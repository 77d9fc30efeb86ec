#pragma once
// Writes filled buffers to their files on a thread of its own, in the order they were handed
// over, so the kernel's copying of one stretch of output overlaps the demultiplexing of the
// next; it is woken for every buffer (waking it for a few at a time measured no faster).
// Memory is bounded: whoever needs a buffer while all of them are queued waits for one.
// The first failure is kept and named; after it, buffers still come back (unwritten) and files
// are still closed, so nothing waits forever and no descriptor leaks.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Skts {

// "cannot write PATH: <reason>"; an error code of 0 reads as an input/output error.
std::string CannotWrite(const std::filesystem::path& path, int error);
// Writes all size bytes: 0, or the error (EIO when the C library names none).
int WriteAll(std::FILE* file, const uint8_t* data, size_t size);
// Closes the file, checking that every write to it went through: 0, or the error as WriteAll.
int CloseChecked(std::FILE* file);

class BackgroundWriter {
public:
    struct Buffer {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
    };

    // At most maxBuffers exist; whoever needs one while maxQueued are with the writer (queued or
    // being written) waits for the writer to give one back rather than making another: a writer
    // that falls behind would otherwise have every buffer up to maxBuffers made, each a fresh
    // stretch of memory to fault in, when most are for files that are filling.
    BackgroundWriter(size_t bufferSize, size_t maxBuffers, size_t maxQueued);
    // Writes and closes whatever is queued, then ends the thread.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    size_t BufferSize() const { return bufferSize_; }
    // An empty buffer of BufferSize() bytes; waits while every buffer is taken or queued.
    Buffer Take();
    // Gives back a buffer that holds nothing to write.
    void Give(Buffer buffer);
    // Queues buffer.size bytes for the file. The path (which must outlive the queued work)
    // names the file in the error.
    void Write(std::FILE* file, const std::filesystem::path& path, Buffer buffer);
    // Queues closing the file (which the writer then owns) after everything queued before.
    void Close(std::FILE* file, const std::filesystem::path& path);
    // Waits until everything queued so far is written and closed.
    void Finish();

    bool Failed() const;
    // The first failure, empty while none happened.
    std::string Error() const;

private:
    struct Job {
        std::FILE* file;
        const std::filesystem::path* path;
        Buffer buffer;
        bool close;
    };

    void Run();
    void Perform(Job& job);
    void Fail(const std::filesystem::path& path, int error);

    const size_t bufferSize_;
    const size_t maxBuffers_;
    const size_t maxQueued_;
    mutable std::mutex lock_;
    std::condition_variable jobQueued_;
    std::condition_variable bufferFree_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    std::vector<Buffer> free_;
    size_t allocated_ = 0;
    size_t withWriter_ = 0; // buffers queued or being written
    bool busy_ = false;
    bool ending_ = false;
    std::string error_;
    std::atomic<bool> failed_{false};
    std::thread thread_; // last: starts once everything above is ready
};

} // namespace Skts
