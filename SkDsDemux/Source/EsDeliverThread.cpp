#include "EsDeliverThread.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "EsPin.h"
#include "SkDsDemux.h"
#include "SkDsLogger.h"
#include "TimeBase.h"

namespace {

int64_t StartOf(const DsDemux::PesData& pes) { return pes.timeStamp ? pes.timeStamp->start : 0; }

// Records may be shared by several pins' queues: the discontinuity mark is set atomically.
void MarkDiscontinuity(AvTimeStamp& record)
{
    std::atomic_ref<uint64_t>(record.flags).fetch_or(AvTimeStamp::kFlagDiscontinuity, std::memory_order_relaxed);
}

} // namespace

EsDeliverThread::EsDeliverThread(EsPin& owner) : owner_(owner) {}

EsDeliverThread::~EsDeliverThread() { Stop(); }

HRESULT EsDeliverThread::Start()
{
    if (ThreadExists())
        return S_OK;
    dataEvent_.Reset();
    takenEvent_.Reset();
    stopRequested_ = false;
    return Create() ? S_OK : E_FAIL;
}

void EsDeliverThread::Stop()
{
    stopRequested_ = true;
    dataEvent_.Set();
    // Not under queueLock: the worker takes it on every pass.
    Close();
    std::deque<std::shared_ptr<DsDemux::PesData>> dropped;
    {
        CAutoLock lock(&queueLock_);
        dropped.swap(queue_);
    }
}

size_t EsDeliverThread::QueueLength() const
{
    CAutoLock lock(&queueLock_);
    return queue_.size();
}

bool EsDeliverThread::IsIdle() const
{
    CAutoLock lock(&queueLock_);
    return queue_.empty() && !delivering_;
}

HRESULT EsDeliverThread::Queue(std::shared_ptr<DsDemux::PesData>& pes)
{
    {
        CAutoLock lock(&queueLock_);
        if (!ThreadExists())
            return S_FALSE;
        if (queue_.size() > kBacklog)
            TrimBacklog(*pes);
        if (pes->timeStamp)
            pes->timeStamp->queueLength = static_cast<uint32_t>(queue_.size());
        queue_.push_back(std::move(pes));
    }
    // Signalled once the lock is free, so the worker it wakes does not block on it at once. The
    // event stays set until the worker waits, so no wake-up is lost.
    dataEvent_.Set();
    return S_OK;
}

// A downstream that cannot keep up: a run of items already late at the front is dropped, and
// whatever comes next says that something is missing before it.
void EsDeliverThread::TrimBacklog(DsDemux::PesData& incoming)
{
    int64_t now = 0;
    if (!owner_.Filter().StreamTimeNow(now))
        return;
    size_t late = 0;
    while (late < queue_.size() && StartOf(*queue_[late]) < now)
        ++late;
    if (late <= kLateRun)
        return;
    for (size_t i = 0; i < late; ++i) {
        if (queue_[i]->timeStamp)
            queue_[i]->timeStamp->state = AvTimeStamp::kDroppedLate;
    }
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(late));
    DsDemux::PesData& next = queue_.empty() ? incoming : *queue_.front();
    if (next.timeStamp)
        MarkDiscontinuity(*next.timeStamp);
}

bool EsDeliverThread::TakeDue(std::shared_ptr<DsDemux::PesData>& taken)
{
    CAutoLock lock(&queueLock_);
    if (queue_.empty())
        return false;
    const int64_t now = owner_.Filter().SteadyNow();
    const int64_t due = queue_.front()->dueTimeNs;
    if (due > now && due - now < kHoldLimitNs)
        return true; // not yet
    taken = std::move(queue_.front());
    queue_.pop_front();
    delivering_ = true;
    takenEvent_.Set();
    return true;
}

DWORD EsDeliverThread::ThreadProc()
{
    if (stopRequested_) {
        takenEvent_.Set();
        return 0;
    }
    for (;;) {
        std::shared_ptr<DsDemux::PesData> taken;
        if (TakeDue(taken)) {
            if (taken) {
                DeliverPes(*taken);
                taken.reset();
                CAutoLock lock(&queueLock_);
                delivering_ = false;
            } else {
                Sleep(1);
            }
            if (!stopRequested_)
                continue;
        }
        if (!stopRequested_)
            dataEvent_.Wait(INFINITE);
        if (stopRequested_) {
            takenEvent_.Set();
            return 0;
        }
    }
}

void EsDeliverThread::DeliverPes(const DsDemux::PesData& pes)
{
    uint32_t remaining = 0;
    const uint8_t* payload = pes.pes.GetPayload(remaining);
    if (payload == nullptr || remaining == 0)
        return;

    // The PES may sit in several pins' queues: its record is shared, not detached.
    const std::shared_ptr<AvTimeStamp> record = pes.timeStamp;
    const bool discontinuity =
        record && (std::atomic_ref<uint64_t>(record->flags).load(std::memory_order_relaxed) &
                   AvTimeStamp::kFlagDiscontinuity) != 0;
    REFERENCE_TIME start = record ? record->start : 0;
    REFERENCE_TIME stop = start + 1;

    SkDsDemux& filter = owner_.Filter();
    DsDemux::TimeBase::RecordHolder pieces;
    pieces.record = record;
    if (record)
        pieces.sampleNumber = std::atomic_ref<int32_t>(record->sampleNumber).load(std::memory_order_relaxed) + 1;

    for (bool first = true; remaining > 0; first = false) {
        IMediaSample* sample = nullptr;
        HRESULT hr = owner_.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            SkDsLogger::Log(1, "EsPin", 226, "Failed to get delivery buffer (ERROR=0x%08X)", static_cast<uint32_t>(hr));
            return;
        }
        BYTE* out = nullptr;
        hr = sample->GetPointer(&out);
        const LONG capacity = sample->GetSize();
        if (SUCCEEDED(hr) && capacity <= 0)
            hr = VFW_E_BUFFER_OVERFLOW; // a sample that holds nothing would never finish the PES
        if (FAILED(hr)) {
            SkDsLogger::Log(1, "EsPin", 235, "Failed to get output data pointer (hr=0x%08X)", static_cast<uint32_t>(hr));
            sample->Release();
            return;
        }
        const uint32_t copied = std::min(static_cast<uint32_t>(capacity), remaining);
        std::memcpy(out, payload, copied);
        payload += copied;
        remaining -= copied;

        if (AvTimeStampProvider* provider = filter.Time().Provider()) {
            const std::shared_ptr<AvTimeStamp> pieceRecord = filter.Time().DeriveRecord(pieces);
            sample->SetTime(&start, &stop);
            LONGLONG mediaStart = static_cast<int32_t>(pieceRecord->sequence);
            LONGLONG mediaStop = static_cast<int32_t>(pieceRecord->sequence + 1);
            sample->SetMediaTime(&mediaStart, &mediaStop);
            provider->OnMediaSample(pieceRecord->kind == AvTimeStamp::kVideo ? 0 : 1, pieceRecord);
        } else {
            sample->SetTime(&start, &stop);
            if (first && start != 0) {
                sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
                sample->SetSyncPoint(TRUE);
            }
        }
        sample->SetActualDataLength(static_cast<LONG>(copied));
        sample->SetPreroll(FALSE);
        hr = owner_.Deliver(sample);
        if (FAILED(hr))
            SkDsLogger::Log(1, "EsPin", 277, "Failed to deliver output sample (hr=0x%08X)", static_cast<uint32_t>(hr));
        sample->Release();
    }
}
