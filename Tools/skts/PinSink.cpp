#include "PinSink.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace Skts {

namespace {

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();
// The filter presents every PES 400 ms after its due time, in 100 ns.
constexpr int64_t kPresentationDelay = 4'000'000;
constexpr int64_t kUnitsPerMs = 10'000;
constexpr size_t kFileBufferSize = size_t{1} << 20;

// 90-kHz ticks to 100 ns, truncated as the filter does.
int64_t To100ns(int64_t ticks) { return static_cast<int64_t>(static_cast<double>(ticks) / 0.009); }

double Round3(double value) { return std::round(value * 1000.0) / 1000.0; }

} // namespace

void LatenessHistogram::Add(double ms)
{
    const auto bin = static_cast<int>(std::floor((ms - kLowMs) * 10.0));
    ++bins_[static_cast<size_t>(std::clamp(bin, 0, kBins - 1))];
    ++count_;
    max_ = std::max(max_, ms);
}

double LatenessHistogram::Percentile(double fraction) const
{
    const auto rank = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(count_)));
    uint64_t seen = 0;
    for (int bin = 0; bin < kBins; ++bin) {
        seen += bins_[static_cast<size_t>(bin)];
        if (seen >= std::max<uint64_t>(rank, 1))
            return std::min(kLowMs + (bin + 1) / 10.0, max_); // upper edge of the bin
    }
    return max_;
}

PinSink::PinSink(std::string name, std::vector<uint32_t> pids, PinMediaType type, PesBoundaries boundaries)
    : name_(std::move(name)), pids_(std::move(pids)), type_(std::move(type)), boundaries_(boundaries)
{
}

PinSink::~PinSink()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool PinSink::OpenOutput(const std::string& path)
{
    std::lock_guard lock(mutex_);
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error_ = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    fileBuffer_ = std::make_unique<char[]>(kFileBufferSize);
    std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBufferSize);
    return true;
}

void PinSink::Expect(const ExpectedPes& pes)
{
    if (pes.size == 0)
        return; // the filter delivers nothing for a PES without payload
    std::lock_guard lock(mutex_);
    expected_.push_back(pes);
}

bool PinSink::HasEverythingExpected() const
{
    std::lock_guard lock(mutex_);
    return expected_.empty() && currentLeft_ == 0;
}

uint64_t PinSink::Bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

std::string PinSink::Error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

bool PinSink::StartsPes(const DsHost::ReceivedSample& sample, bool notifiedPesStart)
{
    switch (boundaries_) {
    case PesBoundaries::Notified:
        return notifiedPesStart;
    case PesBoundaries::Expected:
        if (currentLeft_ > 0 && !sample.discontinuity)
            return false;
        currentMatched_ = false;
        // Late PES the filter dropped before a discontinuity: skip those that start too early.
        if (sample.discontinuity && haveLastOffset_ && sample.start != 0) {
            while (!expected_.empty() && expected_.front().pts != kNoTime &&
                   To100ns(expected_.front().pts) + lastOffset_ < sample.start - kUnitsPerMs)
                expected_.pop_front();
        }
        if (!expected_.empty()) {
            current_ = expected_.front();
            expected_.pop_front();
            currentMatched_ = true;
        } else {
            current_ = ExpectedPes{};
        }
        currentLeft_ = current_.size;
        return true;
    case PesBoundaries::Marks:
        return !anySample_ || sample.syncPoint || previousLength_ < previousSize_ || sample.start != previousStart_;
    }
    return false;
}

void PinSink::FirstSampleOfPes(const DsHost::ReceivedSample& sample, int64_t arrival)
{
    ++pes_;
    if (!currentMatched_ || sample.start == 0 || current_.pts == kNoTime)
        return;
    const int64_t pts100 = To100ns(current_.pts);
    const int64_t offset = sample.start - pts100;
    if (!offsets_.known) {
        offsets_ = {true, offset, offset};
    } else {
        offsets_.min = std::min(offsets_.min, offset);
        offsets_.max = std::max(offsets_.max, offset);
    }
    if (haveLastOffset_ && std::llabs(offset - lastOffset_) > kUnitsPerMs)
        ++offsetSteps_;
    lastOffset_ = offset;
    haveLastOffset_ = true;
    // The filter hands a PES over at its DTS, 400 ms and the PTS-DTS distance before its start.
    const int64_t dts100 = current_.dts == kNoTime ? pts100 : To100ns(current_.dts);
    const int64_t due = sample.start - kPresentationDelay - (pts100 - dts100);
    lateness_.Add(static_cast<double>(arrival - due) / kUnitsPerMs);
}

HRESULT PinSink::OnSample(const DsHost::ReceivedSample& sample, int64_t arrival, bool notifiedPesStart)
{
    std::lock_guard lock(mutex_);
    if (StartsPes(sample, notifiedPesStart))
        FirstSampleOfPes(sample, arrival);
    const auto length = static_cast<uint32_t>(std::max<LONG>(sample.length, 0));
    currentLeft_ = currentLeft_ > length ? currentLeft_ - length : 0;
    if (samples_ == 0)
        firstStart_ = sample.start;
    lastStart_ = sample.start;
    ++samples_;
    bytes_ += length;
    syncPoints_ += sample.syncPoint ? 1 : 0;
    discontinuities_ += sample.discontinuity ? 1 : 0;
    previousLength_ = sample.length;
    previousSize_ = sample.size;
    previousStart_ = sample.start;
    anySample_ = true;
    if (file_ != nullptr && length > 0 && error_.empty() && std::fwrite(sample.data, 1, length, file_) != length)
        error_ = "cannot write " + path_ + ": " + std::strerror(errno);
    return S_OK;
}

bool PinSink::Finish()
{
    std::lock_guard lock(mutex_);
    if (file_ == nullptr)
        return error_.empty();
    const bool flushed = std::fflush(file_) == 0;
    if (!flushed && error_.empty())
        error_ = "cannot write " + path_ + ": " + std::strerror(errno);
    if (std::fclose(file_) != 0 && error_.empty())
        error_ = "cannot write " + path_ + ": " + std::strerror(errno);
    file_ = nullptr;
    return error_.empty();
}

PinSink::Offsets PinSink::StartMinusPts() const
{
    std::lock_guard lock(mutex_);
    return offsets_;
}

nlohmann::json PinSink::Report() const
{
    std::lock_guard lock(mutex_);
    nlohmann::json pids = nlohmann::json::array();
    for (uint32_t pid : pids_)
        pids.push_back(pid);
    nlohmann::json lateness = nullptr;
    if (!lateness_.Empty())
        lateness = {{"p50", Round3(lateness_.Percentile(0.50))},
                    {"p99", Round3(lateness_.Percentile(0.99))},
                    {"max", Round3(lateness_.Max())}};
    nlohmann::json spread = nullptr;
    if (offsets_.known)
        spread = Round3(static_cast<double>(offsets_.max - offsets_.min) / kUnitsPerMs);
    return {{"name", name_},
            {"pids", std::move(pids)},
            {"major_type", PinKindName(type_.kind)},
            {"subtype", type_.subtypeName.empty() ? nlohmann::json(nullptr) : nlohmann::json(type_.subtypeName)},
            {"samples", samples_},
            {"bytes", bytes_},
            {"pes", pes_},
            {"sync_points", syncPoints_},
            {"discontinuities", discontinuities_},
            {"first_start", firstStart_},
            {"last_start", lastStart_},
            {"lateness_ms", std::move(lateness)},
            {"start_minus_pts_spread_ms", std::move(spread)},
            {"pcr_offset_changes", offsetSteps_}};
}

} // namespace Skts
