#pragma once
// Recursive critical section and its scoped lock.
#include <atomic>
#include <mutex>
#include <thread>

class CCritSec {
public:
    CCritSec() = default;
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock()
    {
        mutex_.lock();
        if (depth_++ == 0)
            owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    }
    void Unlock()
    {
        if (--depth_ == 0)
            owner_.store(std::thread::id(), std::memory_order_relaxed);
        mutex_.unlock();
    }
    // True when the calling thread holds the section.
    bool IsOwnedByCurrentThread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

private:
    std::recursive_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0; // guarded by mutex_
};

inline bool CritCheckIn(const CCritSec* pcCrit) { return pcCrit != nullptr && pcCrit->IsOwnedByCurrentThread(); }

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* plock) : m_pLock(plock) { m_pLock->Lock(); }
    ~CAutoLock() { m_pLock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_pLock;
};
