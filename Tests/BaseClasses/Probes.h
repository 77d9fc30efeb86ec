#pragma once
// Test filters whose pins record what the base classes call on them.
#include "ComPtr.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace BaseClassesTest {

// Every test starts and ends with no live COM object, so any leak fails the test.
class LiveObjects : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CBaseObject::ObjectsActive(), 0); }
    void TearDown() override { EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "COM objects leaked"; }
};

class CallLog {
public:
    void Add(const std::string& call)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    std::vector<std::string> Take()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(calls_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

inline std::string Narrow(LPCWSTR text) { return std::string(text, text + std::wcslen(text)); }

inline CMediaType MakeType(const GUID& major, const GUID& sub)
{
    CMediaType type(&major);
    type.SetSubtype(&sub);
    type.SetFormatType(&FORMAT_None);
    return type;
}

// Grants at most `limit` buffers, whatever is asked.
class LimitedAllocator final : public CMemAllocator {
public:
    explicit LimitedAllocator(LONG limit) : CMemAllocator(NAME("Limited allocator"), nullptr, nullptr), limit_(limit) {}
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override
    {
        ALLOCATOR_PROPERTIES capped = *pRequest;
        capped.cBuffers = std::min(capped.cBuffers, limit_);
        return CMemAllocator::SetProperties(&capped, pActual);
    }
    static HRESULT Make(LONG limit, IMemAllocator** allocator)
    {
        return (new LimitedAllocator(limit))->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
    }

private:
    const LONG limit_;
};

struct PinBehaviour {
    std::vector<CMediaType> offered;      // what GetMediaType lists
    std::vector<CMediaType> accepted;     // CheckMediaType: a match with any (partial); empty takes all
    HRESULT activeResult = S_OK;          // a failure is returned by Active without the base
    HRESULT inactiveResult = S_OK;        // likewise for Inactive
    LONG allocatorLimit = 0;              // > 0: allocators of this pin grant at most this many buffers
    LONG buffersWanted = 4;               // output pins: DecideBufferSize asks for these
    LONG bufferSize = 1024;
};

class ProbeFilter;

class ProbeInputPin final : public CBaseInputPin {
public:
    ProbeInputPin(ProbeFilter* filter, CCritSec* lock, LPCWSTR name, PinBehaviour behaviour, CallLog& log);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    void Record(const std::string& call) { log_.Add(Narrow(Name()) + "." + call); }
    const PinBehaviour behaviour_;
    CallLog& log_;
};

class ProbeOutputPin final : public CBaseOutputPin {
public:
    ProbeOutputPin(ProbeFilter* filter, CCritSec* lock, LPCWSTR name, PinBehaviour behaviour, CallLog& log);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    HRESULT InitAllocator(IMemAllocator** ppAlloc) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    IMemAllocator* Allocator() const { return m_pAllocator; }

private:
    void Record(const std::string& call) { log_.Add(Narrow(Name()) + "." + call); }
    const PinBehaviour behaviour_;
    CallLog& log_;
};

class ProbeFilter final : public CBaseFilter {
public:
    explicit ProbeFilter(CallLog& log, const CLSID& clsid = GUID_NULL)
        : CBaseFilter(NAME("Probe filter"), nullptr, &lock_, clsid), log_(log)
    {
    }

    ProbeInputPin* AddInput(LPCWSTR name, PinBehaviour behaviour = {})
    {
        auto pin = std::make_unique<ProbeInputPin>(this, &lock_, name, std::move(behaviour), log_);
        auto* raw = pin.get();
        pins_.push_back(std::move(pin));
        IncrementPinVersion();
        return raw;
    }
    ProbeOutputPin* AddOutput(LPCWSTR name, PinBehaviour behaviour = {})
    {
        auto pin = std::make_unique<ProbeOutputPin>(this, &lock_, name, std::move(behaviour), log_);
        auto* raw = pin.get();
        pins_.push_back(std::move(pin));
        IncrementPinVersion();
        return raw;
    }
    void RemoveLastPin()
    {
        pins_.pop_back();
        IncrementPinVersion();
    }

    int GetPinCount() override { return static_cast<int>(pins_.size()); }
    CBasePin* GetPin(int n) override { return n >= 0 && n < GetPinCount() ? pins_[size_t(n)].get() : nullptr; }
    LONG RefCount() const { return m_cRef.load(); }
    REFERENCE_TIME StartTime() const { return m_tStart; }

private:
    CCritSec lock_;
    CallLog& log_;
    std::vector<std::unique_ptr<CBasePin>> pins_;
};

// A clock whose time the test sets.
class ManualClock final : public IReferenceClock, public CBaseObject {
public:
    ManualClock() : CBaseObject(NAME("Manual clock")) {}
    void Set(REFERENCE_TIME time) { time_ = time; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        CheckPointer(ppv, E_POINTER);
        if (riid == IID_IReferenceClock || riid == IID_IUnknown)
            return GetInterface(static_cast<IReferenceClock*>(this), ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ULONG(++refs_); }
    ULONG Release() override
    {
        const LONG left = --refs_;
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT GetTime(REFERENCE_TIME* pTime) override
    {
        CheckPointer(pTime, E_POINTER);
        *pTime = time_;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

private:
    std::atomic<LONG> refs_{0};
    std::atomic<REFERENCE_TIME> time_{0};
};

} // namespace BaseClassesTest
