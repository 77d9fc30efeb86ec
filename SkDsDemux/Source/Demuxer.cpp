#include "Demuxer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>

#include "SkPes.h"
#include "SkTp.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"

namespace DsDemux {

namespace {

// Bits of one packet times each clock: divided by a bit rate, the packet's duration in it.
constexpr int64_t kPacketBitTicks = SklibTs::kTsPacketBits * SklibTs::kTicksPerSecond;
constexpr int64_t kPacketBitsPcr = SklibTs::kTsPacketBits * SklibTs::kPcrClockHz;
constexpr int64_t kPacketBitsPts = SklibTs::kTsPacketBits * SklibTs::kPtsClockHz;
constexpr int64_t kPacketBits100ns = SklibTs::kTsPacketBits * SklibTs::kReferenceTimeHz;
constexpr double kUsPerSecond = 1'000'000.0;
constexpr double kNsPerUs = 1000.0; // the steady clock counts nanoseconds
constexpr double kRateMeasureNs = 100'000'000.0; // the wall-clock rate is measured over 100 ms at least
constexpr int64_t kFreshPcrNs = 1'500'000'000; // the timing PCR's rate holds this long after it was last found stable
constexpr int64_t kPcrHalfRange = SklibTs::kPcrModulus / 2;
constexpr int64_t kPcrRange = SklibTs::kPcrModulus;

// 90 kHz to 100 ns.
int64_t ReferenceTimeOfPts(int64_t pts) { return pts * SklibTs::kReferenceTimeHz / SklibTs::kPtsClockHz; }
constexpr HRESULT kInvalidState = static_cast<HRESULT>(0x8007139F);

int64_t Distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

// Bits of `packets` packets over `interval` PCR ticks, without overflowing for long intervals.
int64_t PcrRate(int64_t packets, int64_t interval)
{
    if (packets <= INT64_MAX / kPacketBitsPcr)
        return kPacketBitsPcr * packets / interval;
    const double rate = static_cast<double>(kPacketBitsPcr) * static_cast<double>(packets) / static_cast<double>(interval);
    return rate < 9.0e18 ? static_cast<int64_t>(rate) : INT64_MAX;
}

} // namespace

Demuxer::Demuxer(SteadyClock steadyClock) : steadyClock_(std::move(steadyClock)) {}

Demuxer::~Demuxer()
{
    pidTable.clear();
    packetInput.reset();
    analyser.reset();
}

HRESULT Demuxer::Init()
{
    packetInput.reset();
    analyser.reset();
    const SklibTs::ToolkitVersion version = SklibTs::GetToolkitVersion();
    if (version.major != 1 || version.minor != 11 || version.patch != 3 || version.build != 53)
        return E_FAIL;
    analyser.reset(SklibTs::CreateTsInfo());
    if (analyser == nullptr)
        return E_FAIL;
    bitRate = kDefaultBitrate;
    packetInput.reset(SklibTs::CreateTsPacketInput(analyser.get(), bitRate));
    if (packetInput == nullptr)
        return E_FAIL;
    packetDuration = static_cast<int32_t>(kPacketBitTicks / bitRate);
    lastPacketTicks = 0;
    analyser->AddPacketCallback(&Demuxer::OnPacket, this);
    analyser->AddAllTablesCallback(&Demuxer::OnTablesChanged, this);
    preferredPcrPid = kNoPid;
    timeBaseLocked = false;
    packetCount = 0;
    pidTable.clear();
    pidTable.resize(SklibTs::kPidCount);
    mappedPids.clear();
    return S_OK;
}

PidEntry& Demuxer::AddPid(uint32_t pid, PesCompleteFn onPesComplete, void* context)
{
    auto entry = std::make_unique<PidEntry>();
    entry->pid = pid;
    entry->onPesComplete = onPesComplete;
    entry->context = context;
    pidTable[pid] = std::move(entry);
    const auto at = std::lower_bound(mappedPids.begin(), mappedPids.end(), pid);
    if (at == mappedPids.end() || *at != pid)
        mappedPids.insert(at, pid);
    return *pidTable[pid];
}

void Demuxer::RemovePid(int pid)
{
    if (pid < 0 || pid >= static_cast<int>(pidTable.size()))
        return;
    pidTable[static_cast<size_t>(pid)].reset();
    const auto at = std::lower_bound(mappedPids.begin(), mappedPids.end(), static_cast<uint32_t>(pid));
    if (at != mappedPids.end() && *at == static_cast<uint32_t>(pid))
        mappedPids.erase(at);
}

void Demuxer::ApplyBitRate(int32_t rate)
{
    bitRate = rate;
    packetInput->SetBitrate(rate);
    packetDuration = static_cast<int32_t>(kPacketBitTicks / bitRate);
}

HRESULT Demuxer::ProcessSample(const uint8_t* data, int32_t length)
{
    if (analyser == nullptr || packetInput == nullptr)
        return kInvalidState;
    if (data == nullptr)
        return E_POINTER;
    sampleFirstPacket = packetCount + 1;
    sampleTimePending = true;
    try {
        packetInput->Write(data, static_cast<uint32_t>(length));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY; // nothing throws across the engine's interface
    }
    MeasureWallClockRate(steadyClock_());
    return S_OK;
}

void Demuxer::MeasureWallClockRate(int64_t now)
{
    if (lastMeasureTime == 0 || packetCount < lastMeasureCount) {
        lastMeasureCount = packetCount;
        lastMeasureTime = now;
        return;
    }
    const double elapsed = static_cast<double>(now - lastMeasureTime);
    if (elapsed < kRateMeasureNs)
        return;
    const double measured = static_cast<double>(packetCount - lastMeasureCount) * SklibTs::kTsPacketBits * kUsPerSecond / (elapsed / kNsPerUs);
    const auto rate = static_cast<int64_t>(std::min(measured, 1.0e18));
    const int64_t overwritten = rateSamples[rateSampleIndex];
    rateSamples[rateSampleIndex] = rate;
    averageRate = (rateSamples[0] + rateSamples[1] + rateSamples[2]) / 3;
    rateSampleIndex = (rateSampleIndex + 1) % 3;
    lastMeasureCount = packetCount;
    lastMeasureTime = now;
    if (overwritten == 0)
        return;

    bool fresh = false;
    if (timingPcrPid != kNoPid) {
        const int64_t age = now - pcrTracks[timingPcrPid].stableSince;
        fresh = age >= 0 && age < kFreshPcrNs;
    }
    if (!fresh) {
        timingPcrPid = kNoPid;
        const int64_t average = std::min(averageRate, kMaxBitRate);
        if (average > 1000 && Distance(bitRate, average) > 500'000)
            ApplyBitRate(static_cast<int32_t>(average));
    }
    AgePcrTracks();
    if (preferredPcrPid == kNoPid)
        UpdatePcrPids();
}

void Demuxer::AgePcrTracks()
{
    for (auto it = pcrTracks.begin(); it != pcrTracks.end();) {
        // A track made by the freshness check has never seen a PCR: it counts as silent.
        const bool neverSeen = it->second.lastTicks == SklibTs::kNoTime;
        const auto ageMs = neverSeen ? INT64_MAX
                                     : static_cast<int64_t>(static_cast<double>(currentPacketTicks - it->second.lastTicks) /
                                                            static_cast<double>(SklibTs::kTicksPerSecond) * 1000.0);
        if (ageMs >= 500) {
            if (it->first == preferredPcrPid) {
                preferredPcrPid = kNoPid;
                timeBaseLocked = false;
            }
            it = pcrTracks.erase(it);
        } else {
            ++it;
        }
    }
}

void Demuxer::OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* ticks)
{
    auto* self = static_cast<Demuxer*>(context);
    const SklibTs::SkTp tp(packet, size);
    // Packets elapsed, rounded to nearest. Nearly always exactly one: that case needs no
    // division, which would otherwise be the costliest instruction per packet.
    const int64_t twice = 2 * (*ticks - self->lastPacketTicks);
    const int64_t duration = self->packetDuration;
    if (twice >= duration && twice < 3 * duration)
        ++self->packetCount;
    else
        self->packetCount += (twice / duration + 1) / 2;
    self->lastPacketTicks = *ticks;
    try {
        self->ProcessPcr(tp, *ticks);
        self->ProcessPes(tp);
    } catch (const std::exception&) {
        // A malformed packet is skipped; the next one is handled as usual.
    }
}

void Demuxer::ProcessPcr(const SklibTs::SkTp& tp, int64_t ticks)
{
    currentPacketTicks = ticks;
    if (!tp.HasPcr())
        return;
    const int64_t pcr = tp.GetPcr();
    if (pcr == SklibTs::kNoTime)
        return;
    const auto pid = static_cast<uint32_t>(tp.GetPid());
    PcrTrack& track = pcrTracks[pid];
    track.lastTicks = ticks;
    if (track.pcrPacket >= 0 && pcr > track.pcr) {
        const int64_t step = pcr - track.pcr;
        const int64_t interval = step >= kPcrHalfRange ? kPcrRange - step : step;
        track.pcr = pcr;
        const int64_t rate = interval != 0 ? PcrRate(packetCount - track.pcrPacket, interval) : 0;
        if (rate > kMaxBitRate) {
            // A PCR that advanced a few ticks over many packets: no rate, the interval restarts.
            track.pcrPacket = packetCount;
            track.stable = false;
        } else if (interval != 0) {
            track.pcrPacket = packetCount;
            track.rate = rate;
            track.sampleIndex = (track.sampleIndex + 1) % 3;
            track.samples[track.sampleIndex] = rate;
            track.stable = rate > 1500 && std::llabs(track.samples[0] - track.samples[1]) < 1000 &&
                           std::llabs(track.samples[0] - track.samples[2]) < 1000;
            if (track.stable)
                track.stableSince = steadyClock_();
        }
    } else {
        track.pcrPacket = packetCount;
        track.pcr = pcr;
    }

    if (track.stable) {
        if (timingPcrPid == kNoPid || timingPcrPid == pid || pid == preferredPcrPid)
            timingPcrPid = pid;
        if (pid == preferredPcrPid)
            timeBaseLocked = true;
        if (Distance(bitRate, track.rate) > 1000)
            ApplyBitRate(static_cast<int32_t>(track.rate));
    }
    if (sampleTimeCallback && sampleTimePending && pid == timingPcrPid && track.stable) {
        const int64_t pts = track.pcr / SklibTs::kPcrTicksPerPcrBase +
                            (sampleFirstPacket - track.pcrPacket) * kPacketBitsPts / track.rate;
        bool flag = false;
        sampleTimeCallback(ReferenceTimeOfPts(pts), flag);
        sampleTimePending = false;
    }
}

void Demuxer::ProcessPes(const SklibTs::SkTp& tp)
{
    PidEntry* entry = pidTable[static_cast<size_t>(tp.GetPid())].get();
    if (entry == nullptr)
        return;
    const auto cc = static_cast<uint8_t>(tp.GetContinuityCounter());
    if (tp.GetDiscontinuityIndicator()) {
        entry->prevCc = 255;
        entry->lastCc = cc;
        entry->counterKnown = true;
    } else if (tp.HasPayload() && cc != ((entry->lastCc + 1) & 0x0F)) {
        if (cc == entry->lastCc && cc == ((entry->prevCc + 1) & 0x0F)) {
            // A single repetition of a packet that itself came in order: ignored.
            entry->prevCc = entry->lastCc;
            entry->lastCc = cc;
            return;
        }
        // Any PES held loses data, even one still waiting for its start: the lost packet may
        // have been that start. Until the PID's first counter is known (a PCR-only packet can
        // come first after mapping) a gap says nothing.
        if (entry->pes) {
            packetsLost = packetsLost || entry->counterKnown;
            entry->pes.reset();
        }
        entry->prevCc = entry->lastCc;
        entry->lastCc = cc;
        entry->counterKnown = true;
    } else if (tp.HasPayload()) {
        entry->prevCc = entry->lastCc;
        entry->lastCc = cc;
        entry->counterKnown = true;
    }

    if (!entry->pes)
        entry->pes = pesPool.Acquire();
    bool pending = true;
    if (!entry->pes->pes.AddTp(tp, pending))
        return;

    PesData& done = *entry->pes;
    done.timeBaseLocked = timeBaseLocked;
    if (packetsLost) {
        done.dataLost = true;
        packetsLost = false;
    }
    const auto [dts, pts] = done.pes.GetTimeStamps();
    done.pts = pts;
    done.dts = dts == SklibTs::kNoTime ? pts : dts;
    done.pcrTime = SklibTs::kNoTime;
    if (timingPcrPid != kNoPid) {
        const auto track = pcrTracks.find(timingPcrPid);
        if (track != pcrTracks.end() && track->second.stable && track->second.rate > 0)
            done.pcrTime = track->second.pcr / SklibTs::kPcrTicksPerPcrBase +
                           (packetCount - track->second.pcrPacket) * kPacketBitsPts / track->second.rate;
    }
    done.sampleOffset = (packetCount - sampleFirstPacket) * kPacketBits100ns / bitRate;

    // The next PES of a stream is most likely about as large as this one. Read before the
    // callback: it may take the PES away, and another thread may drop it.
    const int32_t completedLength = done.pes.Length();
    if (entry->onPesComplete != nullptr)
        entry->onPesComplete(entry->pid, *entry, entry->pcrPid, entry->context);
    entry->pes = pesPool.Acquire(completedLength);
    if (pending)
        entry->pes->pes.AddTp(tp);
}

void Demuxer::UpdatePcrPids()
{
    if (analyser == nullptr)
        return;
    SklibTs::SkTsInfoLock lock(*analyser);
    // Only the mapped PIDs, in ascending order: a table completes many times a second.
    for (const uint32_t pid : mappedPids) {
        PidEntry& entry = *pidTable[pid];
        if (entry.pcrPid != kNoPid)
            continue;
        for (const auto& [number, program] : analyser->programs) {
            if (program.HasStream(pid))
                entry.pcrPid = static_cast<uint32_t>(program.pcr_pid);
        }
    }
    if (preferredPcrPid == kNoPid) {
        for (const uint32_t pid : mappedPids) {
            if (pidTable[pid]->pcrPid != kNoPid) {
                preferredPcrPid = pidTable[pid]->pcrPid;
                break;
            }
        }
    }
}

void Demuxer::OnTablesChanged(void* context, const SklibTs::TableKey*, SklibTs::SkTable*, uint16_t)
{
    try {
        static_cast<Demuxer*>(context)->UpdatePcrPids();
    } catch (...) {
        // A table change never stops the stream.
    }
}

void Demuxer::Reset()
{
    preferredPcrPid = kNoPid;
    timeBaseLocked = false;
    packetCount = 0;
    bitRate = kDefaultBitrate;
    if (packetInput != nullptr)
        packetInput->SetBitrate(kDefaultBitrate);
    packetDuration = static_cast<int32_t>(kPacketBitTicks / bitRate);
    averageRate = bitRate;
    if (analyser != nullptr)
        analyser->Reset();
    for (const uint32_t pid : mappedPids) {
        PidEntry& entry = *pidTable[pid];
        entry.pcrPid = kNoPid;
        entry.pes.reset();
        entry.counterKnown = false;
    }
    pcrTracks.clear();
}

} // namespace DsDemux
