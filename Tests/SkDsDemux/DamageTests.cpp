// Damaged streams through the engine: every sample stream with packets dropped, duplicated,
// corrupted (random bits) and reordered at random, with a fixed seed, at rates of 1e-4, 1e-3
// and 1e-2. What the engine promises, checked against the PES packets of the clean stream
// (matched by PID and PTS):
// - a PES none of whose packets was touched (its packets from its start up to the start of the
//   PID's next PES, which completes it) comes out, byte-exact;
// - without corruption nothing else comes out: no PES is altered or invented;
// - a loss the continuity counters show marks the first PES completed from then on (of any
//   mapped PID) as having lost data, and no PES carries the mark without such a loss. The PES
//   that lost data is itself dropped, so the mark travels with what follows it.
// Corrupted payload bits cannot be detected (a PES has no checksum), and a corrupted header can
// move a packet to another PID or move a PES boundary: such PES are counted, not promised.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Demuxer.h"
#include "SkTsInfo.h"
#include "TestData.h"

namespace {

enum class Damage { Drop, Duplicate, Corrupt, Reorder, All };

const char* NameOf(Damage damage)
{
    switch (damage) {
    case Damage::Drop:
        return "drop";
    case Damage::Duplicate:
        return "duplicate";
    case Damage::Corrupt:
        return "corrupt";
    case Damage::Reorder:
        return "reorder";
    default:
        return "all four";
    }
}

// A stream as packets: their bytes, in order, with where each came from in the clean stream.
struct PacketStream {
    size_t unit = 188;
    std::vector<uint8_t> bytes;
    std::vector<size_t> origin;

    size_t Count() const { return bytes.size() / unit; }
    const uint8_t* Packet(size_t i) const { return bytes.data() + i * unit; }
    void Append(const uint8_t* packet, size_t from)
    {
        bytes.insert(bytes.end(), packet, packet + unit);
        origin.push_back(from);
    }
};

uint32_t PidOf(const uint8_t* p) { return static_cast<uint32_t>((p[1] & 0x1F) << 8 | p[2]); }
bool UnitStart(const uint8_t* p) { return (p[1] & 0x40) != 0; }
bool HasPayload(const uint8_t* p) { return (p[3] & 0x10) != 0; }
// An adaptation field whose length does not fit the packet carries no flags.
bool Discontinuity(const uint8_t* p) { return (p[3] & 0x20) != 0 && p[4] > 0 && p[4] <= 183 && (p[5] & 0x80) != 0; }

PacketStream Packets(const std::vector<uint8_t>& file)
{
    PacketStream stream;
    const bool is204 = file.size() > 816 && file[204] == 0x47 && file[408] == 0x47 && file[612] == 0x47 &&
                       !(file[188] == 0x47 && file[376] == 0x47);
    stream.unit = is204 ? 204 : 188;
    for (size_t at = 0; at + stream.unit <= file.size(); at += stream.unit)
        stream.Append(file.data() + at, stream.Count());
    return stream;
}

// One damaging event, in terms of the clean stream's packets.
struct Event {
    Damage kind;
    size_t packet;        // the clean packet damaged (the first of a swapped pair)
    uint32_t pid;         // its PID
    uint32_t otherPid;    // corrupt: the PID it carries now; reorder: the PID of the second packet
};

struct DamagedStream {
    PacketStream stream;
    std::vector<Event> events;
};

DamagedStream Damaged(const PacketStream& clean, Damage damage, double rate, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    DamagedStream out;
    out.stream.unit = clean.unit;
    for (size_t i = 0; i < clean.Count(); ++i) {
        const uint8_t* packet = clean.Packet(i);
        if (chance(random) >= rate) {
            out.stream.Append(packet, i);
            continue;
        }
        Damage kind = damage;
        if (kind == Damage::All)
            kind = static_cast<Damage>(random() % 4);
        switch (kind) {
        case Damage::Drop:
            out.events.push_back({kind, i, PidOf(packet), PidOf(packet)});
            break;
        case Damage::Duplicate:
            out.stream.Append(packet, i);
            out.stream.Append(packet, i);
            out.events.push_back({kind, i, PidOf(packet), PidOf(packet)});
            break;
        case Damage::Corrupt: {
            std::vector<uint8_t> bad(packet, packet + 188);
            const int flips = 1 + static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f) {
                const size_t bit = random() % (188 * 8);
                bad[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
            }
            std::vector<uint8_t> unit(packet, packet + clean.unit);
            std::copy(bad.begin(), bad.end(), unit.begin());
            out.stream.Append(unit.data(), i);
            out.events.push_back({kind, i, PidOf(packet), PidOf(bad.data())});
            break;
        }
        default: // Reorder: this packet and the next change places
            if (i + 1 >= clean.Count()) {
                out.stream.Append(packet, i);
                break;
            }
            out.stream.Append(clean.Packet(i + 1), i + 1);
            out.stream.Append(packet, i);
            out.events.push_back({kind, i, PidOf(packet), PidOf(clean.Packet(i + 1))});
            ++i;
            break;
        }
    }
    return out;
}

// What the engine handed out, in order.
struct Delivered {
    uint32_t pid;
    int64_t pts;
    bool dataLost;
    size_t completedAt; // index of the stream packet that completed it
    std::vector<uint8_t> payload;
};

struct EngineRun {
    std::vector<Delivered> pes;
    const SklibTs::SkTsInfo* analyser = nullptr;
};

void Collect(uint32_t pid, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    auto& run = *static_cast<EngineRun*>(context);
    const std::shared_ptr<DsDemux::PesData> pes = std::move(entry.pes);
    uint32_t size = 0;
    const uint8_t* payload = pes->pes.GetPayload(size);
    // The analyser counts every packet, also those it keeps from the engine: the one being
    // processed is the last it counted.
    Delivered d{pid, pes->pts, pes->dataLost, static_cast<size_t>(run.analyser->packetsProcessed - 1), {}};
    if (payload != nullptr)
        d.payload.assign(payload, payload + size);
    run.pes.push_back(std::move(d));
}

EngineRun RunEngine(const PacketStream& stream, const std::vector<uint32_t>& pids)
{
    EngineRun run;
    int64_t steadyNs = 1'000'000'000;
    DsDemux::Demuxer engine([&steadyNs] { return steadyNs += 10'000; });
    EXPECT_EQ(engine.Init(), S_OK);
    run.analyser = engine.Analyser();
    for (const uint32_t pid : pids)
        engine.AddPid(pid, &Collect, &run);
    // One packet per sample, so that every completion is tied to its packet.
    for (size_t i = 0; i < stream.Count(); ++i)
        EXPECT_EQ(engine.ProcessSample(stream.Packet(i), static_cast<int32_t>(stream.unit)), S_OK);
    return run;
}

// The PIDs that carry PES packets: a payload unit start followed by a start code.
std::vector<uint32_t> PesPids(const PacketStream& stream)
{
    std::set<uint32_t> pids;
    for (size_t i = 0; i < stream.Count(); ++i) {
        const uint8_t* p = stream.Packet(i);
        if (!UnitStart(p) || !HasPayload(p) || PidOf(p) == 0x1FFF)
            continue;
        const size_t at = (p[3] & 0x20) ? 5u + p[4] : 4u;
        if (at + 3 <= 188 && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1)
            pids.insert(PidOf(p));
    }
    return {pids.begin(), pids.end()};
}

// Where the continuity counters of the damaged stream show a loss on a mapped PID (the
// counting of ISO/IEC 13818-1: payload packets count up by one, one repetition is allowed, a
// discontinuity indicator starts afresh).
std::vector<size_t> LossPoints(const PacketStream& stream, const std::vector<uint32_t>& pids)
{
    struct Counter {
        bool known = false;
        int last = 0;
        int previous = 0;
    };
    std::map<uint32_t, Counter> counters;
    for (const uint32_t pid : pids)
        counters[pid];
    std::vector<size_t> points;
    for (size_t i = 0; i < stream.Count(); ++i) {
        const uint8_t* p = stream.Packet(i);
        const auto found = counters.find(PidOf(p));
        // The analyser passes on no packet without its sync byte, with the transport error
        // indicator set or scrambled: for the engine those are missing packets.
        if (p[0] != 0x47 || (p[1] & 0x80) != 0 || (p[3] & 0xC0) != 0 || found == counters.end())
            continue;
        Counter& c = found->second;
        const int cc = p[3] & 0x0F;
        if (Discontinuity(p)) {
            c = {true, cc, 255};
        } else if (HasPayload(p) && cc != ((c.last + 1) & 0x0F)) {
            if (cc == c.last && cc == ((c.previous + 1) & 0x0F)) {
                c.previous = c.last;
                continue;
            }
            if (c.known)
                points.push_back(i);
            c = {true, cc, c.last};
        } else if (HasPayload(p)) {
            c = {true, cc, c.last};
        }
    }
    return points;
}

// The clean stream's PES with the packets that make and complete each.
struct CleanPes {
    const Delivered* pes;
    size_t first; // its payload-unit-start packet
    size_t last;  // the next payload-unit-start packet of the PID, which completes it
};

std::vector<CleanPes> CleanSpans(const PacketStream& stream, const EngineRun& clean)
{
    std::map<uint32_t, std::vector<size_t>> starts;
    for (size_t i = 0; i < stream.Count(); ++i) {
        const uint8_t* p = stream.Packet(i);
        if (UnitStart(p) && HasPayload(p))
            starts[PidOf(p)].push_back(i);
    }
    std::map<uint32_t, size_t> nth;
    std::vector<CleanPes> spans;
    for (const Delivered& pes : clean.pes) {
        const std::vector<size_t>& pidStarts = starts[pes.pid];
        const size_t n = nth[pes.pid]++;
        EXPECT_LT(n, pidStarts.size());
        if (n >= pidStarts.size())
            break;
        spans.push_back({&pes, pidStarts[n], n + 1 < pidStarts.size() ? pidStarts[n + 1] : stream.Count()});
    }
    return spans;
}

bool Touches(const Event& e, const CleanPes& span)
{
    const uint32_t pid = span.pes->pid;
    if (e.packet > span.last || (e.kind == Damage::Reorder ? e.packet + 1 : e.packet) < span.first)
        return false;
    switch (e.kind) {
    case Damage::Corrupt:
        return e.pid == pid || e.otherPid == pid;
    case Damage::Reorder:
        return e.pid == pid && e.otherPid == pid; // only a swap within the PID changes its order
    default:
        return e.pid == pid;
    }
}

struct Figures {
    size_t events = 0, clean = 0, touched = 0, untouchedDelivered = 0, delivered = 0, exact = 0, altered = 0, invented = 0,
           marked = 0, losses = 0;
    void Add(const Figures& o)
    {
        events += o.events, clean += o.clean, touched += o.touched, untouchedDelivered += o.untouchedDelivered, delivered += o.delivered;
        exact += o.exact, altered += o.altered, invented += o.invented, marked += o.marked, losses += o.losses;
    }
};

Figures CheckDamage(const std::string& name, const PacketStream& clean, const std::vector<uint32_t>& pids,
                    const EngineRun& reference, Damage damage, double rate, uint64_t seed)
{
    SCOPED_TRACE(name + " " + NameOf(damage) + " " + std::to_string(rate));
    const DamagedStream damaged = Damaged(clean, damage, rate, seed);
    const EngineRun run = RunEngine(damaged.stream, pids);
    const std::vector<CleanPes> spans = CleanSpans(clean, reference);

    std::map<std::pair<uint32_t, int64_t>, const CleanPes*> byPts;
    for (const CleanPes& span : spans)
        byPts[{span.pes->pid, span.pes->pts}] = &span;
    std::set<const CleanPes*> touched;
    for (const CleanPes& span : spans) {
        if (std::any_of(damaged.events.begin(), damaged.events.end(), [&](const Event& e) { return Touches(e, span); }))
            touched.insert(&span);
    }

    Figures f;
    f.events = damaged.events.size();
    f.clean = spans.size();
    f.touched = touched.size();
    f.delivered = run.pes.size();
    std::set<const CleanPes*> deliveredExact;
    for (const Delivered& out : run.pes) {
        f.marked += out.dataLost;
        const auto match = byPts.find({out.pid, out.pts});
        if (match == byPts.end()) {
            ++f.invented;
            EXPECT_EQ(damage == Damage::Corrupt || damage == Damage::All, true)
                << "PES of PID " << out.pid << " with PTS " << out.pts << " invented";
            continue;
        }
        const bool exact = match->second->pes->payload == out.payload;
        exact ? ++f.exact : ++f.altered;
        if (exact)
            deliveredExact.insert(match->second);
        EXPECT_TRUE(exact || touched.count(match->second) != 0)
            << "untouched PES of PID " << out.pid << " with PTS " << out.pts << " altered";
        EXPECT_TRUE(exact || damage == Damage::Corrupt || damage == Damage::All)
            << "PES of PID " << out.pid << " with PTS " << out.pts << " altered without corruption";
    }
    for (const CleanPes& span : spans) {
        if (touched.count(&span) != 0)
            continue;
        const bool came = deliveredExact.count(&span) != 0;
        f.untouchedDelivered += came;
        EXPECT_TRUE(came) << "untouched PES of PID " << span.pes->pid << " with PTS " << span.pes->pts << " lost";
    }

    // Each PES is marked exactly when a loss showed since the PES before it.
    const std::vector<size_t> losses = LossPoints(damaged.stream, pids);
    f.losses = losses.size();
    int64_t previous = -1; // the packet that completed the PES before
    for (const Delivered& out : run.pes) {
        const auto after = std::upper_bound(losses.begin(), losses.end(), previous,
                                            [](int64_t value, size_t at) { return value < static_cast<int64_t>(at); });
        const bool lossBefore = after != losses.end() && *after <= out.completedAt;
        EXPECT_EQ(out.dataLost, lossBefore) << "PES of PID " << out.pid << " with PTS " << out.pts
                                            << " completed at packet " << out.completedAt;
        previous = static_cast<int64_t>(out.completedAt);
    }
    return f;
}

} // namespace

// Each stream is damaged this many times per kind and rate, each time with its own seed.
constexpr uint64_t kPasses = 4;

TEST(DamageTest, IntactPesSurviveAndLossesAreMarked)
{
    const double rates[] = {1e-4, 1e-3, 1e-2};
    const Damage damages[] = {Damage::Drop, Damage::Duplicate, Damage::Corrupt, Damage::Reorder, Damage::All};
    std::map<std::pair<int, int>, Figures> totals;
    size_t streams = 0;
    for (const std::string_view name : SktsTest::kSampleStreams) {
        const auto path = SktsTest::FindSample(std::string(name) + ".ts");
        if (!path) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        ++streams;
        const PacketStream clean = Packets(SktsTest::ReadFile(*path));
        const std::vector<uint32_t> pids = PesPids(clean);
        ASSERT_FALSE(pids.empty()) << name;
        const EngineRun reference = RunEngine(clean, pids);
        ASSERT_GT(reference.pes.size(), 10u) << name;
        for (const Delivered& pes : reference.pes) {
            ASSERT_FALSE(pes.dataLost) << name << ": the clean stream loses nothing";
            // The packet counted as completing a PES is one of its PID.
            ASSERT_LT(pes.completedAt, clean.Count());
            ASSERT_EQ(PidOf(clean.Packet(pes.completedAt)), pes.pid) << name;
        }
        for (int r = 0; r < 3; ++r) {
            for (int d = 0; d < 5; ++d) {
                for (uint64_t pass = 0; pass < kPasses; ++pass) {
                    const uint64_t seed = 0x5EED0000u + static_cast<uint64_t>(r * 16 + d) * 256 + pass;
                    totals[{r, d}].Add(
                        CheckDamage(std::string(name), clean, pids, reference, damages[d], rates[r], seed));
                }
            }
        }
    }
    ASSERT_GT(streams, 0u);
    // The figures for the README.
    std::printf("[ FIGURES  ] rate damage: events clean touched untouched-out delivered exact altered invented marked losses\n");
    for (const auto& [key, f] : totals) {
        std::printf("[ FIGURES  ] %g %s: %zu %zu %zu %zu %zu %zu %zu %zu %zu %zu\n", rates[key.first],
                    NameOf(damages[key.second]), f.events, f.clean, f.touched, f.untouchedDelivered, f.delivered, f.exact, f.altered, f.invented, f.marked,
                    f.losses);
    }
}
