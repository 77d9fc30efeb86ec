#include "SkDsDemux.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "PidMapEnumerator.h"
#include "SkDsLogger.h"

CUnknown* SkDsDemux::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr)
{
    auto* filter = new SkDsDemux(pUnk, phr);
    const HRESULT hr = filter->Init();
    if (phr != nullptr)
        *phr = hr;
    return filter;
}

SkDsDemux::SkDsDemux(LPUNKNOWN pUnk, HRESULT* phr, DsDemux::SteadyClock steadyClock)
    : CBaseFilter(NAME("Korvath TS Demultiplexer"), pUnk, &filterLock_, CLSID_SkDsDemux, phr),
      steadyClock_(std::move(steadyClock)), clock_(GetOwner()), engine_(steadyClock_),
      inputPin_(this, &filterLock_, &receiveLock_, phr),
      timeBase_([this](int64_t& now) { return StreamTimeNow(now); }, steadyClock_)
{
    engine_.SetSampleTimeCallback([this](int64_t sampleTime, bool& flag) { OnSampleTime(sampleTime, flag); });
}

SkDsDemux::~SkDsDemux()
{
    // Pins first: their delivery threads end before the engine and the time base go.
    outputPins_.clear();
}

HRESULT SkDsDemux::Init() { return engine_.Init(); }

HRESULT SkDsDemux::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    CheckPointer(ppv, E_POINTER);
    if (riid == IID_IMpeg2Demultiplexer)
        return GetInterface(static_cast<IMpeg2Demultiplexer*>(this), ppv);
    if (riid == IID_IReferenceClock)
        return clock_.NonDelegatingQueryInterface(riid, ppv);
    if (riid == IID_ISkDsDemux)
        return GetInterface(static_cast<ISkDsDemux*>(this), ppv);
    if (riid == IID_ISkDsAvTimeStamp)
        return GetInterface(static_cast<ISkDsAvTimeStamp*>(this), ppv);
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    if (riid == IID_IAMovieSetup)
        return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

int SkDsDemux::GetPinCount()
{
    CAutoLock lock(&filterLock_);
    return static_cast<int>(outputPins_.size()) + 1;
}

CBasePin* SkDsDemux::GetPin(int n)
{
    CAutoLock lock(&filterLock_);
    if (n == 0)
        return &inputPin_;
    if (n >= 1 && static_cast<size_t>(n) <= outputPins_.size())
        return outputPins_[static_cast<size_t>(n - 1)].get();
    return nullptr;
}

bool SkDsDemux::StreamTimeNow(int64_t& now)
{
    CRefTime time;
    if (FAILED(StreamTime(time)))
        return false;
    now = time;
    return true;
}

HRESULT SkDsDemux::Stop()
{
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    engine_.Reset();
    timeBase_.InvalidatePcrOffset();
    return CBaseFilter::Stop();
}

HRESULT SkDsDemux::Pause()
{
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    timeBase_.InvalidatePcrOffset();
    return CBaseFilter::Pause();
}

HRESULT SkDsDemux::Run(REFERENCE_TIME tStart)
{
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    const REFERENCE_TIME previous = m_tStart;
    SkDsLogger::Log(2, "SkDsDemux", 187, "Run: Old->New (%lld->%lld => %.1fms)", static_cast<long long>(previous),
                    static_cast<long long>(tStart), static_cast<double>(tStart - previous) / 10000.0);
    const HRESULT hr = CBaseFilter::Run(tStart);
    timeBase_.Calibrate();
    return hr;
}

EsPin* SkDsDemux::FindOutputPin(LPCWSTR name)
{
    CAutoLock lock(&filterLock_);
    for (const auto& pin : outputPins_) {
        if (std::wcscmp(pin->Name(), name) == 0)
            return pin.get();
    }
    return nullptr;
}

HRESULT SkDsDemux::CreateOutputPin(AM_MEDIA_TYPE* pMediaType, LPWSTR pszPinName, IPin** ppIPin)
{
    CAutoLock lock(&filterLock_);
    if (ppIPin != nullptr)
        *ppIPin = nullptr;
    if (pMediaType == nullptr || pszPinName == nullptr || ppIPin == nullptr)
        return E_INVALIDARG;
    if (FindOutputPin(pszPinName) != nullptr)
        return VFW_E_DUPLICATE_NAME;
    try {
        HRESULT hr = S_OK;
        auto pin = std::make_unique<EsPin>(this, &filterLock_, &hr, pszPinName);
        if (FAILED(pin->SetConfiguredType(*pMediaType)))
            return E_OUTOFMEMORY;
        outputPins_.push_back(std::move(pin));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    EsPin* pin = outputPins_.back().get();
    return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppIPin));
}

HRESULT SkDsDemux::SetOutputPinMediaType(LPWSTR pszPinName, AM_MEDIA_TYPE*)
{
    CAutoLock lock(&filterLock_);
    if (pszPinName == nullptr || FindOutputPin(pszPinName) == nullptr)
        return E_FAIL;
    return E_NOTIMPL;
}

HRESULT SkDsDemux::DeleteOutputPin(LPWSTR pszPinName)
{
    // Giving back the pin's references may end the filter's life: not while its lock is held.
    IUnknown* owner = GetOwner();
    owner->AddRef();
    const HRESULT hr = RemoveOutputPin(pszPinName);
    owner->Release();
    return hr;
}

HRESULT SkDsDemux::RemoveOutputPin(LPCWSTR name)
{
    CAutoLock lock(&filterLock_);
    if (name == nullptr)
        return E_FAIL;
    const auto found = std::find_if(outputPins_.begin(), outputPins_.end(),
                                    [name](const auto& pin) { return std::wcscmp(pin->Name(), name) == 0; });
    if (found == outputPins_.end())
        return E_FAIL;
    EsPin* pin = found->get();
    if (IPin* peer = pin->GetConnected()) {
        const HRESULT hr = peer->Disconnect();
        if (FAILED(hr))
            return hr;
        // The worker uses the allocator the connection brought: it ends before that goes.
        pin->DeliverThread().Stop();
        pin->DisconnectInternal();
    }
    {
        CAutoLock receiving(&receiveLock_);
        std::vector<int32_t> pids;
        for (const auto& [pid, pins] : pidMap_)
            pids.push_back(pid);
        for (int32_t pid : pids)
            UnmapPid(pid, pin);
    }
    std::unique_ptr<EsPin> removed = std::move(*found);
    outputPins_.erase(found);
    const LONG held = removed->HeldReferences();
    removed.reset();
    for (LONG i = 0; i < held; ++i)
        GetOwner()->Release(); // the guard in DeleteOutputPin keeps the filter alive
    return S_OK;
}

HRESULT SkDsDemux::GetVersion(int32_t* major, int32_t* minor, int32_t* revision, int32_t* build)
{
    CheckPointer(major, E_POINTER);
    CheckPointer(minor, E_POINTER);
    CheckPointer(revision, E_POINTER);
    CheckPointer(build, E_POINTER);
    *major = kVersionMajor;
    *minor = kVersionMinor;
    *revision = kVersionRevision;
    *build = kVersionBuild;
    return S_OK;
}

HRESULT SkDsDemux::SetTimeStampProvider(AvTimeStampProvider* provider)
{
    timeBase_.SetProvider(provider);
    return S_OK;
}

HRESULT SkDsDemux::DeliverBeginFlush()
{
    CAutoLock lock(&filterLock_);
    HRESULT result = S_OK;
    for (const auto& pin : outputPins_) {
        result = pin->DeliverBeginFlush();
        if (FAILED(result))
            SkDsLogger::Log(1, "SkDsDemux", 65, "DeliverBeginFlush failed (hr0x%08X)", static_cast<uint32_t>(result));
    }
    return result;
}

HRESULT SkDsDemux::DeliverEndFlush()
{
    CAutoLock lock(&filterLock_);
    HRESULT result = S_OK;
    for (const auto& pin : outputPins_) {
        result = pin->DeliverEndFlush();
        if (FAILED(result))
            SkDsLogger::Log(1, "SkDsDemux", 80, "DeliverEndFlush failed (hr0x%08X)", static_cast<uint32_t>(result));
    }
    return result;
}

HRESULT SkDsDemux::MapPids(const std::vector<int32_t>& pids, int32_t content, EsPin* pin)
{
    CheckPointer(pin, E_POINTER);
    if (content != MEDIA_ELEMENTARY_STREAM)
        return E_NOTIMPL;
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    for (const int32_t pid : pids) {
        if (pid < 0 || pid > 0x1FFF)
            return E_INVALIDARG;
        std::vector<EsPin*>& pins = pidMap_[pid];
        if (pins.empty()) {
            engine_.AddPid(static_cast<uint32_t>(pid), &SkDsDemux::DeliverPes, this);
            pins.push_back(pin);
        } else if (std::find(pins.begin(), pins.end(), pin) == pins.end()) {
            pins.push_back(pin);
        }
    }
    return S_OK;
}

HRESULT SkDsDemux::UnmapPid(int32_t pid, EsPin* pin)
{
    CheckPointer(pin, E_POINTER);
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    const auto found = pidMap_.find(pid);
    if (found == pidMap_.end())
        return S_OK;
    std::vector<EsPin*>& pins = found->second;
    pins.erase(std::remove(pins.begin(), pins.end(), pin), pins.end());
    if (pins.empty()) {
        engine_.RemovePid(pid);
        pidMap_.erase(found);
    }
    return S_OK;
}

HRESULT SkDsDemux::UnmapPids(const std::vector<int32_t>& pids, EsPin* pin)
{
    CheckPointer(pin, E_POINTER);
    CAutoLock lock(&filterLock_);
    CAutoLock receiving(&receiveLock_);
    for (const int32_t pid : pids) {
        if (static_cast<uint32_t>(pid) > 0x1FFF)
            return E_INVALIDARG;
        const HRESULT hr = UnmapPid(pid, pin);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

IEnumPIDMap* SkDsDemux::EnumPidMap(EsPin* pin)
{
    CAutoLock lock(&filterLock_);
    try {
        std::vector<int32_t> pids;
        for (const auto& [pid, pins] : pidMap_) {
            if (std::find(pins.begin(), pins.end(), pin) != pins.end())
                pids.push_back(pid);
        }
        return new PidMapEnumerator(std::move(pids));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void SkDsDemux::OnSampleTime(int64_t sampleTime, bool& flag) { timeBase_.OnSampleTime(sampleTime, flag, IsPaused()); }

void SkDsDemux::DeliverPes(uint32_t pid, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    auto& self = *static_cast<SkDsDemux*>(context);
    std::shared_ptr<DsDemux::PesData> pes = std::move(entry.pes);
    const auto mapped = self.pidMap_.find(static_cast<int32_t>(pid));
    if (!pes) {
        if (mapped == self.pidMap_.end())
            return;
        const bool several = mapped->second.size() > 1;
        for (size_t i = 0; i < mapped->second.size(); ++i)
            SkDsLogger::Log(1, "SkDsDemux", several ? 535 : 527, "Failed to deliver PES to pin (hr=0x%08X)",
                            static_cast<uint32_t>(E_POINTER));
        return;
    }
    self.timeBase_.BeginPes(*pes, pid);
    if (mapped == self.pidMap_.end() || mapped->second.empty()) {
        pes->timeStamp->state = AvTimeStamp::kNoOutputPin;
        return;
    }
    const std::vector<EsPin*>& pins = mapped->second;
    self.timeBase_.FinishPes(*pes, pins.front()->RecordKind(), self.IsPaused());
    if (pins.size() == 1) {
        pins.front()->DeliverThread().Queue(pes);
        return;
    }
    for (EsPin* pin : pins) {
        std::shared_ptr<DsDemux::PesData> shared = pes;
        pin->DeliverThread().Queue(shared);
    }
}
