#include "ByteSource.h"

#include <algorithm>
#include <cerrno>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif
#include <cstring>
#include <filesystem>

namespace Skts {

ByteSource::ByteSource(const std::string& path) : name_(path == "-" ? "standard input" : path)
{
    if (path == "-") {
        file_ = stdin;
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY); // transport stream, not text
#endif
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error_ = "cannot read '" + path + "': is a directory";
        return;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) {
        error_ = "cannot open '" + path + "': " + std::strerror(errno);
        return;
    }
    ownsFile_ = true;
}

ByteSource::~ByteSource()
{
    if (ownsFile_)
        std::fclose(file_);
}

const std::vector<uint8_t>& ByteSource::Peek(size_t bytes)
{
    if (ahead_.size() < bytes && error_.empty()) {
        const size_t had = ahead_.size();
        ahead_.resize(bytes);
        const size_t got = std::fread(ahead_.data() + had, 1, bytes - had, file_);
        ahead_.resize(had + got);
        if (got < bytes - had && std::ferror(file_))
            error_ = "cannot read " + name_ + ": " + std::strerror(errno);
    }
    return ahead_;
}

int64_t ByteSource::Read(uint8_t* buffer, size_t size)
{
    if (!error_.empty())
        return -1;
    if (aheadServed_ < ahead_.size()) {
        const size_t count = std::min(size, ahead_.size() - aheadServed_);
        std::memcpy(buffer, ahead_.data() + aheadServed_, count);
        aheadServed_ += count;
        if (aheadServed_ == ahead_.size()) {
            ahead_.clear();
            ahead_.shrink_to_fit();
            aheadServed_ = 0;
        }
        return static_cast<int64_t>(count);
    }
    const size_t got = std::fread(buffer, 1, size, file_);
    if (got == 0 && std::ferror(file_)) {
        error_ = "cannot read " + name_ + ": " + std::strerror(errno);
        return -1;
    }
    return static_cast<int64_t>(got);
}

int64_t ByteSource::ReadAll(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink)
{
    if (!error_.empty())
        return -1;
    int64_t total = 0;
    for (size_t offset = 0; offset < ahead_.size(); offset += chunkSize) {
        const size_t size = std::min(chunkSize, ahead_.size() - offset);
        total += static_cast<int64_t>(size);
        if (!sink(ahead_.data() + offset, static_cast<uint32_t>(size)))
            return total;
    }
    ahead_.clear();
    ahead_.shrink_to_fit();
    std::vector<uint8_t> chunk(chunkSize);
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file_);
        if (got > 0) {
            total += static_cast<int64_t>(got);
            if (!sink(chunk.data(), static_cast<uint32_t>(got)))
                return total;
        }
        if (got < chunk.size()) {
            if (std::ferror(file_)) {
                error_ = "cannot read " + name_ + ": " + std::strerror(errno);
                return -1;
            }
            if (std::feof(file_))
                return total;
        }
    }
}

} // namespace Skts
