#include "TsInfoImpl.h"

#include <algorithm>
#include <new>

#include "EsParser.h"
#include "SkPes.h"
#include "SkTp.h"
#include "StreamKind.h"

namespace SklibTs {

namespace {

// The analyser's PCR: the PCR_flag alone decides, and an extension of 300 or more counts as 299.
int64_t AnalyserPcr(const SkTp& tp)
{
    constexpr uint32_t kLargestExtension = kPcrTicksPerPcrBase - 1;
    const SkTp::PcrField field = tp.GetPcrField();
    return field.base * kPcrTicksPerPcrBase + std::min(field.extension, kLargestExtension);
}

// The payload the analyser collects PES packets and sections from: none at all when the
// adaptation field claims 183 bytes or more, else what the packet view gives.
const uint8_t* AnalyserPayload(const SkTp& tp, uint32_t& size)
{
    constexpr int32_t kLongestFieldWithPayload = 182;
    size = 0;
    if (tp.GetAdaptationFieldLength() > kLongestFieldWithPayload)
        return nullptr;
    return tp.GetPayload(size);
}

// PTS_DTS_flags 10 or 11 in a PES header with the optional part.
bool PesHasPts(const uint8_t* pes, uint32_t size)
{
    if (size < 9 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1)
        return false;
    return SkPes::HasOptionalHeader(pes[3]) && (pes[7] & 0x80) != 0;
}

} // namespace

SkTsInfo::SkTsInfo() = default;
SkTsInfo::~SkTsInfo() = default;

void SkTsInfo::Reset()
{
    transportStreamId = -1;
    bitrate = 0;
    pidInfo.fill(nullptr);
    programs.clear();
    tables.clear();
    syncByteErrors = 0;
    transportErrors = 0;
    packetsProcessed = 0;
    inSync = false;
    network = NetworkInfo{};
    emms.clear();
}

ToolkitVersion GetToolkitVersion() { return {1, 11, 3, 53}; }

int64_t GetTickRate() { return kTicksPerSecond; }

SkTsInfo* CreateTsInfo() { return new (std::nothrow) TsInfoImpl(); }

TsInfoImpl::TsInfoImpl() : pes_(std::make_unique<std::array<PesCollector, kPidCount>>())
{
    SetInitialReferences();
    ResetTableIntervals();
}

TsInfoImpl::~TsInfoImpl() = default;

void TsInfoImpl::Reset()
{
    std::lock_guard guard(lock_);
    SkTsInfo::Reset();
    ResetTables();
    for (auto& info : pidImpl_)
        info.reset();
    for (PesCollector& collector : *pes_)
        collector.Release();
    isdbt_.Reset();
    transportRate_.Clear();
    pcrPacketIndex_ = 0;
    started_ = false;
    SetInitialReferences();
    checks_.Reset(siStandard);
}

void TsInfoImpl::SetInitialReferences()
{
    for (auto& counts : references_)
        counts.fill(0);
    references_[0][kRefPsiSi] = 1;
    references_[1][kRefPsiSi] = 1;
    nitPid_ = -1;
    if (siStandard == kSiDvb || siStandard == kSiDvbDerived) {
        for (uint32_t pid = 0x10; pid <= 0x16; ++pid)
            ++references_[pid][kRefPsiSi];
        for (uint32_t pid = 0x1C; pid <= 0x1F; ++pid)
            ++references_[pid][kRefPsiSi];
        nitPid_ = 0x10;
        ++references_[nitPid_][kRefPsiSi];
    } else if (siStandard == kSiAtsc) {
        ++references_[0x1FFB][kRefPsiSi];
    }
}

uint32_t TsInfoImpl::GetPidReferences(uint32_t pid, PidReferenceKind kind) const
{
    return pid < kPidCount && kind < kRefKinds ? references_[pid][kind] : 0;
}

bool TsInfoImpl::IsReferencedAsTables(uint32_t pid) const
{
    return references_[pid][kRefPmt] > 0 || references_[pid][kRefPsiSi] > 0;
}

PidInfoImpl& TsInfoImpl::PidInfoFor(uint32_t pid)
{
    auto& slot = pidImpl_[pid];
    if (!slot) {
        slot = std::make_unique<PidInfoImpl>(static_cast<uint16_t>(pid), rateWindow_.shortCount, rateWindow_.longCount);
        pidInfo[pid] = slot.get();
    }
    return *slot;
}

void TsInfoImpl::DeletePidInfo(uint32_t pid)
{
    pidImpl_[pid].reset();
    pidInfo[pid] = nullptr;
    (*pes_)[pid].Release();
}

void TsInfoImpl::Report(ConformanceIndicator indicator, std::wstring message, double value,
                        const IndicatorLocation& location)
{
    indicators_.Report(indicator, std::move(message), value, location, now_);
}

void TsInfoImpl::ProcessPacket(const uint8_t* packet, uint32_t size, const int64_t* time)
{
    if (packet == nullptr || time == nullptr || size < kTsPacketSize)
        return;
    std::lock_guard guard(lock_);
    UpdateTime(time);
    ++packetsProcessed;
    ++pcrPacketIndex_;
    transportRate_.CountPacket();
    packetSize = size;

    const SkTp tp(packet, size);
    if (!tp.HasSyncByte()) {
        ++syncByteErrors;
        Report(ConformanceIndicator::SyncByteError, L"Sync_byte not equal to 0x47", 0.0, IndicatorLocation::None());
        return;
    }
    const uint32_t pid = static_cast<uint32_t>(tp.GetPid());
    PidInfoImpl& info = PidInfoFor(pid);
    info.seen = true;
    info.lastSeen = *time;
    ++info.packetCount;

    checks_.CheckContinuity(info, tp, now_);
    if (pid >= 0x20 && pid < kNullPid) {
        const bool referenced = references_[pid][kRefPmt] > 0 || info.checks.pmtStreamType == StreamKind::kPrivatePes;
        checks_.TrackUnreferencedPid(pid, referenced, now_);
    }
    info.rateMeter.CountPacket();
    if (tp.HasPcr())
        checks_.CheckPcr(info, *time, AnalyserPcr(tp), pcrPacketIndex_, tp.GetDiscontinuityIndicator());

    if (tp.GetTransportErrorIndicator()) {
        ++transportErrors;
        Report(ConformanceIndicator::TransportError,
               FormatIndicatorMessage("Transport_error_indicator on PID %d is set", static_cast<int>(pid)), 0.0,
               IndicatorLocation::ForPid(pid));
        return;
    }

    if (size != kTsPacketSize) {
        const IsdbtDecoder::Trailer trailer = isdbt_.OnPacket(packet);
        if (trailer.locked) {
            info.layerLastSeen[trailer.layerSlot] = *time;
            if (trailer.isIip)
                isdbt_.ParseIip(packet);
        }
    } else {
        isdbt_.OnPlainPacket();
    }

    info.scramblingControl = tp.GetScramblingControl();
    if (info.scramblingControl != 0) {
        HandleScrambled(pid);
        return;
    }

    uint32_t payloadSize = 0;
    const uint8_t* payload = AnalyserPayload(tp, payloadSize);
    if (payload != nullptr) {
        const bool unitStart = tp.GetPayloadUnitStart();
        if (IsCollectedKind(info.streamKind))
            CollectPes(pid, payload, payloadSize, unitStart);
        // Table handlers may reset the analyser, which deletes `info`: it is not used after this.
        if (IsReferencedAsTables(pid))
            CollectSections(pid, payload, payloadSize, unitStart, *time);
    }
    NotifyPacket(pid, packet, size, time);
}

void TsInfoImpl::HandleScrambled(uint32_t pid)
{
    if (pid == 0) {
        Report(ConformanceIndicator::PatError, L"Scrambling_control_field is not 00 for PID 0x0000", 0.0,
               IndicatorLocation::ForPid(0));
    }
    if (references_[pid][kRefPmt] > 0) {
        Report(ConformanceIndicator::PmtError,
               FormatIndicatorMessage("Scrambling_control_field is not 00 for PMT PID 0x%04X", pid), 0.0,
               IndicatorLocation::ForPid(pid));
    }
    checks_.OnScrambledPacket(now_);
}

void TsInfoImpl::CollectPes(uint32_t pid, const uint8_t* payload, uint32_t size, bool unitStart)
{
    PesCollector& collector = (*pes_)[pid];
    if (unitStart) {
        FlushPes(pid);
        collector.Append(payload, size);
    } else if (!collector.Empty()) {
        collector.Append(payload, size);
        if (collector.Full())
            FlushPes(pid);
    }
}

void TsInfoImpl::FlushPes(uint32_t pid)
{
    PesCollector& collector = (*pes_)[pid];
    if (collector.Empty())
        return;
    const uint8_t* data = collector.Data();
    const uint32_t size = collector.Size();
    PidInfoImpl& info = *pidImpl_[pid];
    checks_.CheckPes(info, PesHasPts(data, size));
    ParsePes(info.es, info.streamKind, data, static_cast<int32_t>(size));
    for (const auto& callback : allPesCallbacks_)
        callback.function(callback.context, static_cast<int32_t>(pid), data, size);
    for (const auto& entry : pesCallbacks_) {
        if (entry.pid == static_cast<int32_t>(pid))
            entry.callback.function(entry.callback.context, static_cast<int32_t>(pid), data, size);
    }
    collector.Clear();
}

void TsInfoImpl::NotifyPacket(uint32_t pid, const uint8_t* packet, uint32_t size, const int64_t* time)
{
    for (const auto& callback : packetCallbacks_)
        callback.function(callback.context, packet, size, time);
    if (!hasPidCallback_[pid])
        return;
    for (const auto& entry : pidCallbacks_) {
        if (entry.pid == pid)
            entry.callback.function(entry.callback.context, packet, size, time);
    }
}

void TsInfoImpl::UpdateTime(const int64_t* time)
{
    if (time == nullptr)
        return;
    std::lock_guard guard(lock_);
    const int64_t now = *time;
    now_ = now;
    if (!started_) {
        StartTimeBases(now);
        return;
    }
    checks_.RunPcrAnalysis(now);
    if (now - measurementBoundary_ > rateWindow_.period)
        UpdatePidRates(now);
    transportRate_.Update(now);
    bitrate = transportRate_.Bitrate();
    RunTableDeadlines(now);
    checks_.RunPeriodicChecks(now);
}

void TsInfoImpl::StartTimeBases(int64_t now)
{
    measurementBoundary_ = now;
    transportRate_.Start(now);
    checks_.Start(now);
    started_ = true;
}

void TsInfoImpl::UpdatePidRates(int64_t now)
{
    const int64_t period = rateWindow_.period;
    for (uint32_t pid = 0; pid < kPidCount; ++pid) {
        PidInfoImpl* info = pidImpl_[pid].get();
        if (info == nullptr)
            continue;
        // Information made for a referenced PID that was never seen ages like a silent one.
        const bool silent = info->lastSeen == kNoTime || now - info->lastSeen > kPidAgeOut;
        if (info->programs.empty() && info->ecmCount == 0 && info->emmCount == 0 && silent) {
            DeletePidInfo(pid);
            continue;
        }
        info->rateMeter.ClosePeriod(period);
        info->bitrate = info->rateMeter.Bitrate();
        info->minBitrate = info->rateMeter.MinBitrate();
        info->maxBitrate = info->rateMeter.MaxBitrate();
    }
    measurementBoundary_ += (now - measurementBoundary_) / period * period;
    UpdateProgramRates();
}

void TsInfoImpl::UpdateProgramRates()
{
    const auto rateOf = [this](int32_t pid) -> int64_t {
        if (pid < 0 || pid >= static_cast<int32_t>(kPidCount) || !pidImpl_[pid])
            return 0;
        return pidImpl_[pid]->bitrate;
    };
    for (auto& [number, program] : programs) {
        int64_t rate = 0;
        for (const ElementaryStream& stream : program.streams)
            rate += rateOf(static_cast<int32_t>(stream.elementary_pid));
        if (!program.HasStream(static_cast<uint32_t>(program.pmt_pid)))
            rate += rateOf(program.pmt_pid);
        if (program.pcr_pid != program.pmt_pid && !program.HasStream(static_cast<uint32_t>(program.pcr_pid)))
            rate += rateOf(program.pcr_pid);
        program.bitrate = rate;
    }
}

void TsInfoImpl::SetSync(bool nowInSync)
{
    std::lock_guard guard(lock_);
    if (nowInSync == inSync)
        return;
    inSync = nowInSync;
    if (nowInSync)
        indicators_.Deactivate(ConformanceIndicator::TsSyncLoss);
    else
        Report(ConformanceIndicator::TsSyncLoss, L"Loss of synchronization", 0.0, IndicatorLocation::None());
}

void TsInfoImpl::SetSiStandard(int32_t standard)
{
    std::lock_guard guard(lock_);
    if (standard == siStandard)
        return;
    siStandard = standard;
    Reset();
    indicators_.ClearLatchedAndCounts();
    ResetTableIntervals();
}

void TsInfoImpl::SetRateWindow(const RateWindow& window)
{
    std::lock_guard guard(lock_);
    if (window.period > 0)
        rateWindow_.period = window.period;
    rateWindow_.shortCount = window.shortCount;
    rateWindow_.longCount = window.longCount;
}

void TsInfoImpl::SetPcrAnalysisWindow(int64_t period, uint32_t count)
{
    std::lock_guard guard(lock_);
    if (period > 0)
        checks_.SetPcrAnalysisWindow(period, count);
}

void TsInfoImpl::AddPidCallback(uint16_t pid, PacketCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function == nullptr || pid >= kPidCount)
        return;
    pidCallbacks_.push_back({pid, {function, context}});
    hasPidCallback_[pid] = true;
}

void TsInfoImpl::AddPacketCallback(PacketCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        packetCallbacks_.push_back({function, context});
}

void TsInfoImpl::AddSectionCallback(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        sectionCallbacks_.push_back({pid, tableId, {function, context}});
}

void TsInfoImpl::AddAllSectionsCallback(SectionCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        allSectionsCallbacks_.push_back({function, context});
}

void TsInfoImpl::AddPesCallback(int32_t pid, PesCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        pesCallbacks_.push_back({pid, {function, context}});
}

void TsInfoImpl::AddAllPesCallback(PesCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    if (function != nullptr)
        allPesCallbacks_.push_back({function, context});
}

void TsInfoImpl::AddPcrStatisticsCallback(int32_t pid, PcrStatisticsCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    checks_.AddPcrStatisticsCallback(pid, function, context);
}

void TsInfoImpl::AddAllPcrStatisticsCallback(PcrStatisticsCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    checks_.AddAllPcrStatisticsCallback(function, context);
}

void TsInfoImpl::AddIndicatorStateCallback(uint32_t mask, IndicatorStateCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    indicators_.AddStateCallback(mask, function, context);
}

void TsInfoImpl::AddIndicatorReportCallback(uint32_t mask, IndicatorReportCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    indicators_.AddReportCallback(mask, function, context);
}

int32_t TsInfoImpl::GetIsdbtInfo(IsdbtInfo& out)
{
    std::lock_guard guard(lock_);
    if (!isdbt_.Locked() || !isdbt_.IipReceived())
        return kIsdbtNotLocked;
    constexpr int64_t kLayerWindow = 3'240'000'000; // one minute
    const auto seenRecently = [this](int64_t lastSeen) { return lastSeen != kNoTime && now_ - lastSeen <= kLayerWindow; };
    out.pidLayers.fill(0);
    for (uint32_t pid = 0; pid < kPidCount; ++pid) {
        const PidInfoImpl* info = pidImpl_[pid].get();
        if (info == nullptr || pid == kNullPid)
            continue;
        uint8_t mask = 0;
        if (seenRecently(info->layerLastSeen[kIsdbtLayerA]))
            mask |= 1;
        if (seenRecently(info->layerLastSeen[kIsdbtLayerB]))
            mask |= 2;
        if (seenRecently(info->layerLastSeen[kIsdbtLayerC]))
            mask |= 4;
        out.pidLayers[pid] = mask;
    }
    return isdbt_.FillParameters(out) ? kIsdbtOk : kIsdbtInvalidParameters;
}

uint32_t TsInfoImpl::GetPidProgram(uint32_t pid)
{
    std::lock_guard guard(lock_);
    if (pid >= kPidCount || !pidImpl_[pid] || pidImpl_[pid]->programs.empty())
        return kNoPid;
    return static_cast<uint32_t>(*pidImpl_[pid]->programs.begin());
}

} // namespace SklibTs
