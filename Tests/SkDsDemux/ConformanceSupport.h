#pragma once
// Building blocks for the conformance tests of the filter's COM surface: a demultiplexer with
// handles on its interfaces, input samples the test controls, and a downstream filter whose
// allocator does what the test scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "BytesSample.h"
#include "FilterTestSupport.h"
#include "MemAllocator.h"

namespace FilterTest {

inline std::string NarrowText(LPCWSTR text) { return std::string(text, text + std::wcslen(text)); }

// A demultiplexer made as the class factory makes it, with the interfaces the tests use. The
// test holds two references: one through filter, one through demux.
class DemuxUnderTest {
public:
    explicit DemuxUnderTest(DsDemux::SteadyClock steadyClock = DsDemux::SteadyNowNs)
        : filter(MakeFilter(&raw, std::move(steadyClock)))
    {
        EXPECT_EQ(filter->QueryInterface(IID_IMpeg2Demultiplexer, demux.PutVoid()), S_OK);
    }

    // A new output pin of the given type, or an empty pointer with the failure recorded.
    ComPtr<IPin> CreatePin(LPCWSTR name, const CMediaType& type = TypeOf(MEDIATYPE_Video))
    {
        CMediaType requested(type);
        ComPtr<IPin> pin;
        EXPECT_EQ(demux->CreateOutputPin(&requested, const_cast<LPWSTR>(name), pin.Put()), S_OK) << NarrowText(name);
        return pin;
    }
    HRESULT Delete(LPCWSTR name) { return demux->DeleteOutputPin(const_cast<LPWSTR>(name)); }

    static ComPtr<IMPEG2PIDMap> MapOf(IPin* pin)
    {
        ComPtr<IMPEG2PIDMap> map;
        EXPECT_EQ(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), S_OK);
        return map;
    }
    static HRESULT Map(IPin* pin, std::vector<ULONG> pids, MEDIA_SAMPLE_CONTENT content = MEDIA_ELEMENTARY_STREAM)
    {
        return MapOf(pin)->MapPID(static_cast<ULONG>(pids.size()), pids.data(), content);
    }
    static HRESULT Unmap(IPin* pin, std::vector<ULONG> pids)
    {
        return MapOf(pin)->UnmapPID(static_cast<ULONG>(pids.size()), pids.data());
    }
    // The PIDs an enumerator of the pin lists, in order.
    static std::vector<ULONG> MappedPids(IPin* pin)
    {
        ComPtr<IEnumPIDMap> enumerator;
        EXPECT_EQ(MapOf(pin)->EnumPIDMap(enumerator.Put()), S_OK);
        std::vector<ULONG> pids;
        PID_MAP record{};
        ULONG received = 0;
        while (enumerator && enumerator->Next(1, &record, &received) == S_OK && received == 1)
            pids.push_back(record.ulPID);
        return pids;
    }

    ComPtr<IPin> InputPin()
    {
        ComPtr<IPin> pin;
        EXPECT_EQ(filter->FindPin(L"Ts", pin.Put()), S_OK);
        return pin;
    }
    ComPtr<IMemInputPin> MemInput()
    {
        ComPtr<IMemInputPin> input;
        EXPECT_EQ(InputPin()->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
        return input;
    }
    TsPin& Ts() { return *static_cast<TsPin*>(raw->GetPin(0)); }
    EsPin& Output(int index) { return *static_cast<EsPin*>(raw->GetPin(index + 1)); }

    // Hands bytes to the input pin in samples of chunk bytes; every Receive must succeed.
    void Feed(const std::vector<uint8_t>& bytes, size_t begin, size_t end, size_t chunk = 188 * 7)
    {
        ComPtr<IMemInputPin> input = MemInput();
        for (size_t at = begin; at < end; at += chunk) {
            BytesSample sample(bytes.data() + at, static_cast<LONG>(std::min(chunk, end - at)));
            ASSERT_EQ(input->Receive(&sample), S_OK);
        }
    }

    SkDsDemux* raw = nullptr;
    ComPtr<IBaseFilter> filter;
    ComPtr<IMpeg2Demultiplexer> demux;
};

// The filter and a sample sink in a host graph, not connected yet.
struct DemuxBesideSink {
    DemuxBesideSink()
    {
        EXPECT_EQ(graph->AddFilter(demux.filter.Get(), L"Demux"), S_OK);
        EXPECT_EQ(graph->AddFilter(sink.Get(), L"Sink"), S_OK);
    }
    SinkRecord record;
    ComPtr<DsHost::FilterGraph> graph = DsHost::FilterGraph::Create();
    DemuxUnderTest demux;
    ComPtr<DsHost::SampleSink> sink{new DsHost::SampleSink(record.Callbacks())};
};

// What the downstream allocator grants and answers.
struct AllocatorScript {
    LONG maxBuffers = 0;             // > 0: grants at most this many buffers
    HRESULT commitResult = S_OK;     // a failure is returned by Commit
    HRESULT decommitOnce = S_OK;     // a failure is returned by the next Decommit only
    std::mutex mutex;
    std::vector<ALLOCATOR_PROPERTIES> requests; // every SetProperties request, in order
};

class ScriptedAllocator final : public CMemAllocator {
public:
    explicit ScriptedAllocator(AllocatorScript& script)
        : CMemAllocator(NAME("Scripted allocator"), nullptr, nullptr), script_(script)
    {
    }
    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override
    {
        CheckPointer(pRequest, E_POINTER);
        ALLOCATOR_PROPERTIES granted = *pRequest;
        {
            std::lock_guard lock(script_.mutex);
            script_.requests.push_back(*pRequest);
            if (script_.maxBuffers > 0)
                granted.cBuffers = std::min(granted.cBuffers, script_.maxBuffers);
        }
        return CMemAllocator::SetProperties(&granted, pActual);
    }
    HRESULT Commit() override { return FAILED(script_.commitResult) ? script_.commitResult : CMemAllocator::Commit(); }
    HRESULT Decommit() override
    {
        const HRESULT scripted = std::exchange(script_.decommitOnce, S_OK);
        return FAILED(scripted) ? scripted : CMemAllocator::Decommit();
    }

private:
    AllocatorScript& script_;
};

class AllocatorPeer;

// Takes any media type and offers the upstream pin its scripted allocator.
class AllocatorPeerPin final : public CBaseInputPin {
public:
    AllocatorPeerPin(CBaseFilter* filter, CCritSec* lock, AllocatorScript& script)
        : CBaseInputPin(NAME("Allocator peer input"), filter, lock, nullptr, L"In"), script_(script)
    {
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override { return pmt == nullptr ? E_POINTER : S_OK; }
    HRESULT GetMediaType(int iPosition, CMediaType*) override
    {
        return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
    }
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override
    {
        CheckPointer(ppAllocator, E_POINTER);
        CAutoLock lock(m_pLock);
        if (m_pAllocator == nullptr) {
            const HRESULT hr = (new ScriptedAllocator(script_))
                                   ->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&m_pAllocator));
            if (FAILED(hr))
                return hr;
        }
        return CBaseInputPin::GetAllocator(ppAllocator);
    }
    // The allocator the upstream pin settled on, not AddRef'ed.
    IMemAllocator* Allocator() const { return m_pAllocator; }

private:
    AllocatorScript& script_;
};

class AllocatorPeer final : public CBaseFilter {
public:
    explicit AllocatorPeer(AllocatorScript& script)
        : CBaseFilter(NAME("Allocator peer"), nullptr, &lock_, GUID_NULL), pin_(this, &lock_, script)
    {
    }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    AllocatorPeerPin& Input() { return pin_; }

private:
    CCritSec lock_;
    AllocatorPeerPin pin_;
};

// Waits, polling, until done() holds or a generous deadline passes; the caller asserts.
template <typename Condition>
bool PollUntil(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace FilterTest
