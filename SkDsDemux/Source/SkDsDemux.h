#pragma once
// The demultiplexer filter. One input pin "Ts" takes transport stream; the application creates
// typed output pins through IMpeg2Demultiplexer and maps PIDs to them through each pin's
// IMPEG2PIDMap. Every completed PES of a mapped PID is stamped with stream times derived from
// PCR and PTS and queued on the delivery thread of each pin the PID is mapped to.
//
// Locks: filterLock (the filter's and every pin's lock) before receiveLock, always in that
// order. Receive holds receiveLock only; Stop, Pause, Run, flushes and the PID-map operations
// hold both, so sample intake never runs during a state change or a map change.
//
// References: pins and the clock have no count of their own; their AddRef and Release act on
// the filter. DeleteOutputPin destroys the pin and gives back the references still held through
// it (the one CreateOutputPin handed out, if the caller has not released it, and any other), so
// a caller may release its pin pointer before deleting the pin or leave it to DeleteOutputPin;
// either way the filter's count is never taken below what other holders have, and a pointer to
// a deleted pin must not be used again. A pin that is connected is disconnected from its peer
// first; if the peer refuses (it is not stopped), DeleteOutputPin fails with the peer's result
// and changes nothing.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "BaseFilter.h"
#include "Demuxer.h"
#include "EsPin.h"
#include "ReferenceClock.h"
#include "SkDsDemuxIds.h"
#include "TimeBase.h"
#include "TsPin.h"

class SkDsDemux final : public CBaseFilter, public IMpeg2Demultiplexer, public ISkDsDemux, public ISkDsAvTimeStamp {
public:
    static constexpr int32_t kVersionMajor = 1;
    static constexpr int32_t kVersionMinor = 0;
    static constexpr int32_t kVersionRevision = 7;
    static constexpr int32_t kVersionBuild = 18;

    // The creation function of the class factory: the filter with Init's result in *phr.
    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    SkDsDemux(LPUNKNOWN pUnk, HRESULT* phr, DsDemux::SteadyClock steadyClock = DsDemux::SteadyNowNs);
    ~SkDsDemux() override;

    // Starts the engine; called once right after construction.
    HRESULT Init();

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Pin 0 is the input pin, pin n + 1 the n-th output pin in creation order.
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // Stop resets the engine; Pause and Stop drop the PCR offset; Run calibrates the steady
    // clock against the stream time.
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    // IMpeg2Demultiplexer
    HRESULT CreateOutputPin(AM_MEDIA_TYPE* pMediaType, LPWSTR pszPinName, IPin** ppIPin) override;
    // A pin's type is fixed at creation: E_NOTIMPL for an existing pin, E_FAIL for none.
    HRESULT SetOutputPinMediaType(LPWSTR pszPinName, AM_MEDIA_TYPE* pMediaType) override;
    HRESULT DeleteOutputPin(LPWSTR pszPinName) override;

    // ISkDsDemux
    HRESULT GetVersion(int32_t* major, int32_t* minor, int32_t* revision, int32_t* build) override;
    // ISkDsAvTimeStamp
    HRESULT SetTimeStampProvider(AvTimeStampProvider* provider) override;

    // Flushes passed on to every output pin; the result is the last pin's.
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();

    // The PID map. MapPids accepts elementary-stream content (1) only.
    HRESULT MapPids(const std::vector<int32_t>& pids, int32_t content, EsPin* pin);
    HRESULT UnmapPid(int32_t pid, EsPin* pin);
    HRESULT UnmapPids(const std::vector<int32_t>& pids, EsPin* pin);
    // A new enumerator over the pin's PIDs, reference count 0; null when out of memory.
    IEnumPIDMap* EnumPidMap(EsPin* pin);

    // The engine's callbacks: a completed PES of a mapped PID, and the PCR-derived time of the
    // current sample's first packet.
    static void DeliverPes(uint32_t pid, DsDemux::PidEntry& entry, uint32_t pcrPid, void* context);
    void OnSampleTime(int64_t sampleTime, bool& flag);

    // For the pins, their delivery threads and tests.
    DsDemux::Demuxer& Engine() { return engine_; }
    DsDemux::TimeBase& Time() { return timeBase_; }
    bool StreamTimeNow(int64_t& now);
    int64_t SteadyNow() const { return steadyClock_(); }
    bool IsPaused() const { return m_State == State_Paused; }
    EsPin* FindOutputPin(LPCWSTR name);
    LONG ReferenceCount() const { return m_cRef.load(); }

private:
    HRESULT RemoveOutputPin(LPCWSTR name);

    CCritSec filterLock_;
    CCritSec receiveLock_;
    const DsDemux::SteadyClock steadyClock_;
    ReferenceClock clock_;
    DsDemux::Demuxer engine_;
    TsPin inputPin_;
    std::deque<std::unique_ptr<EsPin>> outputPins_;
    std::map<int32_t, std::vector<EsPin*>> pidMap_;
    DsDemux::TimeBase timeBase_;
};
