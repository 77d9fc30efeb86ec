#include "OutputFiles.h"

#include "PidText.h"

#if defined(_WIN32)
#include <cstdio>
#else
#include <sys/resource.h>
#endif

#include <cerrno>
#include <cstring>

namespace Skts {

OutputFiles::OutputFiles(std::filesystem::path directory, size_t maxOpen)
    : directory_(std::move(directory)), maxOpen_(maxOpen < 1 ? 1 : maxOpen),
      writer_(kBufferSize, maxOpen_ + kBuffersInFlight, kBuffersInFlight)
{
    // Leave half of a low descriptor limit to the rest of the process (the input, the
    // libraries, a sanitizer's runtime); running out is still handled when it happens.
#if defined(_WIN32)
    const auto streams = static_cast<size_t>(_getmaxstdio()); // the C runtime's own limit
    if (streams < 2 * maxOpen_ + 16)
        maxOpen_ = streams > 18 ? (streams - 16) / 2 : 1;
#else
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < 2 * maxOpen_ + 16)
        maxOpen_ = limit.rlim_cur > 18 ? static_cast<size_t>((limit.rlim_cur - 16) / 2) : 1;
#endif
}

OutputFiles::~OutputFiles()
{
    if (committed_)
        return;
    for (auto& [pid, file] : files_)
        Close(file);
    writer_.Finish();
    for (auto& [pid, file] : files_) {
        std::error_code ignored;
        std::filesystem::remove(file.path, ignored);
    }
}

bool OutputFiles::Fail(const File& file, int error)
{
    if (error_.empty())
        error_ = CannotWrite(file.path, error);
    return false;
}

void OutputFiles::Close(File& file)
{
    if (!file.handle)
        return;
    lru_.erase(file.lruEntry);
    if (Failed()) {
        // The outputs of a failed run are removed: what is left in the buffer stays unwritten.
        writer_.Give(std::move(file.filling));
        file.filling = {};
    }
    // A closed file holds no memory, however many PIDs there are.
    if (!file.withWriter) {
        // Nothing of this path is queued: writing the rest and closing here costs no hand-over,
        // which matters when many PIDs with short payloads take turns at the open files.
        std::FILE* handle = file.handle.release();
        int error = WriteAll(handle, file.filling.bytes.get(), file.filling.size);
        if (const int closeError = CloseChecked(handle); error == 0)
            error = closeError;
        writer_.Give(std::move(file.filling));
        file.filling = {};
        if (error != 0)
            Fail(file, error);
        return;
    }
    if (file.filling.size > 0)
        writer_.Write(file.handle.get(), file.path, std::move(file.filling));
    else
        writer_.Give(std::move(file.filling));
    file.filling = {};
    writer_.Close(file.handle.release(), file.path);
}

void OutputFiles::WaitForWriter()
{
    writer_.Finish();
    for (auto& [pid, file] : files_)
        file.withWriter = false;
}

bool OutputFiles::Open(uint32_t pid, File& file, const char* mode)
{
    if (lru_.size() >= maxOpen_)
        Close(files_.at(lru_.front()));
    bool waitedForWriter = false;
    for (;;) {
        errno = 0;
        file.handle.reset(std::fopen(file.path.string().c_str(), mode));
        if (file.handle) {
            // The writer hands over whole buffers: a second one in the stream would only copy.
            std::setvbuf(file.handle.get(), nullptr, _IONBF, 0);
            break;
        }
        const int error = errno;
        // Out of descriptors: let the writer close what it was asked to, then give back one of
        // ours after another, trying again each time.
        if (error == EMFILE || error == ENFILE) {
            if (!waitedForWriter) {
                WaitForWriter();
                waitedForWriter = true;
                continue;
            }
            if (!lru_.empty()) {
                Close(files_.at(lru_.front()));
                WaitForWriter();
                continue;
            }
        }
        return Fail(file, error);
    }
    file.lruEntry = lru_.insert(lru_.end(), pid);
    return true;
}

bool OutputFiles::Create(uint32_t pid)
{
    if (Failed())
        return false;
    File& file = files_[pid];
    if (!file.path.empty()) {
        Close(file); // made before: start it again once the writer is done with it
        WaitForWriter();
    }
    file.path = directory_ / (PidName(pid) + ".es");
    return Open(pid, file, "wb");
}

bool OutputFiles::Write(uint32_t pid, const uint8_t* data, size_t size)
{
    if (Failed())
        return false;
    const auto found = files_.find(pid);
    if (found == files_.end())
        return false;
    File& file = found->second;
    if (file.handle)
        lru_.splice(lru_.end(), lru_, file.lruEntry);
    else if (!Open(pid, file, "ab"))
        return false;
    while (size > 0) {
        if (!file.filling.bytes)
            file.filling = writer_.Take();
        const size_t room = writer_.BufferSize() - file.filling.size;
        const size_t piece = size < room ? size : room;
        std::memcpy(file.filling.bytes.get() + file.filling.size, data, piece);
        file.filling.size += piece;
        data += piece;
        size -= piece;
        if (file.filling.size == writer_.BufferSize()) {
            writer_.Write(file.handle.get(), file.path, std::move(file.filling));
            file.filling = {};
            file.withWriter = true;
        }
    }
    return !writer_.Failed();
}

bool OutputFiles::Commit()
{
    for (auto& [pid, file] : files_)
        Close(file);
    writer_.Finish();
    committed_ = !Failed();
    return committed_;
}

} // namespace Skts
