#include "TimelineTracker.h"

#include <cstdio>
#include <set>

#include "EventWriter.h"
#include "SkPes.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTp.h"
#include "TableKey.h"

namespace Skts {

namespace {

using SklibTs::kPcrModulus;
constexpr int64_t kPtsModulus = int64_t{1} << 33;
constexpr int64_t kSilenceCheckTicks = 100 * SklibTs::kTicksPerMillisecond;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string Ms(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%+.3f ms", ms);
    return text;
}

// A PES header's PTS, or -1 when the payload starts no PES with one.
int64_t PesPts(const uint8_t* payload, uint32_t size)
{
    if (size < 14 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1 ||
        !SklibTs::SkPes::HasOptionalHeader(payload[3]) || (payload[7] & 0x80) == 0)
        return -1;
    const uint8_t* p = payload + 9;
    return (int64_t{p[0] & 0x0E} << 29) | (int64_t{p[1]} << 22) | (int64_t{p[2] & 0xFE} << 14) |
           (int64_t{p[3]} << 7) | (p[4] >> 1);
}

} // namespace

TimelineTracker::TimelineTracker(SklibTs::SkTsInfo& analyser, const SklibTs::SkTsPacketInputEx& input, Sink sink)
    : analyser_(analyser), input_(input), sink_(std::move(sink)), pcr_(SklibTs::kPidCount), pts_(SklibTs::kPidCount),
      pids_(SklibTs::kPidCount)
{
    analyser_.AddPacketCallback(&TimelineTracker::OnPacket, this);
    SklibTs::TableKey pat = SklibTs::MakeWildcardKey();
    pat.pid = 0;
    pat.table_id = 0x00;
    analyser_.AddTableCallback(pat, &TimelineTracker::OnPat, this);
    SklibTs::TableKey pmt = SklibTs::MakeWildcardKey();
    pmt.table_id = 0x02;
    analyser_.AddTableCallback(pmt, &TimelineTracker::OnPmt, this);
    constexpr uint32_t kSyncLoss = 1u << static_cast<uint32_t>(SklibTs::ConformanceIndicator::TsSyncLoss);
    analyser_.AddIndicatorReportCallback(kSyncLoss, &TimelineTracker::OnSyncReport, this);
    analyser_.AddIndicatorStateCallback(kSyncLoss, &TimelineTracker::OnSyncState, this);
}

void TimelineTracker::Emit(const char* name, std::string message, double value, nlohmann::json details)
{
    const auto position = input_.CurrentPacket();
    AnalyserEvent event;
    event.packet = position.index;
    event.offset = position.offset;
    event.timeMs = TicksToMs(now_);
    event.index = -1;
    event.name = name;
    event.message = std::move(message);
    event.value = value;
    event.details = std::move(details);
    sink_(std::move(event));
}

void TimelineTracker::OnPacket(void* context, const uint8_t* packet, uint32_t size, const int64_t* time)
{
    auto& self = *static_cast<TimelineTracker*>(context);
    self.Guarded([&] { self.Packet(packet, size, *time); });
}

void TimelineTracker::OnPat(void* context, const SklibTs::TableKey*, SklibTs::SkTable* table, uint16_t)
{
    auto& self = *static_cast<TimelineTracker*>(context);
    self.Guarded([&] { self.Pat(*table); });
}

void TimelineTracker::OnPmt(void* context, const SklibTs::TableKey* key, SklibTs::SkTable* table, uint16_t)
{
    auto& self = *static_cast<TimelineTracker*>(context);
    self.Guarded([&] { self.Pmt(*key, *table); });
}

void TimelineTracker::OnSyncReport(void* context, uint32_t, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<TimelineTracker*>(context);
    self.Guarded([&] { self.SyncLost(record); });
}

void TimelineTracker::OnSyncState(void* context, uint32_t, const SklibTs::IndicatorRecord& record)
{
    auto& self = *static_cast<TimelineTracker*>(context);
    self.Guarded([&] { self.SyncState(record); });
}

void TimelineTracker::Packet(const uint8_t* packet, uint32_t size, int64_t time)
{
    now_ = time;
    const SklibTs::SkTp tp(packet, size);
    const auto pid = static_cast<uint32_t>(tp.GetPid());
    Presence(pid, time);
    const int64_t pcr = tp.GetPcr();
    if (pcr != SklibTs::kNoTime)
        Pcr(pid, pcr, tp.GetDiscontinuityIndicator());
    if (tp.GetPayloadUnitStart() && pid != SklibTs::kNullPid) {
        uint32_t payloadSize = 0;
        if (const uint8_t* payload = tp.GetPayload(payloadSize))
            Pts(pid, payload, payloadSize);
    }
    if (nextSilenceCheck_ == SklibTs::kNoTime || time >= nextSilenceCheck_) {
        LookForSilentPids(time);
        nextSilenceCheck_ = time + kSilenceCheckTicks;
    }
}

void TimelineTracker::Presence(uint32_t pid, int64_t time)
{
    PidPresence& presence = pids_[pid];
    if (presence.packets > 0)
        presence.longestGap = std::max(presence.longestGap, time - presence.lastTime);
    ++presence.packets;
    presence.lastTime = time;
    if (presence.present)
        return;
    presence.present = true;
    Emit("PidAppeared", "PID " + Hex(pid) + (presence.packets > 1 ? " is back" : " appeared"), pid,
         {{"pid", pid}});
}

void TimelineTracker::LookForSilentPids(int64_t now)
{
    for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
        PidPresence& presence = pids_[pid];
        if (!presence.present)
            continue;
        const int64_t silence = now - presence.lastTime;
        if (silence <= kMinSilenceTicks || silence <= 3 * presence.longestGap)
            continue;
        presence.present = false;
        const double silentMs = TicksToMs(silence);
        char text[96];
        std::snprintf(text, sizeof text, " vanished: no packet for %.0f ms", silentMs);
        Emit("PidVanished", "PID " + Hex(pid) + text, pid,
             {{"pid", pid}, {"last_seen_ms", TicksToMs(presence.lastTime)}, {"silent_ms", silentMs}});
    }
}

void TimelineTracker::Pcr(uint32_t pid, int64_t pcr, bool signalled)
{
    PcrTrack& track = pcr_[pid];
    if (!track.known) {
        track = {true, pcr, 0};
        return;
    }
    const int64_t before = track.raw;
    const int64_t unwrappedBefore = before + track.wraps * kPcrModulus;
    // Forward distance on the clock's circle, and whether it passed the modulus.
    const int64_t forward = (pcr - before + kPcrModulus) % kPcrModulus;
    const bool passedModulus = pcr < before && forward < kPcrModulus / 2;
    if (passedModulus)
        ++track.wraps;
    track.raw = pcr;
    const int64_t unwrappedAfter = pcr + track.wraps * kPcrModulus;
    const bool step = forward <= kMaxPcrStep;
    if (!signalled && step && !passedModulus)
        return;
    // The jump, signed: backwards when the forward distance is more than half the circle.
    const int64_t jump = forward < kPcrModulus / 2 ? forward : forward - kPcrModulus;
    const double jumpMs = static_cast<double>(jump) / static_cast<double>(SklibTs::kPcrTicksPerMillisecond);
    const nlohmann::json details = {{"pid", pid},
                                    {"pcr_before", before},
                                    {"pcr_after", pcr},
                                    {"unwrapped_before", unwrappedBefore},
                                    {"unwrapped_after", unwrappedAfter},
                                    {"jump_ms", jumpMs},
                                    {"signalled", signalled},
                                    {"wrapped", passedModulus}};
    const std::string values = " (PCR " + std::to_string(before) + " -> " + std::to_string(pcr) + ", unwrapped " +
                               std::to_string(unwrappedBefore) + " -> " + std::to_string(unwrappedAfter) + ")";
    if (!signalled && step) {
        Emit("PcrWrap", "PCR on PID " + Hex(pid) + " wrapped at 2^33" + values, jumpMs, details);
        return;
    }
    Emit("PcrDiscontinuity",
         "PCR on PID " + Hex(pid) + " jumped " + Ms(jumpMs) +
             (signalled ? " with discontinuity_indicator" : " without discontinuity_indicator") + values,
         jumpMs, details);
}

void TimelineTracker::Pts(uint32_t pid, const uint8_t* payload, uint32_t size)
{
    const int64_t raw = PesPts(payload, size);
    if (raw < 0)
        return;
    PtsTrack& track = pts_[pid];
    if (!track.known) {
        track = {true, raw, 0};
        return;
    }
    // The continuation of raw nearest the last value: reordered pictures go back a little,
    // a wrap goes forward past the modulus.
    const int64_t lastEpoch = track.unwrapped >> 33;
    int64_t best = raw + lastEpoch * kPtsModulus;
    for (const int64_t epoch : {lastEpoch - 1, lastEpoch + 1}) {
        const int64_t candidate = raw + epoch * kPtsModulus;
        if (epoch >= 0 && std::llabs(candidate - track.unwrapped) < std::llabs(best - track.unwrapped))
            best = candidate;
    }
    const int64_t before = track.unwrapped;
    track.unwrapped = best;
    const int64_t epoch = best >> 33;
    if (epoch <= track.epoch)
        return;
    track.epoch = epoch;
    const int64_t rawBefore = before & (kPtsModulus - 1);
    Emit("PtsWrap",
         "PTS on PID " + Hex(pid) + " wrapped at 2^33 (PTS " + std::to_string(rawBefore) + " -> " +
             std::to_string(raw) + ", unwrapped " + std::to_string(before) + " -> " + std::to_string(best) + ")",
         static_cast<double>(epoch),
         {{"pid", pid}, {"pts_before", rawBefore}, {"pts_after", raw}, {"unwrapped_before", before},
          {"unwrapped_after", best}, {"wraps", epoch}});
}

void TimelineTracker::Pat(const SklibTs::SkTable& table)
{
    SklibTs::SkTablePat pat;
    pat.Parse(&table);
    std::map<uint32_t, uint32_t> programs;
    for (const auto& program : pat.programs)
        programs[program.program_number] = program.pid;
    if (patKnown_ && (programs != patPrograms_ || table.version_number != patVersion_)) {
        nlohmann::json added = nlohmann::json::array();
        nlohmann::json removed = nlohmann::json::array();
        nlohmann::json moved = nlohmann::json::array();
        std::string what;
        for (const auto& [number, pid] : programs) {
            const auto old = patPrograms_.find(number);
            if (old == patPrograms_.end()) {
                added.push_back({{"program_number", number}, {"pmt_pid", pid}});
                what += ", program " + std::to_string(number) + " added (PMT " + Hex(pid) + ")";
            } else if (old->second != pid) {
                moved.push_back({{"program_number", number}, {"pmt_pid_before", old->second}, {"pmt_pid", pid}});
                what += ", program " + std::to_string(number) + " PMT " + Hex(old->second) + " -> " + Hex(pid);
            }
        }
        for (const auto& [number, pid] : patPrograms_) {
            if (programs.count(number) == 0) {
                removed.push_back({{"program_number", number}, {"pmt_pid", pid}});
                what += ", program " + std::to_string(number) + " removed";
            }
        }
        now_ = table.completion_time;
        Emit("PatChange",
                  "PAT version " + std::to_string(patVersion_) + " -> " + std::to_string(table.version_number) +
                      (what.empty() ? ", same programs" : what),
                  table.version_number,
                  {{"version_before", patVersion_}, {"version_after", table.version_number},
                   {"transport_stream_id", pat.transport_stream_id}, {"programs_added", added},
                   {"programs_removed", removed}, {"pmt_pid_changed", moved}});
    }
    patKnown_ = true;
    patVersion_ = table.version_number;
    patPrograms_ = std::move(programs);
}

void TimelineTracker::Pmt(const SklibTs::TableKey& key, const SklibTs::SkTable& table)
{
    SklibTs::SkTablePmt pmt;
    pmt.Parse(&table);
    ProgramTable now;
    now.version = table.version_number;
    now.pcrPid = pmt.pcr_pid;
    for (const auto& stream : pmt.streams)
        now.streams[static_cast<uint32_t>(stream.elementary_pid)] = stream.stream_type;
    const uint32_t program = key.table_id_extension;
    const auto known = pmts_.find(program);
    if (known == pmts_.end()) {
        pmts_.emplace(program, std::move(now));
        return;
    }
    ProgramTable& old = known->second;
    if (old.version == now.version && old.streams == now.streams && old.pcrPid == now.pcrPid)
        return;
    nlohmann::json added = nlohmann::json::array();
    nlohmann::json removed = nlohmann::json::array();
    nlohmann::json retyped = nlohmann::json::array();
    std::string what;
    for (const auto& [pid, type] : now.streams) {
        const auto before = old.streams.find(pid);
        char typeText[8];
        std::snprintf(typeText, sizeof typeText, "0x%02X", static_cast<unsigned>(type));
        if (before == old.streams.end()) {
            added.push_back({{"pid", pid}, {"stream_type", type}});
            what += ", stream " + Hex(pid) + " added (stream_type " + typeText + ")";
        } else if (before->second != type) {
            retyped.push_back({{"pid", pid}, {"stream_type_before", before->second}, {"stream_type", type}});
            char oldText[8];
            std::snprintf(oldText, sizeof oldText, "0x%02X", static_cast<unsigned>(before->second));
            what += ", stream " + Hex(pid) + " stream_type " + oldText + " -> " + typeText;
        }
    }
    for (const auto& [pid, type] : old.streams) {
        if (now.streams.count(pid) == 0) {
            removed.push_back({{"pid", pid}, {"stream_type", type}});
            what += ", stream " + Hex(pid) + " removed";
        }
    }
    if (old.pcrPid != now.pcrPid)
        what += ", PCR PID " + Hex(static_cast<uint32_t>(old.pcrPid)) + " -> " + Hex(static_cast<uint32_t>(now.pcrPid));
    now_ = table.completion_time;
    Emit("PmtChange",
              "PMT of program " + std::to_string(program) + " version " + std::to_string(old.version) + " -> " +
                  std::to_string(now.version) + (what.empty() ? ", same streams" : what),
              now.version,
              {{"program_number", program}, {"pmt_pid", key.pid}, {"version_before", old.version},
               {"version_after", now.version}, {"pcr_pid_before", old.pcrPid}, {"pcr_pid", now.pcrPid},
               {"streams_added", added}, {"streams_removed", removed}, {"stream_type_changed", retyped}});
    old = std::move(now);
}

void TimelineTracker::SyncLost(const SklibTs::IndicatorRecord& record)
{
    syncLost_ = true;
    lostAt_ = input_.CurrentPacket();
    now_ = record.time;
    Emit("SyncLost", "sync lost at byte " + std::to_string(lostAt_.offset), 0.0,
              {{"offset", lostAt_.offset}});
}

void TimelineTracker::SyncState(const SklibTs::IndicatorRecord& record)
{
    // The indicator also falls back by itself; only a sync found after a loss is a return.
    if (record.active || !syncLost_ || !analyser_.inSync)
        return;
    syncLost_ = false;
    const auto found = input_.CurrentPacket();
    const uint64_t skipped = found.offset - lostAt_.offset;
    Emit("SyncRegained",
              "sync found again at byte " + std::to_string(found.offset) + " after " + std::to_string(skipped) +
                  " bytes",
              static_cast<double>(skipped),
              {{"offset", found.offset}, {"lost_offset", lostAt_.offset}, {"bytes_skipped", skipped}});
}

} // namespace Skts
