#include "Probes.h"

#include <atomic>
#include <thread>

namespace BaseClassesTest {
namespace {

using BaseComObjects = LiveObjects;

TEST_F(BaseComObjects, GuidsCompareByValueAndFormatInRegistryForm)
{
    GUID copy = MEDIASUBTYPE_MPEG2_TRANSPORT;
    EXPECT_TRUE(copy == MEDIASUBTYPE_MPEG2_TRANSPORT);
    copy.Data4[7] ^= 1;
    EXPECT_TRUE(copy != MEDIASUBTYPE_MPEG2_TRANSPORT);
    EXPECT_FALSE(IsEqualGUID(MEDIATYPE_Video, MEDIATYPE_Audio));

    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(IID_IMemAllocator, text, 39), 39);
    EXPECT_STREQ(text, L"{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
    EXPECT_EQ(StringFromGUID2(CLSID_MemoryAllocator, text, 38), 0);
    EXPECT_EQ(StringFromGUID2(MEDIASUBTYPE_MPEG2_TRANSPORT, text, 39), 39);
    EXPECT_STREQ(text, L"{E06D8023-DB46-11CF-B4D1-00805F6CBBEA}");

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_STATE), MakeHResult(0x8007139Fu));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), MakeHResult(0x80070002u));
}

// An object that lives inside an outer object and exposes IPersist on its behalf.
class InnerPersist final : public CUnknown, public IPersist {
public:
    explicit InnerPersist(LPUNKNOWN outer) : CUnknown(NAME("Inner"), outer) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IPersist)
            return GetInterface(static_cast<IPersist*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_SystemClock;
        return S_OK;
    }
};

class Outer final : public CUnknown, public IAMovieSetup {
public:
    Outer() : CUnknown(NAME("Outer"), nullptr)
    {
        auto* inner = new InnerPersist(GetOwner());
        inner->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner_));
    }
    ~Outer() override { inner_->Release(); }
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IAMovieSetup)
            return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
        if (riid == IID_IPersist)
            return inner_->QueryInterface(riid, ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    HRESULT Register() override { return S_OK; }
    HRESULT Unregister() override { return S_OK; }
    LONG Refs() const { return m_cRef.load(); }

private:
    IUnknown* inner_ = nullptr; // the inner object's own unknown
};

TEST_F(BaseComObjects, AggregatedObjectCountsOnItsOuterUnknownAndSharesItsIdentity)
{
    auto* outer = new Outer();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 2);
    IUnknown* identity = nullptr;
    ASSERT_EQ(outer->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(outer->Refs(), 1);

    IPersist* persist = nullptr;
    ASSERT_EQ(identity->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(outer->Refs(), 2); // the inner interface counts on the outer object
    EXPECT_EQ(persist->AddRef(), 3u);
    EXPECT_EQ(persist->Release(), 2u);

    IAMovieSetup* setup = nullptr; // reached back through the inner interface
    ASSERT_EQ(persist->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)), S_OK);
    IUnknown* viaInner = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaInner)), S_OK);
    EXPECT_EQ(viaInner, identity);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(persist->QueryInterface(IID_IPin, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(identity->QueryInterface(IID_IPersist, nullptr), E_POINTER);

    viaInner->Release();
    setup->Release();
    persist->Release();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 2);
    EXPECT_EQ(identity->Release(), 0u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST_F(BaseComObjects, MediaTypesCopyTheirFormatAndMatchPartially)
{
    CMediaType video = MakeType(MEDIATYPE_Video, MEDIASUBTYPE_H264);
    const BYTE format[] = {1, 2, 3, 4};
    ASSERT_TRUE(video.SetFormat(format, sizeof format));
    CMediaType copy(video);
    ASSERT_NE(copy.Format(), video.Format());
    EXPECT_TRUE(copy == video);
    copy.Format()[3] = 9;
    EXPECT_FALSE(copy == video);

    CMediaType open; // all GUID_NULL: matches anything
    EXPECT_TRUE(video.MatchesPartial(&open));
    EXPECT_TRUE(open.IsPartiallySpecified());
    EXPECT_FALSE(video.IsPartiallySpecified());
    CMediaType majorOnly(&MEDIATYPE_Video);
    EXPECT_TRUE(video.MatchesPartial(&majorOnly));
    CMediaType audio(&MEDIATYPE_Audio);
    EXPECT_FALSE(video.MatchesPartial(&audio));
    EXPECT_FALSE(video.MatchesPartial(&copy)); // same format type, different block
    CMediaType noBlock = MakeType(MEDIATYPE_Video, MEDIASUBTYPE_H264);
    EXPECT_FALSE(video.MatchesPartial(&noBlock)); // format type given: block lengths differ

    AM_MEDIA_TYPE* created = CreateMediaType(&video);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->cbFormat, 4u);
    EXPECT_EQ(created->pbFormat[2], 3);
    DeleteMediaType(created);

    copy = video;
    EXPECT_TRUE(copy == video);
    copy.InitMediaType();
    EXPECT_EQ(copy.FormatLength(), 0u);
    EXPECT_EQ(copy.lSampleSize, 1u);
    EXPECT_TRUE(copy.IsFixedSize());
}

TEST_F(BaseComObjects, CriticalSectionIsRecursiveAndKnowsItsOwner)
{
    CCritSec section;
    EXPECT_FALSE(CritCheckIn(&section));
    {
        CAutoLock outer(&section);
        CAutoLock inner(&section);
        EXPECT_TRUE(CritCheckIn(&section));
        bool seenByOther = true;
        std::thread([&] { seenByOther = CritCheckIn(&section); }).join();
        EXPECT_FALSE(seenByOther);
    }
    EXPECT_FALSE(CritCheckIn(&section));
}

TEST_F(BaseComObjects, EventsResetAutomaticallyUnlessManual)
{
    CAMEvent automatic;
    EXPECT_FALSE(automatic.Check());
    automatic.Set();
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.Check());

    CAMEvent manual(TRUE);
    manual.Set();
    EXPECT_TRUE(manual.Check());
    EXPECT_TRUE(manual.Check());
    manual.Reset();
    EXPECT_FALSE(manual.Wait(1));

    std::thread setter([&] { automatic.Set(); });
    EXPECT_TRUE(automatic.Wait(INFINITE));
    setter.join();

    const HANDLE semaphore = CreateSemaphore(nullptr, 0, 2, nullptr);
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, nullptr));
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr)); // above the maximum
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(semaphore));
}

// A waiter may close the handle the moment it wakes, while the signalling call is still on its
// way out (a worker that waits for "done" and then frees its events does this). The signaller
// must touch nothing freed; TSan sees it when it does, whatever the timing.
TEST_F(BaseComObjects, AWaiterMayCloseTheHandleAsSoonAsItWakes)
{
    for (int round = 0; round < 2000; ++round) {
        const bool semaphoreRound = round % 2 == 1;
        const HANDLE handle = semaphoreRound ? CreateSemaphore(nullptr, 0, 1, nullptr)
                                             : CreateEvent(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(handle, nullptr);
        std::thread waiter([handle] {
            EXPECT_EQ(WaitForSingleObject(handle, INFINITE), WAIT_OBJECT_0);
            EXPECT_TRUE(CloseHandle(handle));
        });
        EXPECT_TRUE(semaphoreRound ? ReleaseSemaphore(handle, 1, nullptr) : SetEvent(handle));
        waiter.join();
    }
}

class EchoThread final : public CAMThread {
public:
    ~EchoThread() override { Close(); }
    std::atomic<int> runs{0};

private:
    DWORD ThreadProc() override
    {
        ++runs;
        for (;;) {
            const DWORD request = GetRequest();
            Reply(request * 2);
            if (request == 0)
                return 0;
        }
    }
};

TEST_F(BaseComObjects, WorkerThreadAnswersRequestsAndCanBeRestarted)
{
    EchoThread worker;
    EXPECT_FALSE(worker.ThreadExists());
    EXPECT_EQ(worker.CallWorker(3), DWORD(E_FAIL)); // no thread yet
    ASSERT_TRUE(worker.Create());
    EXPECT_FALSE(worker.Create());
    EXPECT_EQ(worker.CallWorker(21), 42u);
    EXPECT_EQ(worker.CallWorker(0), 0u); // ends the loop
    worker.Close();
    EXPECT_FALSE(worker.ThreadExists());

    ASSERT_TRUE(worker.Create());
    EXPECT_EQ(worker.CallWorker(5), 10u);
    worker.CallWorker(0);
    worker.Close();
    EXPECT_EQ(worker.runs.load(), 2);
}

// The counters the clock and the delivery threads read never run backwards; the millisecond
// timer is compared as a 32-bit difference, as its users do across its wrap.
TEST_F(BaseComObjects, PlatformCountersNeverRunBackwards)
{
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    LARGE_INTEGER previous{};
    QueryPerformanceCounter(&previous);
    DWORD previousMs = timeGetTime();
    for (int i = 0; i < 100'000; ++i) {
        LARGE_INTEGER now{};
        QueryPerformanceCounter(&now);
        const DWORD nowMs = timeGetTime();
        ASSERT_GE(now.QuadPart, previous.QuadPart);
        ASSERT_LT(DWORD(nowMs - previousMs), 0x80000000u);
        previous = now;
        previousMs = nowMs;
    }
    TIMECAPS caps{};
    ASSERT_EQ(timeGetDevCaps(&caps, sizeof caps), TIMERR_NOERROR);
    EXPECT_GE(caps.wPeriodMin, 1u);
    EXPECT_LE(caps.wPeriodMin, caps.wPeriodMax);
}

} // namespace
} // namespace BaseClassesTest
