#pragma once
// Where a push source gets its transport-stream bytes from.
#include "ComPlatform.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace DsHost {

class ByteReader {
public:
    virtual ~ByteReader() = default;
    // Fills up to size bytes; returns the count, 0 at the end of the input, -1 on error.
    virtual int64_t Read(BYTE* buffer, size_t size) = 0;
};

// A file, or standard input for "-". Reads block; a source stopped while its reader waits
// for input ends only when that read returns.
class FileByteReader final : public ByteReader {
public:
    explicit FileByteReader(const std::string& path);
    ~FileByteReader() override;
    FileByteReader(const FileByteReader&) = delete;
    FileByteReader& operator=(const FileByteReader&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Error() const { return error_; }
    int64_t Read(BYTE* buffer, size_t size) override;

private:
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::string error_;
};

// Bytes held in memory, handed out repeatedly: `repeat` passes over them, 0 for ever.
class MemoryByteReader final : public ByteReader {
public:
    MemoryByteReader(std::vector<BYTE> bytes, uint64_t repeat);
    int64_t Read(BYTE* buffer, size_t size) override;

private:
    const std::vector<BYTE> bytes_;
    const uint64_t repeat_;
    uint64_t pass_ = 0;
    size_t position_ = 0;
};

} // namespace DsHost
