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

ByteSource::ByteSource(const std::string& path, const LiveOptions& live)
    : name_(path == "-" ? "standard input" : path)
{
    if (LiveAddress::IsLive(path)) {
        LiveAddress address;
        if (!LiveAddress::Parse(path, address, error_))
            return;
        live_ = std::make_unique<LiveSource>(address, live);
        if (!live_->IsOpen())
            error_ = live_->Error();
        return;
    }
    if (path == "-") {
        file_ = stdin;
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY); // transport stream, not text
#endif
        std::setvbuf(file_, nullptr, _IONBF, 0); // the reader reads the descriptor itself
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
    std::setvbuf(file_, nullptr, _IONBF, 0); // large reads only; the reader reads the descriptor
    if (std::filesystem::is_regular_file(path, ec)) {
        const auto bytes = std::filesystem::file_size(path, ec);
        if (!ec)
            size_ = static_cast<int64_t>(bytes);
    }
}

ByteSource::~ByteSource()
{
    reader_.reset(); // before the file it reads goes
    if (ownsFile_)
        std::fclose(file_);
}

const std::vector<uint8_t>& ByteSource::Peek(size_t bytes)
{
    if (live_)
        return PeekLive(bytes);
    if (ahead_.size() >= bytes || !error_.empty() || reader_)
        return ahead_;
    // Grown a step at a time: a short file touches (and zero-fills) no more than it holds.
    constexpr size_t kStep = size_t{256} << 10;
    ahead_.reserve(bytes);
    while (ahead_.size() < bytes) {
        const size_t had = ahead_.size();
        const size_t step = std::min(kStep, bytes - had);
        ahead_.resize(had + step);
        const size_t got = std::fread(ahead_.data() + had, 1, step, file_);
        ahead_.resize(had + got);
        if (got < step) {
            if (std::ferror(file_))
                FailRead(errno);
            break;
        }
    }
    return ahead_;
}

int64_t ByteSource::Read(uint8_t* buffer, size_t size)
{
    if (!error_.empty())
        return -1;
    if (live_)
        return ReadLive(buffer, size);
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
    if (!readAhead_) {
        const size_t got = std::fread(buffer, 1, size, file_);
        if (got == 0 && std::ferror(file_)) {
            FailRead(errno);
            return -1;
        }
        return static_cast<int64_t>(got);
    }
    if (stretch_.size == 0) {
        stretch_ = NextStretch(size);
        if (stretch_.size == 0)
            return error_.empty() ? 0 : -1;
    }
    const size_t count = std::min(size, stretch_.size);
    std::memcpy(buffer, stretch_.data, count);
    stretch_.data += count;
    stretch_.size -= count;
    return static_cast<int64_t>(count);
}

void ByteSource::FailRead(int error)
{
    error_ = "cannot read " + name_ + ": " + std::strerror(error);
}

ReadAhead::Stretch ByteSource::NextStretch(size_t want)
{
    if (!error_.empty())
        return {};
    if (!readAhead_) {
        direct_.resize(want);
        const size_t got = std::fread(direct_.data(), 1, want, file_);
        if (got < want && std::ferror(file_)) {
            FailRead(errno);
            return {};
        }
        return {direct_.data(), got};
    }
    if (!reader_)
        reader_ = std::make_unique<ReadAhead>(file_);
    const ReadAhead::Stretch stretch = reader_->Next();
    if (stretch.size == 0 && reader_->Error() != 0)
        FailRead(reader_->Error());
    return stretch;
}

int64_t ByteSource::ReadAll(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink)
{
    if (!error_.empty())
        return -1;
    if (live_)
        return ReadAllLive(chunkSize, sink);
    int64_t total = 0;
    for (size_t offset = 0; offset < ahead_.size(); offset += chunkSize) {
        const size_t size = std::min(chunkSize, ahead_.size() - offset);
        total += static_cast<int64_t>(size);
        if (!sink(ahead_.data() + offset, static_cast<uint32_t>(size)))
            return total;
    }
    ahead_.clear();
    ahead_.shrink_to_fit();
    // Chunks are cut from the stretches in place; only one that spans two of the reader's
    // stretches is gathered, so every chunk but the last is chunkSize bytes either way.
    std::vector<uint8_t> gathered;
    for (;;) {
        const ReadAhead::Stretch stretch = NextStretch(chunkSize);
        if (stretch.size == 0) {
            if (!error_.empty())
                return -1;
            if (!gathered.empty()) {
                total += static_cast<int64_t>(gathered.size());
                sink(gathered.data(), static_cast<uint32_t>(gathered.size()));
            }
            return total;
        }
        const uint8_t* data = stretch.data;
        size_t left = stretch.size;
        if (!gathered.empty()) {
            const size_t take = std::min(left, chunkSize - gathered.size());
            gathered.insert(gathered.end(), data, data + take);
            data += take;
            left -= take;
            if (gathered.size() < chunkSize)
                continue;
            total += static_cast<int64_t>(chunkSize);
            if (!sink(gathered.data(), static_cast<uint32_t>(chunkSize)))
                return total;
            gathered.clear();
        }
        for (; left >= chunkSize; data += chunkSize, left -= chunkSize) {
            total += static_cast<int64_t>(chunkSize);
            if (!sink(data, static_cast<uint32_t>(chunkSize)))
                return total;
        }
        gathered.assign(data, data + left);
    }
}

bool ByteSource::NextDatagram()
{
    pending_.clear();
    pendingServed_ = 0;
    if (!aheadDatagrams_.empty()) {
        // The peeked datagrams go first, one at a time, with their own arrival times.
        const auto [end, arrival] = aheadDatagrams_.front();
        pending_.assign(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(end));
        ahead_.erase(ahead_.begin(), ahead_.begin() + static_cast<std::ptrdiff_t>(end));
        aheadDatagrams_.erase(aheadDatagrams_.begin());
        for (auto& datagram : aheadDatagrams_)
            datagram.first -= end;
        arrivalNs_ = arrival;
        return true;
    }
    const uint8_t* data = nullptr;
    int64_t arrival = 0;
    const int64_t got = live_->Next(data, arrival);
    if (got < 0)
        error_ = live_->Error();
    if (got <= 0)
        return false;
    pending_.assign(data, data + got);
    arrivalNs_ = arrival;
    return true;
}

const std::vector<uint8_t>& ByteSource::PeekLive(size_t bytes)
{
    const double until = live_->ElapsedSeconds() + kLivePeekSeconds;
    while (ahead_.size() < bytes && error_.empty() && live_->Ended() == LiveSource::End::None &&
           live_->ElapsedSeconds() < until) {
        const uint8_t* data = nullptr;
        int64_t arrival = 0;
        const int64_t got = live_->Next(data, arrival);
        if (got < 0)
            error_ = live_->Error();
        if (got <= 0)
            break;
        ahead_.insert(ahead_.end(), data, data + got);
        aheadDatagrams_.emplace_back(ahead_.size(), arrival);
    }
    return ahead_;
}

int64_t ByteSource::ReadLive(uint8_t* buffer, size_t size)
{
    if (pendingServed_ == pending_.size() && !NextDatagram())
        return error_.empty() ? 0 : -1;
    const size_t count = std::min(size, pending_.size() - pendingServed_);
    std::memcpy(buffer, pending_.data() + pendingServed_, count);
    pendingServed_ += count;
    return static_cast<int64_t>(count);
}

int64_t ByteSource::ReadAllLive(size_t chunkSize, const std::function<bool(const uint8_t*, uint32_t)>& sink)
{
    int64_t total = 0;
    while (NextDatagram()) {
        for (size_t offset = 0; offset < pending_.size(); offset += chunkSize) {
            const size_t size = std::min(chunkSize, pending_.size() - offset);
            total += static_cast<int64_t>(size);
            if (!sink(pending_.data() + offset, static_cast<uint32_t>(size)))
                return total;
        }
        pendingServed_ = pending_.size();
    }
    return error_.empty() ? total : -1;
}

} // namespace Skts
