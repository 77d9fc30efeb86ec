#include "StdoutSink.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Skts {

bool FdWriteBuffer::Drain()
{
    const char* p = pbase();
    const char* end = pptr();
    while (error_ == 0 && p < end) {
        const ssize_t written = ::write(fd_, p, static_cast<size_t>(end - p));
        if (written < 0) {
            if (errno != EINTR)
                error_ = errno;
            continue;
        }
        if (written == 0)
            error_ = EIO;
        p += written;
    }
    // After a failure the bytes are dropped: nothing more reaches the output.
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return error_ == 0;
}

FdWriteBuffer::int_type FdWriteBuffer::overflow(int_type c)
{
    if (!Drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

int FdWriteBuffer::sync() { return Drain() ? 0 : -1; }

std::string StdoutSink::Error() const
{
    return std::string("cannot write standard output: ") + std::strerror(buffer_.Error());
}

bool StdoutSink::Finish()
{
    stream_.flush();
    return !Failed();
}

} // namespace Skts
