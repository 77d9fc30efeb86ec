#include "Host/FilterGraph.h"

#include "RefClock.h"

#include <algorithm>
#include <chrono>

namespace DsHost {

namespace {

// Every pin of a filter, AddRef'ed.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter)
{
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> pinEnum;
    if (FAILED(filter->EnumPins(pinEnum.Put())))
        return pins;
    for (;;) {
        IPin* pin = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = pinEnum->Next(1, &pin, &fetched);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) {
            pins.clear();
            pinEnum->Reset();
            continue;
        }
        if (hr != S_OK || fetched != 1)
            break;
        pins.push_back(ComPtr<IPin>::Attach(pin));
    }
    return pins;
}

PIN_DIRECTION DirectionOf(IPin* pin)
{
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    return direction;
}

// The filters that the output pins of filter feed.
std::vector<IBaseFilter*> DownstreamOf(IBaseFilter* filter)
{
    std::vector<IBaseFilter*> downstream;
    for (const auto& pin : PinsOf(filter)) {
        if (DirectionOf(pin.Get()) != PINDIR_OUTPUT)
            continue;
        ComPtr<IPin> connected;
        if (FAILED(pin->ConnectedTo(connected.Put())))
            continue;
        PIN_INFO info{};
        if (SUCCEEDED(connected->QueryPinInfo(&info)) && info.pFilter != nullptr) {
            downstream.push_back(info.pFilter);
            info.pFilter->Release(); // the graph holds it
        }
    }
    return downstream;
}

} // namespace

ComPtr<FilterGraph> FilterGraph::Create() { return ComPtr<FilterGraph>(new FilterGraph()); }

FilterGraph::FilterGraph() : CUnknown(NAME("Filter graph"), nullptr) {}

FilterGraph::~FilterGraph()
{
    Stop();
    while (!filters_.empty())
        RemoveFilter(filters_.back().filter.Get());
}

HRESULT FilterGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IFilterGraph)
        return GetInterface(static_cast<IFilterGraph*>(this), ppv);
    if (riid == IID_IMediaEventSink)
        return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName)
{
    CheckPointer(pFilter, E_POINTER);
    const std::wstring name = pName != nullptr ? pName : L"";
    for (const auto& entry : filters_) {
        if (entry.filter.Get() == pFilter)
            return E_INVALIDARG;
        if (!name.empty() && entry.name == name)
            return VFW_E_DUPLICATE_NAME;
    }
    ComPtr<IBaseFilter> filter(pFilter);
    HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
    if (FAILED(hr))
        return hr;
    if (clock_) {
        hr = pFilter->SetSyncSource(clock_.Get());
        if (FAILED(hr)) {
            pFilter->JoinFilterGraph(nullptr, nullptr);
            return hr;
        }
    }
    filters_.push_back({std::move(filter), name});
    return S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* pFilter)
{
    CheckPointer(pFilter, E_POINTER);
    const auto found = std::find_if(filters_.begin(), filters_.end(),
                                    [pFilter](const Entry& entry) { return entry.filter.Get() == pFilter; });
    if (found == filters_.end())
        return VFW_E_NOT_FOUND;
    for (const auto& pin : PinsOf(pFilter)) {
        ComPtr<IPin> connected;
        if (SUCCEEDED(pin->ConnectedTo(connected.Put())))
            connected->Disconnect();
        pin->Disconnect();
    }
    pFilter->SetSyncSource(nullptr);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    filters_.erase(found); // releases the graph's reference
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters**) { return E_NOTIMPL; }

HRESULT FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter)
{
    CheckPointer(pName, E_POINTER);
    CheckPointer(ppFilter, E_POINTER);
    *ppFilter = nullptr;
    for (const auto& entry : filters_) {
        if (entry.name == pName)
            return GetInterface(entry.filter.Get(), reinterpret_cast<void**>(ppFilter));
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt)
{
    CheckPointer(ppinOut, E_POINTER);
    CheckPointer(ppinIn, E_POINTER);
    if (DirectionOf(ppinOut) != PINDIR_OUTPUT || DirectionOf(ppinIn) != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    return ppinOut->Connect(ppinIn, pmt);
}

HRESULT FilterGraph::Reconnect(IPin*) { return E_NOTIMPL; }

HRESULT FilterGraph::Disconnect(IPin* ppin)
{
    CheckPointer(ppin, E_POINTER);
    return ppin->Disconnect();
}

HRESULT FilterGraph::SetDefaultSyncSource()
{
    HRESULT hr = S_OK;
    auto* clock = new CBaseReferenceClock(NAME("System clock"), nullptr, &hr);
    ComPtr<IReferenceClock> systemClock;
    clock->NonDelegatingQueryInterface(IID_IReferenceClock, systemClock.PutVoid());
    return FAILED(hr) ? hr : SetSyncSource(systemClock.Get());
}

HRESULT FilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR)
{
    {
        std::lock_guard lock(eventLock_);
        if (EventCode == EC_COMPLETE)
            ++completions_;
        else if ((EventCode == EC_ERRORABORT || EventCode == EC_USERABORT) && abortCode_ == S_OK)
            abortCode_ = FAILED(HRESULT(EventParam1)) ? HRESULT(EventParam1) : E_FAIL;
    }
    eventArrived_.notify_all();
    return S_OK;
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* clock)
{
    if (state_ != State_Stopped)
        return VFW_E_NOT_STOPPED;
    HRESULT result = S_OK;
    for (const auto& entry : filters_) {
        const HRESULT hr = entry.filter->SetSyncSource(clock);
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    clock_ = ComPtr<IReferenceClock>(clock);
    return result;
}

HRESULT FilterGraph::Stop() { return ChangeState(State_Stopped, 0); }

HRESULT FilterGraph::Pause() { return ChangeState(State_Paused, 0); }

HRESULT FilterGraph::Run()
{
    REFERENCE_TIME now = 0;
    if (clock_)
        clock_->GetTime(&now);
    return Run(now);
}

HRESULT FilterGraph::Run(REFERENCE_TIME tStart) { return ChangeState(State_Running, tStart); }

HRESULT FilterGraph::ChangeState(FILTER_STATE target, REFERENCE_TIME tStart)
{
    if (target != State_Stopped && state_ == State_Stopped) {
        std::lock_guard lock(eventLock_);
        completions_ = 0;
        abortCode_ = S_OK;
    }
    if (target == State_Running && state_ == State_Stopped) {
        // Like a graph manager: every filter is paused before any runs.
        const HRESULT hr = ChangeState(State_Paused, 0);
        if (FAILED(hr))
            return hr;
    }
    HRESULT result = S_OK;
    for (IBaseFilter* filter : DownstreamFirst()) {
        HRESULT hr = S_OK;
        switch (target) {
        case State_Stopped:
            hr = filter->Stop();
            break;
        case State_Paused:
            hr = filter->Pause();
            break;
        case State_Running:
            hr = filter->Run(tStart);
            break;
        }
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
        if (FAILED(hr) && target != State_Stopped)
            break;
    }
    if (SUCCEEDED(result) || target == State_Stopped)
        state_ = target;
    else
        ChangeState(State_Stopped, 0); // leave nothing half-started
    return result;
}

std::vector<IBaseFilter*> FilterGraph::DownstreamFirst() const
{
    std::vector<IBaseFilter*> remaining;
    for (const auto& entry : filters_)
        remaining.push_back(entry.filter.Get());
    std::vector<IBaseFilter*> ordered;
    while (!remaining.empty()) {
        // Take a filter none of whose downstream filters is still waiting.
        auto ready = std::find_if(remaining.begin(), remaining.end(), [&remaining](IBaseFilter* filter) {
            const auto downstream = DownstreamOf(filter);
            return std::none_of(downstream.begin(), downstream.end(), [&remaining](IBaseFilter* next) {
                return std::find(remaining.begin(), remaining.end(), next) != remaining.end();
            });
        });
        if (ready == remaining.end())
            ready = remaining.begin(); // a cycle: any order will do
        ordered.push_back(*ready);
        remaining.erase(ready);
    }
    return ordered;
}

int FilterGraph::RendererCount() const
{
    int renderers = 0;
    for (const auto& entry : filters_) {
        bool hasInput = false;
        bool hasOutput = false;
        for (const auto& pin : PinsOf(entry.filter.Get()))
            (DirectionOf(pin.Get()) == PINDIR_INPUT ? hasInput : hasOutput) = true;
        if (hasInput && !hasOutput)
            ++renderers;
    }
    return renderers;
}

bool FilterGraph::WaitForCompletion(DWORD timeoutMs)
{
    const int renderers = RendererCount();
    std::unique_lock lock(eventLock_);
    return eventArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return abortCode_ != S_OK || completions_ >= renderers;
    });
}

HRESULT FilterGraph::AbortCode() const
{
    std::lock_guard lock(eventLock_);
    return abortCode_;
}

} // namespace DsHost
