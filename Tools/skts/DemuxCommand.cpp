#include "DemuxCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "AnalyserTotals.h"
#include "ByteSource.h"
#include "CommandError.h"
#include "CommandOptions.h"
#include "PidText.h"
#include "Demuxer.h"
#include "OutputFiles.h"
#include "ProgressDisplay.h"
#include "SkTsInfo.h"
#include "SkTsTypes.h"
#include "StdoutSink.h"
#include "TableKey.h"

namespace Skts {

namespace {

constexpr int64_t kNoPts = std::numeric_limits<int64_t>::min();

// What was seen of the payloads of one PID.
struct PidOutput {
    uint64_t pes = 0;
    uint64_t bytes = 0;
    uint64_t dataLost = 0;
    int64_t firstPts = kNoPts;
    int64_t lastPts = kNoPts;
};

class DemuxSession {
public:
    explicit DemuxSession(const std::filesystem::path& outputDir) : files_(outputDir) {}

    HRESULT Init()
    {
        const HRESULT hr = engine_.Init();
        if (FAILED(hr))
            return hr;
        SklibTs::SkTsInfo& analyser = *engine_.Analyser();
        analyser.SetSiStandard(SklibTs::kSiDvb);
        totals_ = std::make_unique<AnalyserTotals>(analyser);
        analyser.AddAllTablesCallback(&DemuxSession::OnTable, this);
        analyser.AddPacketCallback(&DemuxSession::OnPacket, this);
        return S_OK;
    }

    // False when its output file cannot be made (FilesError() says why).
    bool Map(uint32_t pid)
    {
        if (engine_.Entry(pid) != nullptr)
            return true;
        engine_.AddPid(pid, &DemuxSession::OnPes, this);
        outputs_[pid];
        return files_.Create(pid);
    }

    void MapAllPrograms(bool enabled) { autoMap_ = enabled; }
    // A PES still being assembled when the input ends is incomplete and is not written.
    // False once an output failed: the rest of the input is not worth reading.
    bool Process(const uint8_t* data, uint32_t size)
    {
        engine_.ProcessSample(data, static_cast<int32_t>(size));
        return !files_.Failed();
    }

    bool Commit() { return files_.Commit(); }
    std::string FilesError() const { return files_.Error(); }
    int64_t Bitrate() const { return engine_.BitRate(); }

    nlohmann::json Report() const
    {
        nlohmann::json pids = nlohmann::json::array();
        for (const auto& [pid, output] : outputs_) {
            const auto pts = [](int64_t v) { return v == kNoPts ? nlohmann::json(nullptr) : nlohmann::json(v); };
            pids.push_back({{"pid", pid},
                            {"pes", output.pes},
                            {"bytes", output.bytes},
                            {"first_pts", pts(output.firstPts)},
                            {"last_pts", pts(output.lastPts)},
                            {"data_lost", output.dataLost}});
        }
        const uint32_t timing = engine_.TimingPcrPid();
        return {{"bitrate", engine_.BitRate()},
                {"timing_pcr_pid", timing == DsDemux::Demuxer::kNoPid ? nlohmann::json(nullptr) : nlohmann::json(timing)},
                {"time_base_locked", engine_.TimeBaseLocked()},
                {"packets", engine_.PacketCount()},
                {"analysed_packets", totals_->Packets()},
                {"pids", std::move(pids)}};
    }

    // Why a stream the packet input found in sync gave nothing to write; empty when it gave some.
    std::string NothingDemultiplexed() const
    {
        uint64_t pes = 0;
        for (const auto& [pid, output] : outputs_)
            pes += output.pes;
        const uint64_t packets = totals_->Packets();
        if (pes > 0 || packets == 0)
            return {};
        std::string why;
        const uint64_t stopped = packets - delivered_;
        if (delivered_ == 0) {
            const uint64_t transportErrors = totals_->TransportErrors();
            const uint64_t syncErrors = totals_->SyncByteErrors();
            const uint64_t scrambled = stopped - std::min(stopped, transportErrors + syncErrors);
            if (scrambled == packets)
                why = "every packet is scrambled";
            else if (transportErrors == packets)
                why = "every packet has the transport_error_indicator set";
            else
                why = "no packet is usable (" + std::to_string(scrambled) + " scrambled, " +
                      std::to_string(transportErrors) + " with the transport_error_indicator, " +
                      std::to_string(syncErrors) + " without a sync byte)";
        } else if (outputs_.empty()) {
            why = "no program was found (no PAT and PMT) to map PIDs from; name them with --pid";
        } else {
            why = "the mapped PIDs carried no complete PES packet";
            if (stopped > 0)
                why += " (" + std::to_string(stopped) + " packets were scrambled or damaged)";
        }
        return "in sync, " + std::to_string(packets) + " packets, nothing demultiplexed: " + why;
    }

private:
    static void OnPes(uint32_t pid, DsDemux::PidEntry& entry, uint32_t, void* context)
    {
        auto* self = static_cast<DemuxSession*>(context);
        self->Record(pid, *entry.pes);
    }

    static void OnPacket(void* context, const uint8_t*, uint32_t, const int64_t*)
    {
        ++static_cast<DemuxSession*>(context)->delivered_;
    }

    void Record(uint32_t pid, const DsDemux::PesData& pes)
    {
        PidOutput& output = outputs_[pid];
        uint32_t size = 0;
        const uint8_t* payload = pes.pes.GetPayload(size);
        ++output.pes;
        if (pes.dataLost)
            ++output.dataLost;
        if (pes.pts != kNoPts) {
            if (output.firstPts == kNoPts)
                output.firstPts = pes.pts;
            output.lastPts = pes.pts;
        }
        if (payload == nullptr || size == 0)
            return;
        if (files_.Write(pid, payload, size))
            output.bytes += size;
    }

    // Like an application: every elementary PID of a program is mapped once its PMT is known.
    // Called by the analyser, so nothing may be thrown from here: a failure stays in files_.
    static void OnTable(void* context, const SklibTs::TableKey* key, SklibTs::SkTable*, uint16_t)
    {
        auto* self = static_cast<DemuxSession*>(context);
        if (!self->autoMap_ || key->table_id != 0x02 || self->files_.Failed())
            return;
        const auto program = self->engine_.Analyser()->programs.find(static_cast<int32_t>(key->table_id_extension));
        if (program == self->engine_.Analyser()->programs.end())
            return;
        for (const auto& stream : program->second.streams) {
            if (!self->Map(stream.elementary_pid))
                return;
        }
        self->engine_.UpdatePcrPids();
    }

    OutputFiles files_;
    DsDemux::Demuxer engine_;
    std::unique_ptr<AnalyserTotals> totals_;
    std::map<uint32_t, PidOutput> outputs_;
    uint64_t delivered_ = 0;
    bool autoMap_ = false;
};

std::string FormatPts(const nlohmann::json& value)
{
    if (value.is_null())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(value.get<int64_t>()) / static_cast<double>(SklibTs::kPtsClockHz));
    return text;
}

void PrintReport(const nlohmann::json& report, std::ostream& out)
{
    char line[200];
    std::snprintf(line, sizeof line, "Engine: bit rate %.3f Mbit/s, timing PCR PID %s, time base %s\n",
                  report["bitrate"].get<double>() / 1e6,
                  report["timing_pcr_pid"].is_null() ? "none"
                                                     : std::to_string(report["timing_pcr_pid"].get<int>()).c_str(),
                  report["time_base_locked"].get<bool>() ? "locked" : "not locked");
    out << line;
    out << "     PID        PES        bytes    first PTS     last PTS  data lost\n";
    for (const auto& pid : report["pids"]) {
        std::snprintf(line, sizeof line, "  0x%04X %10llu %12llu %12s %12s %10llu\n", pid["pid"].get<int>(),
                      static_cast<unsigned long long>(pid["pes"].get<uint64_t>()),
                      static_cast<unsigned long long>(pid["bytes"].get<uint64_t>()), FormatPts(pid["first_pts"]).c_str(),
                      FormatPts(pid["last_pts"]).c_str(), static_cast<unsigned long long>(pid["data_lost"].get<uint64_t>()));
        out << line;
    }
}

} // namespace

void AddDemuxCommand(CLI::App& app, StdoutSink& out, int& exitCode)
{
    auto options = std::make_shared<DemuxOptions>();
    CLI::App* command = app.add_subcommand(
        "demux",
        "Demultiplex PES payloads of PIDs to DIR/0xNNNN.es. Packet times follow the engine's bit rate: from the "
        "wall clock at first (a file has no arrival clock, so that measures reading speed), then from the PCRs "
        "once a PCR PID is stable.");
    command->add_option("input", options->input, kInputHelp)->required();
    command->add_option("-o,--output", options->outputDir, "Folder for the .es files (default ./out)");
    command->add_option("--pid", options->pids,
                        "Map this PID from the first byte (decimal, or hex with 0x); repeatable. Without it every "
                        "elementary PID of every program is mapped once its PMT is known");
    command->add_option("--chunk", options->chunkSize, "Bytes handed to the engine per sample (default 65536)")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_flag("--json", options->json, "Print one JSON document instead of the summary");
    AddLiveOptions(*command, options->live, true);
    AddQuietFlag(*command, options->quiet);
    command->callback([options, &out, &exitCode] { exitCode = RunDemux(*options, out); });
}

int RunDemux(const DemuxOptions& options, StdoutSink& sink)
{
    std::vector<uint32_t> pids;
    for (const std::string& text : options.pids)
        pids.push_back(ParsePid(text));
    ByteSource source(options.input, options.live);
    if (!source.IsOpen())
        throw CommandError(source.Error());
    // Reading, demultiplexing and writing each take a third of the time: the reading and the
    // writing are done on threads of their own.
    source.ReadAheadOnAThread();
    std::error_code ec;
    std::filesystem::create_directories(options.outputDir, ec);
    if (ec)
        throw CommandError("cannot create " + options.outputDir + ": " + ec.message());

    // On any failure below the session's files are removed with it.
    DemuxSession session(options.outputDir);
    if (FAILED(session.Init()))
        throw CommandError("the demultiplexer engine could not start");
    for (uint32_t pid : pids) {
        if (!session.Map(pid))
            throw CommandError(session.FilesError());
    }
    session.MapAllPrograms(pids.empty());

    ProgressDisplay progress(std::cerr, !options.quiet && ProgressDisplay::StderrIsTerminal(), source.Size());
    uint64_t bytesSoFar = 0;
    const int64_t bytesRead = source.ReadAll(options.chunkSize, [&](const uint8_t* data, uint32_t size) {
        bytesSoFar += size;
        if (const LiveSource* live = source.Live())
            progress.Live(live->ElapsedSeconds(), session.Bitrate(), 0);
        else
            progress.File(bytesSoFar);
        return session.Process(data, size);
    });
    progress.Finish();
    if (!session.FilesError().empty())
        throw CommandError(session.FilesError());
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + " is empty");

    const nlohmann::json report = session.Report();
    if (report["analysed_packets"].get<uint64_t>() == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());
    if (const std::string nothing = session.NothingDemultiplexed(); !nothing.empty())
        throw CommandError(nothing);
    if (!session.Commit())
        throw CommandError(session.FilesError());
    std::ostream& out = sink.Stream();
    if (options.json)
        out << report.dump(1) << '\n';
    else
        PrintReport(report, out);
    return LiveRunExitCode(source);
}

} // namespace Skts
