#include "BackgroundWriter.h"

#include <cerrno>
#include <cstring>

#include "IoThread.h"

namespace Skts {

std::string CannotWrite(const std::filesystem::path& path, int error)
{
    return "cannot write " + path.string() + ": " + std::strerror(error != 0 ? error : EIO);
}

int WriteAll(std::FILE* file, const uint8_t* data, size_t size)
{
    errno = 0;
    if (size == 0 || std::fwrite(data, 1, size, file) == size)
        return 0;
    return errno != 0 ? errno : EIO;
}

int CloseChecked(std::FILE* file)
{
    errno = 0;
    const bool written = std::ferror(file) == 0;
    if (std::fclose(file) == 0 && written)
        return 0;
    return errno != 0 ? errno : EIO;
}

BackgroundWriter::BackgroundWriter(size_t bufferSize, size_t maxBuffers, size_t maxQueued)
    : bufferSize_(bufferSize < 1 ? 1 : bufferSize), maxBuffers_(maxBuffers < 1 ? 1 : maxBuffers),
      maxQueued_(maxQueued < 1 ? 1 : maxQueued), thread_(&BackgroundWriter::Run, this)
{
}

BackgroundWriter::~BackgroundWriter()
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    jobQueued_.notify_one();
    thread_.join();
}

BackgroundWriter::Buffer BackgroundWriter::Take()
{
    std::unique_lock<std::mutex> hold(lock_);
    bufferFree_.wait(hold,
                     [this] { return !free_.empty() || (allocated_ < maxBuffers_ && withWriter_ < maxQueued_); });
    if (!free_.empty()) {
        Buffer buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }
    ++allocated_;
    hold.unlock();
    return Buffer{std::make_unique_for_overwrite<uint8_t[]>(bufferSize_), 0};
}

void BackgroundWriter::Give(Buffer buffer)
{
    if (!buffer.bytes)
        return;
    buffer.size = 0;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        free_.push_back(std::move(buffer));
    }
    bufferFree_.notify_one();
}

void BackgroundWriter::Write(std::FILE* file, const std::filesystem::path& path, Buffer buffer)
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(Job{file, &path, std::move(buffer), false});
        ++withWriter_;
    }
    jobQueued_.notify_one();
}

void BackgroundWriter::Close(std::FILE* file, const std::filesystem::path& path)
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        jobs_.push_back(Job{file, &path, Buffer{}, true});
    }
    jobQueued_.notify_one();
}

void BackgroundWriter::Finish()
{
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return jobs_.empty() && !busy_; });
}

bool BackgroundWriter::Failed() const
{
    return failed_.load(std::memory_order_acquire);
}

std::string BackgroundWriter::Error() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return error_;
}

void BackgroundWriter::Fail(const std::filesystem::path& path, int error)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (!error_.empty())
        return;
    error_ = CannotWrite(path, error);
    failed_.store(true, std::memory_order_release);
}

void BackgroundWriter::Perform(Job& job)
{
    if (job.close) {
        if (const int error = CloseChecked(job.file); error != 0)
            Fail(*job.path, error);
        return;
    }
    if (Failed())
        return; // the run has failed: the rest of its output is not worth the time
    if (const int error = WriteAll(job.file, job.buffer.bytes.get(), job.buffer.size); error != 0)
        Fail(*job.path, error);
}

void BackgroundWriter::Run()
{
    StartIoThread("skts-writer");
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        jobQueued_.wait(hold, [this] { return !jobs_.empty() || ending_; });
        if (jobs_.empty())
            return; // ending, with nothing left
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        hold.unlock();
        Perform(job);
        hold.lock();
        busy_ = false;
        if (!job.close) {
            --withWriter_;
            if (job.buffer.bytes) {
                job.buffer.size = 0;
                free_.push_back(std::move(job.buffer));
            }
            bufferFree_.notify_one();
        }
        if (jobs_.empty())
            idle_.notify_all();
    }
}

} // namespace Skts
