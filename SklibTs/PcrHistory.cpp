#include "PcrHistory.h"

namespace SklibTs {

void PcrHistory::PushBack(const PcrSample& sample)
{
    if (size_ == ring_.size()) {
        // Unroll the ring into a larger one; happens only while the window grows.
        std::vector<PcrSample> larger;
        larger.reserve(ring_.empty() ? 64 : ring_.size() * 2);
        for (size_t i = 0; i < size_; ++i)
            larger.push_back((*this)[i]);
        larger.resize(larger.capacity());
        ring_.swap(larger);
        head_ = 0;
    }
    ring_[(head_ + size_) % ring_.size()] = sample;
    ++size_;
}

void PcrHistory::PopFront()
{
    if (size_ == 0)
        return;
    head_ = (head_ + 1) % ring_.size();
    --size_;
}

} // namespace SklibTs
