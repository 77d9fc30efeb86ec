#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace Skts {

// Reads a file, or standard input for "-", in fixed-size chunks.
class ByteSource {
public:
    // Opens the source; on failure Error() says why.
    explicit ByteSource(const std::string& path);
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }

    // Reads up to `bytes` ahead without consuming them (ReadAll still delivers them first).
    // Returns what was read; a read error leaves Error() set and ReadAll fails.
    const std::vector<uint8_t>& Peek(size_t bytes);

    // Reads up to size bytes (what Peek held first); 0 at the end, -1 on a read error.
    int64_t Read(uint8_t* buffer, size_t size);

    // Calls sink with every chunk of at most chunkSize bytes until the end of the input, or
    // until sink returns false. Returns the bytes read, or -1 on a read error (Error() then
    // says why).
    int64_t ReadAll(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink);

private:
    std::FILE* file_ = nullptr;
    bool ownsFile_ = false;
    std::string name_;
    std::string error_;
    std::vector<uint8_t> ahead_;
    size_t aheadServed_ = 0; // bytes of ahead_ that Read has handed out
};

} // namespace Skts
