#include "PlayCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "AvTimeStamp.h"
#include "ByteSource.h"
#include "ComSupport.h"
#include "CommandOptions.h"
#include "CommandError.h"
#include "PidText.h"
#include "ComPtr.h"
#include "Demuxer.h"
#include "FilterCatalog.h"
#include "Host/FilterGraph.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"
#include "MediaTypes.h"
#include "MuxRate.h"
#include "PinSink.h"
#include "PlayInput.h"
#include "SkDsDemuxIds.h"
#include "SkTsInfo.h"
#include "SkTsPacketInput.h"
#include "StdoutSink.h"

namespace Skts {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kSurveyBytes = size_t{8} << 20;
// The survey looks at the head a step at a time, and stops once the pins' plan is final.
constexpr size_t kSurveyStep = size_t{1} << 20;
// Records alive at most while playing fast: the PES queued on the pins plus the current input
// sample's. It keeps every pin's queue short of the backlog the filter would trim.
constexpr int64_t kFastRecordsInFlight = 64;
// A PES is held at most 5 s; silence longer than this after the input ended means nothing more
// will come.
constexpr auto kSilenceAfterEnd = std::chrono::seconds(6);
// How often the application looks whether the play is over, besides being told.
constexpr auto kEndPoll = std::chrono::milliseconds(20);

// Tells the application's wait for the end of play that something it waits for has happened
// (the input ended, the last record went), so that a fast play ends when it is done rather
// than at the next look.
class EndNotice {
public:
    void Notify()
    {
        {
            std::lock_guard lock(mutex_);
            ++notices_;
        }
        changed_.notify_all();
    }
    // Waits until a notice newer than `seen` (which it updates), or the time is up.
    void Wait(uint64_t& seen, Clock::duration most)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, most, [&] { return notices_ != seen; });
        seen = notices_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t notices_ = 0;
};

struct PinPlan {
    std::string name;
    std::vector<uint32_t> pids;
    PinMediaType type;
};

// What the first megabytes of the input say: programs, the kind of every PID seen, mux rate.
struct StreamSurvey {
    int32_t muxRate = 0;
    bool inSync = false;
    SklibTs::ProgramMap programs;
    std::map<uint32_t, int32_t> pidKinds; // PIDs with packets, with their stream kind (-1 unknown)
};

// Whether what the survey found so far settles everything it is asked for.
using SurveyDone = std::function<bool(const StreamSurvey&)>;

void TakeStock(SklibTs::SkTsInfo& analyser, StreamSurvey& survey)
{
    SklibTs::SkTsInfoLock lock(analyser);
    survey.inSync = analyser.packetsProcessed > 0;
    survey.programs = analyser.programs;
    survey.pidKinds.clear();
    for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
        const SklibTs::SkPidInfo* info = analyser.pidInfo[pid];
        if (info != nullptr && info->packetCount > 0)
            survey.pidKinds[pid] = info->streamKind;
    }
}

// The head of the input, peeked (and so still to be played): up to `bytes` of it.
const std::vector<uint8_t>& PeekHead(ByteSource& source, size_t bytes)
{
    const std::vector<uint8_t>& head = source.Peek(bytes);
    if (!source.Error().empty())
        throw CommandError(source.Error());
    if (head.empty())
        throw CommandError(source.Name() + " is empty");
    return head;
}

// Surveys up to kSurveyBytes of the head, reading a file's only as far as the survey goes
// (a live input's first seconds at once), until `done`. The mux rate is estimated from what is
// read first: all of kSurveyBytes when `rateFromWholeHead` (it paces a play in real time).
StreamSurvey Survey(ByteSource& source, bool rateFromWholeHead, const SurveyDone& done)
{
    const bool readInSteps = !source.IsLive();
    const std::vector<uint8_t>* head =
        &PeekHead(source, (rateFromWholeHead || !readInSteps) ? kSurveyBytes : kSurveyStep);
    StreamSurvey survey;
    survey.muxRate = EstimateMuxRate(head->data(), head->size());
    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(
        SklibTs::CreateTsPacketInput(analyser.get(), survey.muxRate > 0 ? survey.muxRate : kFallbackBitrate));
    if (!analyser || !input)
        throw CommandError("out of memory");
    for (size_t surveyed = 0;;) {
        while (surveyed < head->size()) {
            const size_t step = std::min(kSurveyStep, head->size() - surveyed);
            input->Write(head->data() + surveyed, static_cast<uint32_t>(step));
            surveyed += step;
            TakeStock(*analyser, survey);
            if (done && done(survey))
                return survey;
        }
        if (!readInSteps || surveyed >= kSurveyBytes)
            return survey;
        head = &PeekHead(source, std::min(kSurveyBytes, surveyed + kSurveyStep));
        if (head->size() == surveyed)
            return survey; // the input is shorter
    }
}

// Every program of the PAT has had its PMT (a PMT with neither streams nor a PCR PID is not
// told apart from a missing one, and keeps the survey going).
bool AllPmtsKnown(const StreamSurvey& survey)
{
    return !survey.programs.empty() &&
           std::all_of(survey.programs.begin(), survey.programs.end(), [](const auto& entry) {
               const SklibTs::Program& program = entry.second;
               return entry.first == 0 || program.pmt_pid < 0 || program.pcr_pid >= 0 || !program.streams.empty();
           });
}

int32_t StreamKindOf(const StreamSurvey& survey, uint32_t pid)
{
    const auto found = survey.pidKinds.find(pid);
    if (found != survey.pidKinds.end() && found->second >= 0)
        return found->second;
    for (const auto& [number, program] : survey.programs)
        for (const auto& stream : program.streams)
            if (stream.elementary_pid == pid)
                return stream.stream_type;
    return -1;
}

bool InStream(const StreamSurvey& survey, uint32_t pid)
{
    if (survey.pidKinds.count(pid) != 0)
        return true;
    return std::any_of(survey.programs.begin(), survey.programs.end(),
                       [pid](const auto& entry) { return entry.second.HasStream(pid); });
}

// NAME=PID[,PID...][:video|audio|data]; the type of the first PID's stream fills what is open.
PinPlan ParsePinOption(const std::string& option, const StreamSurvey& survey)
{
    const size_t equals = option.find('=');
    if (equals == std::string::npos || equals == 0)
        throw CommandError("bad --pin '" + option + "' (NAME=PID[,PID...][:video|audio|data])");
    PinPlan plan;
    plan.name = option.substr(0, equals);
    std::string pids = option.substr(equals + 1);
    std::string kind;
    if (const size_t colon = pids.find(':'); colon != std::string::npos) {
        kind = pids.substr(colon + 1);
        pids.resize(colon);
        if (kind != "video" && kind != "audio" && kind != "data")
            throw CommandError("bad pin type '" + kind + "' in --pin '" + option + "' (video, audio or data)");
    }
    for (size_t start = 0; start <= pids.size();) {
        const size_t comma = std::min(pids.find(',', start), pids.size());
        plan.pids.push_back(ParsePid(pids.substr(start, comma - start)));
        start = comma + 1;
    }
    for (uint32_t pid : plan.pids) {
        if (!InStream(survey, pid))
            throw CommandError("PID " + PidName(pid) + " of pin '" + plan.name + "' is not in the stream");
    }
    plan.type = MediaTypeForStream(StreamKindOf(survey, plan.pids.front()));
    const PinKind wanted = kind == "video" ? PinKind::Video : kind == "audio" ? PinKind::Audio : PinKind::Data;
    if (!kind.empty() && plan.type.kind != wanted)
        plan.type = PinMediaType{wanted, GUID_NULL, ""};
    return plan;
}

std::vector<PinPlan> PlanPins(const PlayOptions& options, const StreamSurvey& survey, const std::string& inputName)
{
    std::vector<PinPlan> plans;
    if (!options.pins.empty()) {
        std::set<std::string> names;
        for (const std::string& option : options.pins) {
            plans.push_back(ParsePinOption(option, survey));
            if (!names.insert(plans.back().name).second)
                throw CommandError("duplicate pin name '" + plans.back().name + "'");
        }
        return plans;
    }
    // As an application does after reading the PMT: one pin per elementary stream.
    const SklibTs::Program* program = nullptr;
    for (const auto& [number, candidate] : survey.programs) {
        if (number == 0 || candidate.pmt_pid < 0)
            continue;
        if (options.program < 0 || options.program == number) {
            program = &candidate;
            break;
        }
    }
    if (program == nullptr)
        throw CommandError(options.program < 0 ? "no program found in " + inputName
                                               : "program " + std::to_string(options.program) + " is not in " +
                                                     inputName);
    for (const auto& stream : program->streams) {
        const uint32_t pid = stream.elementary_pid;
        plans.push_back({PidName(pid), {pid}, MediaTypeForStream(StreamKindOf(survey, pid))});
    }
    if (plans.empty())
        throw CommandError("program " + std::to_string(program->program_number) + " has no elementary stream");
    return plans;
}

// Fast play's view of the filter's records: how many are alive (every queued PES holds one),
// and whether the next media sample on a delivery thread begins a PES.
class FlowProvider final : public AvTimeStampProvider {
public:
    void CreateRecord(std::shared_ptr<AvTimeStamp>& record, const std::shared_ptr<AvTimeStamp>& parent,
                      uint32_t sequence, int32_t, uint32_t kind) override
    {
        // Input samples' records come from the streaming thread, and so do the records of
        // further PES in a sample; records of further pieces of a PES come from a pin's thread.
        if (!parent)
            streamingThread_ = std::this_thread::get_id();
        const bool piece = parent && std::this_thread::get_id() != streamingThread_.load();
        auto counted = std::make_shared<CountedRecord>(*this, kind);
        counted->record.sequence = parent ? sequence + 1 : nextSequence_++;
        counted->record.reserved0 = piece ? kPieceTag : 0;
        record = std::shared_ptr<AvTimeStamp>(counted, &counted->record);
    }
    void OnMediaSample(int32_t, const std::shared_ptr<AvTimeStamp>& record) override
    {
        nextSampleStartsPes = record->reserved0 != kPieceTag;
    }

    // On a delivery thread: whether the notification just before its sample named a PES.
    static bool TakePesStart() { return std::exchange(nextSampleStartsPes, false); }

    // Blocks while more than `limit` records are alive, and then until half of them went, so
    // that the source and the pins do not wake each other for every record; false once stopped.
    bool WaitForRoom(int64_t limit)
    {
        if (alive_.load() <= limit)
            return !stopped_.load();
        std::unique_lock lock(mutex_);
        // Set before alive_ is looked at again: a release that brings it down to the low-water
        // mark either sees the mark or is seen here.
        lowWater_.store(limit / 2);
        released_.wait(lock, [&] { return alive_.load() <= lowWater_.load() || stopped_; });
        lowWater_.store(-1);
        return !stopped_;
    }
    int64_t Alive() const { return alive_.load(); }
    void Stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        released_.notify_all();
    }
    // Called, on whichever thread releases it, when at most one record is left alive.
    void OnDrained(std::function<void()> callback) { onDrained_ = std::move(callback); }

private:
    static constexpr int64_t kPieceTag = 1;

    struct CountedRecord {
        CountedRecord(FlowProvider& owner, uint32_t kind) : provider(owner), record(kind) { provider.Adjust(1); }
        ~CountedRecord() { provider.Adjust(-1); }
        FlowProvider& provider;
        AvTimeStamp record;
    };

    // Every record made and freed passes here, on the streaming thread and on every pin's: a
    // count, with the lock taken only to wake a waiting source.
    void Adjust(int64_t delta)
    {
        const int64_t alive = alive_.fetch_add(delta) + delta;
        if (delta > 0)
            return;
        if (alive == lowWater_.load()) {
            { const std::lock_guard lock(mutex_); } // the source is waiting, or has seen the count
            released_.notify_all();
        }
        if (alive <= 1 && onDrained_)
            onDrained_();
    }

    static thread_local bool nextSampleStartsPes;
    std::atomic<std::thread::id> streamingThread_{};
    std::atomic<uint32_t> nextSequence_{1};
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::function<void()> onDrained_; // set before the graph runs
    std::atomic<int64_t> alive_{0};
    std::atomic<int64_t> lowWater_{-1}; // while the source waits: the count that wakes it
    std::atomic<bool> stopped_{false};  // set under mutex_, so a waiting source sees it
};

thread_local bool FlowProvider::nextSampleStartsPes = false;

// Runs the engine beside the filter over the same bytes, so that every pin knows which PES it
// is going to deliver, with their sizes and times.
class ReferenceEngine {
public:
    explicit ReferenceEngine(const std::vector<std::unique_ptr<PinSink>>& sinks)
    {
        if (FAILED(engine_.Init()))
            throw CommandError("the demultiplexer engine could not start");
        for (const auto& sink : sinks) {
            for (uint32_t pid : sink->Pids()) {
                if (listeners_[pid].empty())
                    engine_.AddPid(pid, &ReferenceEngine::OnPes, this);
                listeners_[pid].push_back(sink.get());
            }
        }
    }
    void Feed(const uint8_t* data, size_t size) { engine_.ProcessSample(data, static_cast<int32_t>(size)); }

private:
    static void OnPes(uint32_t pid, DsDemux::PidEntry& entry, uint32_t, void* context)
    {
        auto& self = *static_cast<ReferenceEngine*>(context);
        uint32_t size = 0;
        entry.pes->pes.GetPayload(size);
        const ExpectedPes expected{size, entry.pes->pts, entry.pes->dts};
        for (PinSink* sink : self.listeners_[pid])
            sink->Expect(expected);
    }

    DsDemux::Demuxer engine_;
    std::map<uint32_t, std::vector<PinSink*>> listeners_;
};

void Check(HRESULT hr, const std::string& what)
{
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(hr));
        throw CommandError(what + " failed (" + code + ")");
    }
}

// The graph: source -> demultiplexer -> one sink per pin, with the chosen clock.
class PlayGraph {
public:
    PlayGraph(const PlayOptions& options, PlayInput& input, std::vector<std::unique_ptr<PinSink>>& sinks,
              FlowProvider* provider, EndNotice& endNotice)
        : options_(options), input_(input), sinks_(sinks), provider_(provider), endNotice_(endNotice),
          graph_(DsHost::FilterGraph::Create())
    {
        DsHost::PushSource::Options sourceOptions;
        sourceOptions.bufferSize = static_cast<LONG>(options.chunkSize);
        source_ = ComPtr<DsHost::PushSource>(new DsHost::PushSource(input.Reader(), sourceOptions));
        const ComPtr<IUnknown> demux = CreateDemultiplexer();
        Check(demux->QueryInterface(IID_IBaseFilter, demux_.PutVoid()), "querying IBaseFilter");
        Check(demux->QueryInterface(IID_IMpeg2Demultiplexer, pins_.PutVoid()), "querying IMpeg2Demultiplexer");
        Check(graph_->AddFilter(source_.Get(), L"Source"), "adding the source");
        Check(graph_->AddFilter(demux_.Get(), L"Demultiplexer"), "adding the demultiplexer");
        ComPtr<IPin> tsPin;
        Check(demux_->FindPin(L"Ts", tsPin.Put()), "finding the input pin");
        Check(graph_->Connect(source_->OutputPin(), tsPin.Get()), "connecting the source");
        for (const auto& sink : sinks_)
            AddOutput(*sink);
        SetClock(demux);
        if (provider_ != nullptr) {
            ComPtr<ISkDsAvTimeStamp> stamps;
            Check(demux->QueryInterface(IID_ISkDsAvTimeStamp, stamps.PutVoid()), "querying ISkDsAvTimeStamp");
            Check(stamps->SetTimeStampProvider(provider_), "attaching the time-stamp provider");
        }
    }

    ~PlayGraph()
    {
        if (provider_ != nullptr)
            provider_->Stop();
        graph_->Stop();
        sinkFilters_.clear();
    }

    // Plays until the input is done and delivered, or the duration is over; returns seconds.
    double Play()
    {
        const auto begin = Clock::now();
        const auto deadline = options_.duration > 0
                                  ? begin + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(options_.duration))
                                  : Clock::time_point::max();
        if (options_.fast) {
            // Paused, the filter gives no times: every PES is due at once.
            Check(graph_->Pause(), "pausing the graph");
        } else {
            runSteady_ = Clock::now();
            if (clock_)
                clock_->GetTime(&runStart_);
            Check(graph_->Run(runStart_), "running the graph");
        }
        WaitForEnd(deadline);
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        // Upstream first, so that nothing is delivered into a stopped sink.
        input_.RequestStop();
        if (provider_ != nullptr)
            provider_->Stop();
        source_->Stop();
        demux_->Stop();
        graph_->Stop();
        return seconds;
    }

private:
    // As an application does: by class identifier, from the module the registry names.
    static ComPtr<IUnknown> CreateDemultiplexer()
    {
        ComPtr<IUnknown> unknown;
        const HRESULT hr =
            CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.PutVoid());
        if (hr == REGDB_E_CLASSNOTREG)
            throw CommandError("the demultiplexer filter " + Narrow(GuidString(CLSID_SkDsDemux)) +
                               " is not registered in " + RegistryLocation() + "; run 'skts register' first");
        if (FAILED(hr))
            throw CommandError("creating the demultiplexer failed (" + DescribeFailure(hr) + ")");
        return unknown;
    }

    void SetClock(const ComPtr<IUnknown>& demux)
    {
        if (options_.clock == "demux") {
            Check(demux->QueryInterface(IID_IReferenceClock, clock_.PutVoid()), "querying the filter's clock");
            Check(graph_->SetSyncSource(clock_.Get()), "setting the graph clock");
        } else if (options_.clock == "system") {
            Check(graph_->SetDefaultSyncSource(), "setting the system clock");
            demux_->GetSyncSource(clock_.Put());
        }
    }

    void AddOutput(PinSink& sink)
    {
        CMediaType type = MakePinMediaType(sink.Type());
        std::wstring name(sink.Name().begin(), sink.Name().end());
        ComPtr<IPin> pin;
        Check(pins_->CreateOutputPin(&type, name.data(), pin.Put()), "creating pin '" + sink.Name() + "'");
        ComPtr<IMPEG2PIDMap> map;
        Check(pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid()), "querying IMPEG2PIDMap");
        std::vector<ULONG> pids(sink.Pids().begin(), sink.Pids().end());
        Check(map->MapPID(static_cast<ULONG>(pids.size()), pids.data(), MEDIA_ELEMENTARY_STREAM),
              "mapping the PIDs of pin '" + sink.Name() + "'");
        DsHost::SinkCallbacks callbacks;
        const bool notified = provider_ != nullptr;
        callbacks.onSample = [this, &sink, notified](const DsHost::ReceivedSample& sample) {
            lastArrival_.store(Clock::now().time_since_epoch().count());
            return sink.OnSample(sample, ArrivalTime(), notified && FlowProvider::TakePesStart());
        };
        auto filter = ComPtr<DsHost::SampleSink>(new DsHost::SampleSink(std::move(callbacks)));
        Check(graph_->AddFilter(filter.Get(), (L"Sink " + name).c_str()), "adding a sink");
        Check(graph_->Connect(pin.Get(), filter->InputPin()), "connecting pin '" + sink.Name() + "'");
        sinkFilters_.push_back(std::move(filter));
    }

    // Stream time of an arrival: the graph clock since Run, or the steady clock without one.
    int64_t ArrivalTime() const
    {
        if (clock_) {
            REFERENCE_TIME now = 0;
            clock_->GetTime(&now);
            return now - runStart_;
        }
        return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - runSteady_).count() / 100;
    }

    bool Delivered() const
    {
        if (provider_ != nullptr)
            return provider_->Alive() <= 1; // only the closing sample's record is left
        return std::all_of(sinks_.begin(), sinks_.end(), [](const auto& sink) { return sink->HasEverythingExpected(); });
    }

    void WaitForEnd(Clock::time_point deadline)
    {
        Clock::time_point endedAt{};
        uint64_t seen = 0;
        while (Clock::now() < deadline) {
            if (input_.Finished()) {
                if (Delivered())
                    return;
                if (endedAt == Clock::time_point{})
                    endedAt = Clock::now();
                const Clock::time_point last{Clock::duration(lastArrival_.load())};
                if (Clock::now() - std::max(endedAt, last) > kSilenceAfterEnd)
                    return; // the filter dropped what is missing
            }
            endNotice_.Wait(seen, std::min<Clock::duration>(kEndPoll, deadline - Clock::now()));
        }
    }

    const PlayOptions& options_;
    PlayInput& input_;
    std::vector<std::unique_ptr<PinSink>>& sinks_;
    FlowProvider* provider_;
    EndNotice& endNotice_;
    ComPtr<DsHost::FilterGraph> graph_;
    ComPtr<DsHost::PushSource> source_;
    ComPtr<IBaseFilter> demux_;
    ComPtr<IMpeg2Demultiplexer> pins_;
    ComPtr<IReferenceClock> clock_;
    std::vector<ComPtr<DsHost::SampleSink>> sinkFilters_;
    REFERENCE_TIME runStart_ = 0;
    Clock::time_point runSteady_ = Clock::now();
    std::atomic<Clock::rep> lastArrival_{0};
};

// How far the start times of video and audio depart from their PTS distance: the largest
// difference between a video pin's and an audio pin's start - PTS.
nlohmann::json AvOffsetError(const std::vector<std::unique_ptr<PinSink>>& sinks)
{
    double worst = -1;
    for (const auto& video : sinks) {
        const auto v = video->StartMinusPts();
        if (video->Type().kind != PinKind::Video || !v.known)
            continue;
        for (const auto& audio : sinks) {
            const auto a = audio->StartMinusPts();
            if (audio->Type().kind != PinKind::Audio || !a.known)
                continue;
            const int64_t error = std::max(std::llabs(v.max - a.min), std::llabs(v.min - a.max));
            worst = std::max(worst, static_cast<double>(error) / 10'000.0);
        }
    }
    return worst < 0 ? nlohmann::json(nullptr) : nlohmann::json(std::round(worst * 1000.0) / 1000.0);
}

std::string Ms(const nlohmann::json& value)
{
    if (value.is_null())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value.get<double>());
    return text;
}

void PrintReport(const nlohmann::json& report, std::ostream& out)
{
    char line[320];
    std::snprintf(line, sizeof line, "Play: %.2f s %s, clock %s; PCR offset changes %llu; A/V offset error %s ms\n",
                  report["duration_s"].get<double>(), report["mode"].get<std::string>().c_str(),
                  report["clock"].get<std::string>().c_str(),
                  static_cast<unsigned long long>(report["pcr_offset_changes"].get<uint64_t>()),
                  Ms(report["av_offset_error_ms"]).c_str());
    out << line;
    out << "  Pin              Type                      Samples        Bytes     PES    Sync   Disc   First start    "
           "Last start   Late p50/p99/max ms   Start-PTS spread ms\n";
    for (const auto& pin : report["pins"]) {
        std::string type = pin["major_type"].get<std::string>();
        if (!pin["subtype"].is_null())
            type += " " + pin["subtype"].get<std::string>();
        const auto& late = pin["lateness_ms"];
        const std::string lateness =
            late.is_null() ? "-" : Ms(late["p50"]) + "/" + Ms(late["p99"]) + "/" + Ms(late["max"]);
        std::snprintf(line, sizeof line, "  %-16s %-24s %8llu %12llu %7llu %7llu %6llu %13.3f %13.3f   %-21s %s\n",
                      pin["name"].get<std::string>().c_str(), type.c_str(),
                      static_cast<unsigned long long>(pin["samples"].get<uint64_t>()),
                      static_cast<unsigned long long>(pin["bytes"].get<uint64_t>()),
                      static_cast<unsigned long long>(pin["pes"].get<uint64_t>()),
                      static_cast<unsigned long long>(pin["sync_points"].get<uint64_t>()),
                      static_cast<unsigned long long>(pin["discontinuities"].get<uint64_t>()),
                      pin["first_start"].get<double>() / 1e7, pin["last_start"].get<double>() / 1e7, lateness.c_str(),
                      Ms(pin["start_minus_pts_spread_ms"]).c_str());
        out << line;
    }
}

} // namespace

void AddPlayCommand(CLI::App& app, StdoutSink& out, int& exitCode)
{
    auto options = std::make_shared<PlayOptions>();
    CLI::App* command = app.add_subcommand(
        "play",
        "Play a transport stream through the demultiplexer filter in a filter graph, as an application does: "
        "the filter is created by its CLSID from the module registered with 'skts register', a source pushes the input in samples paced at its mux rate, output pins are created and mapped, and a "
        "sink per pin writes the payload to DIR/NAME.es and measures the samples' marks and times.");
    command->add_option("input", options->input, kInputHelp)->required();
    command->add_option("--pin", options->pins,
                        "NAME=PID[,PID...][:video|audio|data]: an output pin carrying these PIDs (repeatable); "
                        "without it, one pin per elementary stream of the first program, named by PID");
    command->add_option("--program", options->program, "Without --pin: the program whose streams get pins");
    command->add_option("-o,--output", options->outputDir, "Folder for the .es files (default ./out)");
    command->add_option("--chunk", options->chunkSize, "Bytes per input sample (default 1316, 7 packets as IP carries them)")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_flag("--fast", options->fast,
                      "Push as fast as the graph takes the samples, with the graph paused: every PES is due at "
                      "once and carries no time (start 0)");
    command->add_option("--duration", options->duration, "Stop after this many seconds")
        ->check(CLI::PositiveNumber);
    command->add_option("--clock", options->clock, "Graph clock: demux (the filter's own, default), system or none")
        ->check(CLI::IsMember({"demux", "system", "none"}));
    command->add_flag("--discard", options->discard, "Count what arrives but write no files");
    command->add_flag("--json", options->json, "Print one JSON document instead of the summary");
    AddLiveOptions(*command, options->live, false);
    command->callback([options, &out, &exitCode] { exitCode = RunPlay(*options, out); });
}

int RunPlay(const PlayOptions& options, StdoutSink& out)
{
    const ComApartment com;
    LiveOptions live = options.live;
    live.durationSeconds = options.duration;
    ByteSource source(options.input, live);
    if (!source.IsOpen())
        throw CommandError(source.Error());
    // The plan is final once every PMT is in and every PID it maps has had packets: more of
    // the head could only add PIDs that no pin maps.
    const auto planFinal = [&options, &source](const StreamSurvey& found) {
        if (!found.inSync || !AllPmtsKnown(found))
            return false;
        try {
            for (const PinPlan& plan : PlanPins(options, found, source.Name())) {
                for (const uint32_t pid : plan.pids) {
                    if (found.pidKinds.count(pid) == 0)
                        return false;
                }
            }
        } catch (const CommandError&) {
            return false; // the whole head decides, and names what is wrong
        }
        return true;
    };
    const StreamSurvey survey = Survey(source, !options.fast, planFinal);
    if (!survey.inSync)
        throw CommandError("no transport-stream sync found in " + source.Name());
    const std::vector<PinPlan> plans = PlanPins(options, survey, source.Name());

    if (!options.discard) {
        std::error_code ec;
        std::filesystem::create_directories(options.outputDir, ec);
        if (ec)
            throw CommandError("cannot create " + options.outputDir + ": " + ec.message());
    }
    const auto boundaries = options.fast ? PinSink::PesBoundaries::Notified : PinSink::PesBoundaries::Expected;
    std::vector<std::unique_ptr<PinSink>> sinks;
    for (const PinPlan& plan : plans) {
        sinks.push_back(std::make_unique<PinSink>(plan.name, plan.pids, plan.type, boundaries));
        if (!options.discard &&
            !sinks.back()->OpenOutput((std::filesystem::path(options.outputDir) / (plan.name + ".es")).string()))
            throw CommandError(sinks.back()->Error());
    }

    const int32_t bitrate = survey.muxRate > 0 ? survey.muxRate : kFallbackBitrate;
    if (!options.fast && survey.muxRate <= 0 && !options.json && !source.IsLive())
        std::cerr << "skts: no usable PCRs in the first 8 MiB; pacing at " << bitrate << " bit/s\n";

    FlowProvider provider;
    EndNotice endNotice;
    std::unique_ptr<ReferenceEngine> reference;
    PlayInput::Options inputOptions;
    inputOptions.onFinished = [&endNotice] { endNotice.Notify(); };
    if (options.fast) {
        inputOptions.gate = [&provider] { return provider.WaitForRoom(kFastRecordsInFlight); };
        inputOptions.closingByte = true;
    } else {
        inputOptions.bitrate = source.IsLive() ? 0 : bitrate; // the network paces a live input
        reference = std::make_unique<ReferenceEngine>(sinks);
        inputOptions.observe = [&reference](const uint8_t* data, size_t size) { reference->Feed(data, size); };
    }
    if (options.fast)
        source.ReadAheadOnAThread(); // the kernel's copying, off the streaming thread
    PlayInput input(source, inputOptions);
    provider.OnDrained([&input, &endNotice] {
        if (input.Finished())
            endNotice.Notify();
    });

    double seconds = 0;
    {
        PlayGraph graph(options, input, sinks, options.fast ? &provider : nullptr, endNotice);
        seconds = graph.Play();
    }
    provider.OnDrained({}); // the graph and its threads are gone: no record is released any more
    if (!input.Error().empty())
        throw CommandError(input.Error());
    for (const auto& sink : sinks) {
        if (!sink->Finish())
            throw CommandError(sink->Error());
    }

    nlohmann::json pins = nlohmann::json::array();
    uint64_t offsetChanges = 0;
    for (const auto& sink : sinks) {
        pins.push_back(sink->Report());
        offsetChanges = std::max(offsetChanges, pins.back()["pcr_offset_changes"].get<uint64_t>());
    }
    const nlohmann::json report = {{"duration_s", std::round(seconds * 1000.0) / 1000.0},
                                   {"mode", options.fast ? "fast" : "real time"},
                                   {"bitrate", options.fast ? 0 : bitrate},
                                   {"clock", options.clock},
                                   {"bytes", input.BytesRead()},
                                   {"pcr_offset_changes", offsetChanges},
                                   {"av_offset_error_ms", AvOffsetError(sinks)},
                                   {"pins", std::move(pins)}};
    if (options.json)
        out.Stream() << report.dump(1) << '\n';
    else
        PrintReport(report, out.Stream());
    return LiveRunExitCode(source);
}

} // namespace Skts
