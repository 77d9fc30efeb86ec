#include "TsInfoImpl.h"

#include <algorithm>

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

TsInfoImpl::TsInfoImpl() : pes_(std::make_unique<std::array<PesCollector, kPidCount>>())
{
    references_.Reset(siStandard);
}

TsInfoImpl::~TsInfoImpl() = default;

void TsInfoImpl::Reset()
{
    std::lock_guard guard(lock_);
    SkTsInfo::Reset();
    ResetTables();
    for (auto& info : pidImpl_)
        info.reset();
    knownPids_.Clear();
    for (PesCollector& collector : *pes_)
        collector.Release();
    isdbt_.Reset();
    transportRate_.Clear();
    pcrPacketIndex_ = 0;
    started_ = false;
    references_.Reset(siStandard);
    checks_.Reset(siStandard);
}

PidInfoImpl& TsInfoImpl::PidInfoFor(uint32_t pid)
{
    auto& slot = pidImpl_[pid];
    if (!slot) {
        slot = std::make_unique<PidInfoImpl>(static_cast<uint16_t>(pid), rateWindow_.shortCount, rateWindow_.longCount);
        pidInfo[pid] = slot.get();
        knownPids_.Insert(pid);
    }
    return *slot;
}

void TsInfoImpl::DeletePidInfo(uint32_t pid)
{
    pidImpl_[pid].reset();
    pidInfo[pid] = nullptr;
    knownPids_.Erase(pid);
    (*pes_)[pid].Release();
}

void TsInfoImpl::ProcessPacket(const uint8_t* packet, uint32_t size, const int64_t* time)
{
    if (packet == nullptr || time == nullptr || size < kTsPacketSize)
        return;
    std::lock_guard guard(lock_);
    AdvanceTime(*time); // under the lock already taken
    ++packetsProcessed;
    ++pcrPacketIndex_;
    transportRate_.CountPacket();
    packetSize = size;

    const SkTp tp(packet, size);
    if (!tp.HasSyncByte()) {
        ++syncByteErrors;
        checks_.ReportSyncByteError(now_);
        return;
    }
    const uint32_t pid = static_cast<uint32_t>(tp.GetPid());
    PidInfoImpl& info = PidInfoFor(pid);
    info.seen = true;
    info.lastSeen = *time;
    ++info.packetCount;

    checks_.CheckContinuity(info, tp, now_);
    if (pid >= 0x20 && pid < kNullPid) {
        const bool referenced = references_.Count(pid, kRefPmt) > 0 || info.checks.pmtStreamType == StreamKind::kPrivatePes;
        checks_.TrackUnreferencedPid(pid, referenced, now_);
    }
    info.rateMeter.CountPacket();
    if (tp.HasPcr())
        checks_.CheckPcr(info, *time, AnalyserPcr(tp), pcrPacketIndex_, tp.GetDiscontinuityIndicator());

    if (tp.GetTransportErrorIndicator()) {
        ++transportErrors;
        checks_.ReportTransportError(pid, now_);
        return;
    }
    isdbt_.Track(packet, size, info, now_);
    info.scramblingControl = tp.GetScramblingControl();
    if (info.scramblingControl != 0) {
        checks_.OnScrambledPacket(pid, references_.Count(pid, kRefPmt) > 0, now_);
        return;
    }

    const bool collectPes = IsCollectedKind(info.streamKind);
    const bool collectSections = references_.CarriesTables(pid);
    uint32_t payloadSize = 0;
    const uint8_t* payload = collectPes || collectSections ? AnalyserPayload(tp, payloadSize) : nullptr;
    if (payload != nullptr) {
        const bool unitStart = tp.GetPayloadUnitStart();
        if (collectPes)
            CollectPes(pid, payload, payloadSize, unitStart);
        // Table handlers may reset the analyser, which deletes `info`: it is not used after this.
        if (collectSections)
            sections_.Collect(pid, payload, payloadSize, unitStart);
    }
    callbacks_.NotifyPacket(pid, packet, size, time);
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
    callbacks_.NotifyPes(pid, data, size);
    collector.Clear();
}

void TsInfoImpl::UpdateTime(const int64_t* time)
{
    if (time == nullptr)
        return;
    std::lock_guard guard(lock_);
    AdvanceTime(*time);
}

void TsInfoImpl::AdvanceTime(int64_t now)
{
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
    TableDeadlines::Deadline due{};
    while (deadlines_.PopDue(now, due)) {
        if (due.action == TableDeadlines::Action::Notify)
            callbacks_.NotifyTableTimeout(due.key, due.time);
        else
            ExpireTable(due.key);
    }
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
    knownPids_.ForEach([&](uint32_t pid) {
        PidInfoImpl* info = pidImpl_[pid].get();
        // Information made for a referenced PID that was never seen ages like a silent one.
        const bool silent = info->lastSeen == kNoTime || now - info->lastSeen > kPidAgeOut;
        if (info->programs.empty() && info->ecmCount == 0 && info->emmCount == 0 && silent) {
            DeletePidInfo(pid);
            return;
        }
        info->CloseRatePeriod(period);
    });
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
    for (auto& [number, program] : programs)
        program.bitrate = program.SumBitrates(rateOf);
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
        checks_.ReportSyncLoss(now_);
}

void TsInfoImpl::SetSiStandard(int32_t standard)
{
    std::lock_guard guard(lock_);
    if (standard == siStandard)
        return;
    siStandard = standard;
    Reset();
    indicators_.ClearLatchedAndCounts();
    deadlines_.ResetIntervals(siStandard);
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
    callbacks_.AddPid(pid, function, context);
}

void TsInfoImpl::AddPacketCallback(PacketCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddPacket(function, context);
}

void TsInfoImpl::AddSectionCallback(uint16_t pid, uint8_t tableId, SectionCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddSection(pid, tableId, function, context);
}

void TsInfoImpl::AddAllSectionsCallback(SectionCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddAllSections(function, context);
}

void TsInfoImpl::AddTableCallback(const TableKey& filter, TableCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddTable(filter, function, context);
}

void TsInfoImpl::AddAllTablesCallback(TableCallbackFn function, void* context)
{
    AddTableCallback(MakeWildcardKey(), function, context);
}

void TsInfoImpl::AddTableTimeoutCallback(const TableKey& filter, TableTimeoutCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddTableTimeout(filter, function, context);
}

void TsInfoImpl::AddPesCallback(int32_t pid, PesCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddPes(pid, function, context);
}

void TsInfoImpl::AddAllPesCallback(PesCallbackFn function, void* context)
{
    std::lock_guard guard(lock_);
    callbacks_.AddAllPes(function, context);
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
    isdbt_.FillPidLayers(pidImpl_, now_, out);
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
