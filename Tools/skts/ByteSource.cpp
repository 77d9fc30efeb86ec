#include "ByteSource.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace Skts {

ByteSource::ByteSource(const std::string& path) : name_(path == "-" ? "standard input" : path)
{
    if (path == "-") {
        file_ = stdin;
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

int64_t ByteSource::ReadAll(size_t chunkSize, const std::function<void(const uint8_t*, uint32_t)>& sink)
{
    std::vector<uint8_t> chunk(chunkSize);
    int64_t total = 0;
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file_);
        if (got > 0) {
            sink(chunk.data(), static_cast<uint32_t>(got));
            total += static_cast<int64_t>(got);
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
