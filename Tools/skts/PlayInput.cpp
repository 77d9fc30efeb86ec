#include "PlayInput.h"

#include <chrono>
#include <thread>

namespace Skts {

namespace {

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PlayInput::PlayInput(ByteSource& source, Options options) : source_(source), options_(std::move(options)) {}

std::string PlayInput::Error() const { return failed_ ? source_.Error() : std::string(); }

bool PlayInput::WaitForDueTime()
{
    if (options_.bitrate <= 0)
        return true;
    const int64_t now = SteadyNs();
    if (startNs_ == 0)
        startNs_ = now;
    const auto bits = static_cast<double>(bytesRead_.load()) * 8.0;
    const int64_t due = startNs_ + static_cast<int64_t>(bits * 1e9 / static_cast<double>(options_.bitrate));
    // Short sleeps, so that a stop request is seen soon.
    for (int64_t left = due - SteadyNs(); left > kBurstNs; left = due - SteadyNs()) {
        if (stopRequested_)
            return false;
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<int64_t>(left, 10'000'000)));
    }
    return !stopRequested_;
}

namespace {

class InputReader final : public DsHost::ByteReader {
public:
    explicit InputReader(PlayInput& input) : input_(input) {}
    int64_t Read(BYTE* buffer, size_t size) override { return input_.Read(buffer, size); }

private:
    PlayInput& input_;
};

} // namespace

std::unique_ptr<DsHost::ByteReader> PlayInput::Reader() { return std::make_unique<InputReader>(*this); }

int64_t PlayInput::End(int64_t result)
{
    if (!finished_.exchange(true) && options_.onFinished)
        options_.onFinished();
    return result;
}

int64_t PlayInput::Read(BYTE* buffer, size_t size)
{
    if (finished_ || stopRequested_ || !WaitForDueTime() || (options_.gate && !options_.gate()))
        return End(0);
    const int64_t count = source_.Read(buffer, size);
    if (count < 0) {
        failed_ = true;
        return End(-1);
    }
    if (count == 0) {
        if (!options_.closingByte || closingByteSent_ || size == 0)
            return End(0);
        closingByteSent_ = true;
        buffer[0] = 0xFF;
        return 1;
    }
    if (options_.observe)
        options_.observe(buffer, static_cast<size_t>(count));
    bytesRead_ += static_cast<uint64_t>(count);
    return count;
}

} // namespace Skts
