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
    : directory_(std::move(directory)), maxOpen_(maxOpen < 1 ? 1 : maxOpen)
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
    for (auto& [pid, file] : files_) {
        file.handle.reset();
        std::error_code ignored;
        std::filesystem::remove(file.path, ignored);
    }
}

bool OutputFiles::Fail(const File& file, int error)
{
    if (error_.empty())
        error_ = "cannot write " + file.path.string() + ": " + std::strerror(error != 0 ? error : EIO);
    return false;
}

bool OutputFiles::Close(File& file)
{
    if (!file.handle)
        return true;
    lru_.erase(file.lruEntry);
    std::FILE* handle = file.handle.release();
    errno = 0;
    const bool written = std::ferror(handle) == 0;
    const int closeResult = std::fclose(handle);
    file.buffer.reset(); // a closed file holds no memory, however many PIDs there are
    if (!written || closeResult != 0)
        return Fail(file, errno);
    return true;
}

bool OutputFiles::Open(uint32_t pid, File& file, const char* mode)
{
    if (lru_.size() >= maxOpen_ && !Close(files_.at(lru_.front())))
        return false;
    for (;;) {
        errno = 0;
        file.handle.reset(std::fopen(file.path.string().c_str(), mode));
        if (file.handle) {
            file.buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
            std::setvbuf(file.handle.get(), file.buffer.get(), _IOFBF, kBufferSize);
            break;
        }
        const int error = errno;
        // Out of descriptors: give back one of ours and try again while we hold any.
        if ((error == EMFILE || error == ENFILE) && !lru_.empty()) {
            if (!Close(files_.at(lru_.front())))
                return false;
            continue;
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
    errno = 0;
    if (std::fwrite(data, 1, size, file.handle.get()) != size)
        return Fail(file, errno);
    return true;
}

bool OutputFiles::Commit()
{
    for (auto& [pid, file] : files_) {
        if (!Close(file))
            break;
    }
    committed_ = !Failed();
    return committed_;
}

} // namespace Skts
