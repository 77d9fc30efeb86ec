#pragma once
// One output pin's worker: a queue of completed PES packets, each held until its due time on
// the steady clock and then delivered downstream in media samples from the pin's allocator.
#include <atomic>
#include <deque>
#include <memory>

#include "AMEvent.h"
#include "AMThread.h"
#include "CritSec.h"
#include "PesData.h"

class EsPin;

class EsDeliverThread : public CAMThread {
public:
    // A backlog longer than this whose front is more than kLateRun items late is trimmed.
    static constexpr size_t kBacklog = 120;
    static constexpr size_t kLateRun = 20;
    // A PES due further ahead than this (5 s) is delivered at once rather than held.
    static constexpr int64_t kHoldLimitNs = 5'000'000'000;

    explicit EsDeliverThread(EsPin& owner);
    ~EsDeliverThread() override;

    // Starts the worker unless it runs; E_FAIL when it cannot be created.
    HRESULT Start();
    // S_OK: the PES was moved into the queue. S_FALSE: the worker does not run; pes is kept.
    HRESULT Queue(std::shared_ptr<DsDemux::PesData>& pes);
    // Ends the worker, waiting for it, and drops every queued PES.
    void Stop();

    bool IsRunning() const { return ThreadExists() != FALSE; }
    size_t QueueLength() const;
    // Nothing queued and nothing being delivered.
    bool IsIdle() const;

private:
    DWORD ThreadProc() override;
    // Takes the front PES when it is due; false when the queue is empty.
    bool TakeDue(std::shared_ptr<DsDemux::PesData>& taken);
    void TrimBacklog(DsDemux::PesData& incoming);
    void DeliverPes(const DsDemux::PesData& pes);

    EsPin& owner_;
    mutable CCritSec queueLock_;
    std::atomic<bool> stopRequested_{false};
    std::deque<std::shared_ptr<DsDemux::PesData>> queue_;
    bool delivering_ = false; // guarded by queueLock_
    CAMEvent dataEvent_;
    CAMEvent takenEvent_;
};
