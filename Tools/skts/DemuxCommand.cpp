#include "DemuxCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "ByteSource.h"
#include "CommandError.h"
#include "Demuxer.h"
#include "SkTsInfo.h"
#include "SkTsTypes.h"
#include "TableKey.h"

namespace Skts {

namespace {

constexpr int64_t kNoPts = std::numeric_limits<int64_t>::min();

// Where the payloads of one PID go, and what was seen of them.
struct PidOutput {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    uint64_t pes = 0;
    uint64_t bytes = 0;
    uint64_t dataLost = 0;
    int64_t firstPts = kNoPts;
    int64_t lastPts = kNoPts;
    bool writeFailed = false;
};

class DemuxSession {
public:
    explicit DemuxSession(std::filesystem::path outputDir) : outputDir_(std::move(outputDir)) {}

    HRESULT Init()
    {
        const HRESULT hr = engine_.Init();
        if (FAILED(hr))
            return hr;
        engine_.Analyser()->SetSiStandard(SklibTs::kSiDvb);
        engine_.Analyser()->AddAllTablesCallback(&DemuxSession::OnTable, this);
        return S_OK;
    }

    void Map(uint32_t pid)
    {
        if (engine_.Entry(pid) != nullptr)
            return;
        engine_.AddPid(pid, &DemuxSession::OnPes, this);
        PidOutput& output = outputs_[pid];
        char name[16];
        std::snprintf(name, sizeof name, "0x%04x.es", pid);
        const auto path = outputDir_ / name;
        output.file.reset(std::fopen(path.string().c_str(), "wb"));
        if (!output.file)
            throw CommandError("cannot write " + path.string());
    }

    void MapAllPrograms(bool enabled) { autoMap_ = enabled; }
    // A PES still being assembled when the input ends is incomplete and is not written.
    void Process(const uint8_t* data, uint32_t size) { engine_.ProcessSample(data, static_cast<int32_t>(size)); }

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
                {"pids", std::move(pids)}};
    }

    bool WriteFailed() const
    {
        for (const auto& [pid, output] : outputs_)
            if (output.writeFailed)
                return true;
        return false;
    }

private:
    static void OnPes(uint32_t pid, DsDemux::PidEntry& entry, uint32_t, void* context)
    {
        auto* self = static_cast<DemuxSession*>(context);
        self->Record(pid, *entry.pes);
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
        output.bytes += size;
        if (std::fwrite(payload, 1, size, output.file.get()) != size)
            output.writeFailed = true;
    }

    // Like an application: every elementary PID of a program is mapped once its PMT is known.
    static void OnTable(void* context, const SklibTs::TableKey* key, SklibTs::SkTable*, uint16_t)
    {
        auto* self = static_cast<DemuxSession*>(context);
        if (!self->autoMap_ || key->table_id != 0x02)
            return;
        const auto program = self->engine_.Analyser()->programs.find(static_cast<int32_t>(key->table_id_extension));
        if (program == self->engine_.Analyser()->programs.end())
            return;
        for (const auto& stream : program->second.streams)
            self->Map(stream.elementary_pid);
        self->engine_.UpdatePcrPids();
    }

    std::filesystem::path outputDir_;
    DsDemux::Demuxer engine_;
    std::map<uint32_t, PidOutput> outputs_;
    bool autoMap_ = false;
};

uint32_t ParsePid(const std::string& text)
{
    size_t used = 0;
    unsigned long value = 0;
    try {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        value = std::stoul(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
        used += hex ? 2 : 0;
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value > 0x1FFF)
        throw CommandError("bad PID '" + text + "' (0 to 8191, decimal or hex with 0x)");
    return static_cast<uint32_t>(value);
}

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

void AddDemuxCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<DemuxOptions>();
    CLI::App* command = app.add_subcommand(
        "demux",
        "Demultiplex PES payloads of PIDs to DIR/0xNNNN.es. Packet times follow the engine's bit rate: from the "
        "wall clock at first (a file has no arrival clock, so that measures reading speed), then from the PCRs "
        "once a PCR PID is stable.");
    command->add_option("input", options->input, "Transport-stream file, or - for standard input")->required();
    command->add_option("-o,--output", options->outputDir, "Folder for the .es files (default ./out)");
    command->add_option("--pid", options->pids,
                        "Map this PID from the first byte (decimal, or hex with 0x); repeatable. Without it every "
                        "elementary PID of every program is mapped once its PMT is known");
    command->add_option("--chunk", options->chunkSize, "Bytes handed to the engine per sample (default 65536)")
        ->check(CLI::Range(size_t{1}, size_t{64} << 20));
    command->add_flag("--json", options->json, "Print one JSON document instead of the summary");
    command->callback([options, &exitCode] { exitCode = RunDemux(*options); });
}

int RunDemux(const DemuxOptions& options)
{
    std::vector<uint32_t> pids;
    for (const std::string& text : options.pids)
        pids.push_back(ParsePid(text));
    ByteSource source(options.input);
    if (!source.IsOpen())
        throw CommandError(source.Error());
    std::error_code ec;
    std::filesystem::create_directories(options.outputDir, ec);
    if (ec)
        throw CommandError("cannot create " + options.outputDir + ": " + ec.message());

    DemuxSession session(options.outputDir);
    if (FAILED(session.Init()))
        throw CommandError("the demultiplexer engine could not start");
    for (uint32_t pid : pids)
        session.Map(pid);
    session.MapAllPrograms(pids.empty());

    const int64_t bytesRead =
        source.ReadAll(options.chunkSize, [&](const uint8_t* data, uint32_t size) { session.Process(data, size); });
    if (bytesRead < 0)
        throw CommandError(source.Error());
    if (bytesRead == 0)
        throw CommandError(source.Name() + " is empty");
    if (session.WriteFailed())
        throw CommandError("writing to " + options.outputDir + " failed");

    const nlohmann::json report = session.Report();
    if (report["packets"].get<int64_t>() == 0)
        throw CommandError("no transport-stream sync found in " + source.Name());
    if (options.json)
        std::cout << report.dump(1) << '\n';
    else
        PrintReport(report, std::cout);
    return 0;
}

} // namespace Skts
