#pragma once
// A minimal graph manager for hosting filters outside DirectShow: it holds the filters,
// connects pins, hands out a clock, drives Stop/Pause/Run (downstream filters first) and
// collects the events filters send. On Windows the system's graph manager takes its place.
#include "ComBase.h"
#include "ComPtr.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace DsHost {

class FilterGraph final : public CUnknown, public IFilterGraph, public IMediaEventSink {
public:
    static ComPtr<FilterGraph> Create();
    ~FilterGraph() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    // Disconnects the filter's pins first.
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    // The output pin negotiates: its own or the input pin's types, or exactly pmt.
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    // A system clock (the millisecond timer) for the graph.
    HRESULT SetDefaultSyncSource() override;

    // IMediaEventSink
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    HRESULT Connect(IPin* output, IPin* input, const AM_MEDIA_TYPE* pmt = nullptr)
    {
        return ConnectDirect(output, input, pmt);
    }
    // Gives every filter, present and later added, this clock (null: none).
    HRESULT SetSyncSource(IReferenceClock* clock);
    HRESULT Stop();
    HRESULT Pause();
    // Runs with the start time "now" on the graph clock (0 without a clock).
    HRESULT Run();
    HRESULT Run(REFERENCE_TIME tStart);
    FILTER_STATE State() const { return state_; }

    // True once every renderer (a filter with inputs and no outputs) reported EC_COMPLETE
    // since the last Pause from Stopped, or an error abort arrived; false on time-out.
    bool WaitForCompletion(DWORD timeoutMs);
    // The first EC_ERRORABORT code received, or S_OK.
    HRESULT AbortCode() const;

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::wstring name;
    };

    FilterGraph();
    // Filters ordered so that each comes before the filters upstream of it.
    std::vector<IBaseFilter*> DownstreamFirst() const;
    int RendererCount() const;
    HRESULT ChangeState(FILTER_STATE target, REFERENCE_TIME tStart);

    std::vector<Entry> filters_;
    ComPtr<IReferenceClock> clock_;
    FILTER_STATE state_ = State_Stopped;

    mutable std::mutex eventLock_;
    std::condition_variable eventArrived_;
    int completions_ = 0;
    HRESULT abortCode_ = S_OK;
};

} // namespace DsHost
