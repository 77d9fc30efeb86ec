#pragma once
// Standard output with every write checked. The tool's whole report goes through it, so a
// full disk, a closed pipe (with SIGPIPE ignored) or any other write error is noticed, named
// and turned into exit code 2 instead of a silent success.
#include <array>
#include <ostream>
#include <streambuf>
#include <string>

namespace Skts {

class FdWriteBuffer : public std::streambuf {
public:
    explicit FdWriteBuffer(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    ~FdWriteBuffer() override { sync(); }
    FdWriteBuffer(const FdWriteBuffer&) = delete;
    FdWriteBuffer& operator=(const FdWriteBuffer&) = delete;

    // errno of the first failed write, 0 while none failed.
    int Error() const { return error_; }

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    bool Drain();

    int fd_;
    int error_ = 0;
    std::array<char, 65536> buffer_{};
};

class StdoutSink {
public:
    explicit StdoutSink(int fd = 1) : buffer_(fd), stream_(&buffer_) {}

    std::ostream& Stream() { return stream_; }
    // A write has failed; what follows is dropped.
    bool Failed() const { return buffer_.Error() != 0; }
    // "cannot write standard output: <reason>".
    std::string Error() const;
    // Writes out what is buffered; false when anything written failed.
    bool Finish();

private:
    FdWriteBuffer buffer_;
    std::ostream stream_;
};

} // namespace Skts
