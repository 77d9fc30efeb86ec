// analyse_ts FILE: runs a transport-stream file through the toolkit's analyser and prints each
// program when its PMT arrives (again when it changes) and each conformance report when it is
// raised, then a summary.
#include <SkTsInfo.h>
#include <SkTsPacketInput.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPmtTableId = 0x02;

// Texts from the stream are wide strings; this example prints their ASCII part.
std::string Ascii(const std::wstring& text)
{
    std::string out;
    for (const wchar_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

struct Session {
    SklibTs::SkTsInfo* analyser = nullptr;
    std::map<uint32_t, bool> programsSeen; // by program number
    std::map<uint32_t, uint32_t> counts;   // by indicator: reports so far, as the analyser counts them
};

void PrintProgram(const SklibTs::Program& program)
{
    std::printf("program %d: PMT PID 0x%04X, PCR PID 0x%04X\n", program.program_number,
                static_cast<unsigned>(program.pmt_pid), static_cast<unsigned>(program.pcr_pid));
    for (const SklibTs::ElementaryStream& stream : program.streams)
        std::printf("  stream PID 0x%04X type 0x%02X%s%s\n", stream.elementary_pid,
                    static_cast<unsigned>(stream.stream_type), stream.language.empty() ? "" : " language ",
                    stream.language.c_str());
}

// Called for every complete table, on the thread that writes into the packet input and with the
// analyser's lock held, so its program map can be read here.
void OnTable(void* context, const SklibTs::TableKey* key, SklibTs::SkTable*, uint16_t changed)
{
    auto* session = static_cast<Session*>(context);
    if (key->table_id != kPmtTableId)
        return;
    bool& seen = session->programsSeen[key->table_id_extension];
    if (seen && !changed)
        return;
    seen = true;
    const auto program = session->analyser->programs.find(static_cast<int32_t>(key->table_id_extension));
    if (program != session->analyser->programs.end())
        PrintProgram(program->second);
}

void OnReport(void* context, uint32_t index, const SklibTs::IndicatorRecord& record)
{
    auto* session = static_cast<Session*>(context);
    session->counts[index] = record.count;
    std::printf("indicator %u %s at %.3f ms", index, SklibTs::IndicatorName(index),
                static_cast<double>(record.time) / SklibTs::kTicksPerMillisecond);
    if (record.location.pid != SklibTs::kNoPid)
        std::printf(", PID 0x%04X", record.location.pid);
    std::printf(": %s\n", Ascii(record.message).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: analyse_ts FILE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "analyse_ts: cannot open %s\n", argv[1]);
        return 2;
    }

    // The analyser and the packet input that feeds it; both are deleted through their interfaces.
    const std::unique_ptr<SklibTs::SkTsInfo> analyser(SklibTs::CreateTsInfo());
    // 0: packet times follow the default 10 Mbit/s, as a file has no arrival clock.
    const std::unique_ptr<SklibTs::SkTsPacketInput> input(SklibTs::CreateTsPacketInput(analyser.get(), 0));
    Session session{analyser.get(), {}, {}};
    analyser->AddAllTablesCallback(&OnTable, &session);
    const uint32_t everyIndicator = (1u << SklibTs::kIndicatorCount) - 1;
    analyser->AddIndicatorReportCallback(everyIndicator, &OnReport, &session);

    std::vector<char> chunk(64 * 1024);
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0)
        input->Write(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<uint32_t>(file.gcount()));

    // Between writes the analyser's public data is read under its lock.
    const SklibTs::SkTsInfoLock lock(*analyser);
    std::printf("summary: %llu packets of %u bytes, %zu programs, in sync %s\n",
                static_cast<unsigned long long>(analyser->packetsProcessed), analyser->packetSize,
                analyser->programs.size(), analyser->inSync ? "yes" : "no");
    for (const auto& [index, count] : session.counts)
        std::printf("summary: indicator %s raised %u times\n", SklibTs::IndicatorName(index), count);
    return 0;
}
