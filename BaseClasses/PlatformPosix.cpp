// Operating-system calls of the base classes for platforms without Windows. This is the only
// platform-specific source of the folder; on Windows the system supplies these functions.
#if !defined(_WIN32)
#include "ComPlatform.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <thread>

namespace {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A waitable kernel object behind a HANDLE.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // True when the object was signalled within the time-out (INFINITE waits for ever).
    bool Wait(DWORD milliseconds)
    {
        std::unique_lock lock(mutex_);
        auto signalled = [this] { return IsSignalled(); };
        if (milliseconds == INFINITE)
            changed_.wait(lock, signalled);
        else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled))
            return false;
        Consume();
        return true;
    }

protected:
    virtual bool IsSignalled() const = 0;
    virtual void Consume() = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
};

class EventObject final : public KernelObject {
public:
    EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

    void Set()
    {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        if (manualReset_)
            changed_.notify_all();
        else
            changed_.notify_one();
    }
    void Reset()
    {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

private:
    bool IsSignalled() const override { return signalled_; }
    void Consume() override
    {
        if (!manualReset_)
            signalled_ = false;
    }

    const bool manualReset_;
    bool signalled_;
};

class SemaphoreObject final : public KernelObject {
public:
    SemaphoreObject(LONG initialCount, LONG maximumCount) : count_(initialCount), maximum_(maximumCount) {}

    bool Release(LONG releaseCount, LONG* previousCount)
    {
        {
            std::lock_guard lock(mutex_);
            if (releaseCount <= 0 || count_ > maximum_ - releaseCount)
                return false;
            if (previousCount)
                *previousCount = count_;
            count_ += releaseCount;
        }
        changed_.notify_all();
        return true;
    }

private:
    bool IsSignalled() const override { return count_ > 0; }
    void Consume() override { --count_; }

    LONG count_;
    const LONG maximum_;
};

KernelObject* ToObject(HANDLE handle) { return static_cast<KernelObject*>(handle); }

} // namespace

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(LPVOID pv) { std::free(pv); }

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    constexpr int kGuidChars = 39; // braces, 32 digits, 4 dashes and the terminator
    if (lpsz == nullptr || cchMax < kGuidChars)
        return 0;
    std::swprintf(lpsz, static_cast<size_t>(cchMax), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1], rguid.Data4[2],
                  rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    return kGuidChars;
}

DWORD timeGetTime() { return static_cast<DWORD>(static_cast<uint64_t>(SteadyNanoseconds() / 1000000)); }

MMRESULT timeGetDevCaps(TIMECAPS* ptc, UINT cbtc)
{
    if (ptc == nullptr || cbtc < sizeof(TIMECAPS))
        return TIMERR_NOCANDO;
    ptc->wPeriodMin = 1;
    ptc->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}
MMRESULT timeBeginPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount)
{
    if (lpPerformanceCount == nullptr)
        return FALSE;
    lpPerformanceCount->QuadPart = SteadyNanoseconds();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency)
{
    if (lpFrequency == nullptr)
        return FALSE;
    lpFrequency->QuadPart = 1000000000;
    return TRUE;
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString == nullptr)
        return;
    // One write per call keeps lines of different threads apart.
    std::fwrite(lpOutputString, 1, std::strlen(lpOutputString), stderr);
    std::fflush(stderr);
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }

HANDLE CreateEvent(LPVOID, BOOL bManualReset, BOOL bInitialState, LPCTSTR)
{
    return static_cast<KernelObject*>(new EventObject(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent)
{
    auto* event = dynamic_cast<EventObject*>(ToObject(hEvent));
    if (event == nullptr)
        return FALSE;
    event->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    auto* event = dynamic_cast<EventObject*>(ToObject(hEvent));
    if (event == nullptr)
        return FALSE;
    event->Reset();
    return TRUE;
}

HANDLE CreateSemaphore(LPVOID, LONG lInitialCount, LONG lMaximumCount, LPCTSTR)
{
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount)
        return nullptr;
    return static_cast<KernelObject*>(new SemaphoreObject(lInitialCount, lMaximumCount));
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LONG* lpPreviousCount)
{
    auto* semaphore = dynamic_cast<SemaphoreObject*>(ToObject(hSemaphore));
    return semaphore != nullptr && semaphore->Release(lReleaseCount, lpPreviousCount) ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    if (hHandle == nullptr)
        return WAIT_FAILED;
    return ToObject(hHandle)->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (hObject == nullptr)
        return FALSE;
    delete ToObject(hObject);
    return TRUE;
}
#endif
