#include "Host/ByteReader.h"

#include <cerrno>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif
#include <cstring>

namespace DsHost {

FileByteReader::FileByteReader(const std::string& path)
{
    if (path == "-") {
        file_ = stdin;
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY); // transport stream, not text
#endif
        return;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        error_ = path + ": " + std::strerror(errno);
    else
        ownsFile_ = true;
}

FileByteReader::~FileByteReader()
{
    if (ownsFile_)
        std::fclose(file_);
}

int64_t FileByteReader::Read(BYTE* buffer, size_t size)
{
    if (file_ == nullptr)
        return -1;
    const size_t count = std::fread(buffer, 1, size, file_);
    if (count == 0 && std::ferror(file_)) {
        error_ = std::strerror(errno);
        return -1;
    }
    return static_cast<int64_t>(count);
}

MemoryByteReader::MemoryByteReader(std::vector<BYTE> bytes, uint64_t repeat) : bytes_(std::move(bytes)), repeat_(repeat) {}

int64_t MemoryByteReader::Read(BYTE* buffer, size_t size)
{
    size_t written = 0;
    while (written < size && !bytes_.empty() && (repeat_ == 0 || pass_ < repeat_)) {
        const size_t chunk = std::min(size - written, bytes_.size() - position_);
        std::memcpy(buffer + written, bytes_.data() + position_, chunk);
        written += chunk;
        position_ += chunk;
        if (position_ == bytes_.size()) {
            position_ = 0;
            ++pass_;
        }
    }
    return static_cast<int64_t>(written);
}

} // namespace DsHost
