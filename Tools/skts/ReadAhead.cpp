#include "ReadAhead.h"

#include <cerrno>

#include "IoThread.h"

#if !defined(_WIN32)
#include <poll.h>
#include <unistd.h>
#endif

namespace Skts {

namespace {

// How often a reader waiting for a pipe looks whether it is still wanted.
constexpr int kStopPollMs = 50;

// Up to size bytes: what a pipe has now, a regular file's next bytes. 0 at the end (or once
// `stopping` is set), -1 on an error (error then holds errno). The file must be unbuffered: no
// bytes may hide in its stream.
long long ReadSome(std::FILE* file, uint8_t* into, size_t size, const std::atomic<bool>& stopping, int& error)
{
#if defined(_WIN32)
    (void)stopping; // a blocking read on Windows is not interrupted: only pipes ever block
    const size_t got = std::fread(into, 1, size, file);
    if (got == 0 && std::ferror(file)) {
        error = errno != 0 ? errno : EIO;
        return -1;
    }
    return static_cast<long long>(got);
#else
    const int fd = fileno(file);
    pollfd ready{fd, POLLIN, 0};
    // A pipe whose writer stalls must not keep a finished run waiting for it.
    for (;;) {
        const int polled = ::poll(&ready, 1, kStopPollMs);
        if (polled > 0 || (polled < 0 && errno != EINTR))
            break; // ready, or an error the read reports
        if (stopping.load(std::memory_order_relaxed))
            return 0;
    }
    for (;;) {
        const ssize_t got = ::read(fd, into, size);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
#endif
}

} // namespace

ReadAhead::ReadAhead(std::FILE* file, size_t bufferSize, size_t buffers)
    : file_(file), bufferSize_(bufferSize < 1 ? 1 : bufferSize), buffers_(buffers < 2 ? 2 : buffers),
      thread_(&ReadAhead::Run, this)
{
}

ReadAhead::~ReadAhead()
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    emptied_.notify_one();
    thread_.join();
}

ReadAhead::Stretch ReadAhead::Next()
{
    std::unique_lock<std::mutex> hold(lock_);
    if (holding_) {
        holding_ = false; // the stretch handed out last is the reader's again
        --filledCount_;
        emptied_.notify_one();
    }
    filled_.wait(hold, [this] { return filledCount_ > 0 || ended_; });
    if (filledCount_ == 0)
        return {};
    const Buffer& buffer = buffers_[takeIndex_];
    takeIndex_ = (takeIndex_ + 1) % buffers_.size();
    holding_ = true;
    return {buffer.bytes.get(), buffer.size};
}

int ReadAhead::Error() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return error_;
}

void ReadAhead::Run()
{
    StartIoThread("skts-reader");
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        emptied_.wait(hold, [this] { return filledCount_ < buffers_.size() || stopping_; });
        if (stopping_)
            return;
        Buffer& buffer = buffers_[readIndex_];
        hold.unlock();
        if (!buffer.bytes)
            buffer.bytes = std::make_unique_for_overwrite<uint8_t[]>(bufferSize_);
        int error = 0;
        const long long got = ReadSome(file_, buffer.bytes.get(), bufferSize_, stopping_, error);
        hold.lock();
        if (got > 0) {
            buffer.size = static_cast<size_t>(got);
            ++filledCount_;
            readIndex_ = (readIndex_ + 1) % buffers_.size();
        } else {
            error_ = error;
            ended_ = true;
        }
        filled_.notify_one();
        if (ended_)
            return;
    }
}

} // namespace Skts
