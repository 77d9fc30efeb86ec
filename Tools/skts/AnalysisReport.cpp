#include "AnalysisReport.h"

#include <cstdio>
#include <string>

#include "SkTsInfo.h"

namespace Skts {

namespace {

std::string FormatBitrate(int64_t bitsPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f Mbit/s", static_cast<double>(bitsPerSecond) / 1e6);
    return text;
}

} // namespace

nlohmann::json BuildAnalysisReport(const SklibTs::SkTsInfo& analyser, int64_t bytesRead)
{
    nlohmann::json report;
    report["bytes"] = bytesRead;
    report["packet_size"] = analyser.packetSize;
    report["packets"] = analyser.packetsProcessed;
    report["in_sync"] = analyser.inSync;
    report["sync_byte_errors"] = analyser.syncByteErrors;
    report["transport_errors"] = analyser.transportErrors;
    report["bitrate"] = analyser.bitrate;

    nlohmann::json pids = nlohmann::json::array();
    for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
        const SklibTs::SkPidInfo* info = analyser.pidInfo[pid];
        if (info == nullptr)
            continue;
        pids.push_back({
            {"pid", pid},
            {"packets", info->packetCount},
            {"bitrate", info->bitrate},
            {"min_bitrate", info->minBitrate},
            {"max_bitrate", info->maxBitrate},
        });
    }
    report["pids"] = std::move(pids);
    return report;
}

void PrintAnalysisReport(const nlohmann::json& report, std::ostream& out)
{
    char line[160];
    out << "Transport stream\n";
    std::snprintf(line, sizeof line, "  packet size       %d bytes\n", report["packet_size"].get<int>());
    out << line;
    out << "  packets           " << report["packets"].get<uint64_t>() << '\n';
    out << "  in sync           " << (report["in_sync"].get<bool>() ? "yes" : "no") << '\n';
    out << "  sync byte errors  " << report["sync_byte_errors"].get<uint32_t>() << '\n';
    out << "  transport errors  " << report["transport_errors"].get<uint32_t>() << '\n';
    out << "  bit rate          " << FormatBitrate(report["bitrate"].get<int64_t>()) << '\n';

    out << "\nPIDs\n";
    out << "     PID            packets        bit rate     min bit rate     max bit rate\n";
    for (const auto& pid : report["pids"]) {
        const uint32_t value = pid["pid"].get<uint32_t>();
        std::snprintf(line, sizeof line, "  0x%04X %5u %10llu %15s %16s %16s\n", value, value,
                      static_cast<unsigned long long>(pid["packets"].get<uint64_t>()),
                      FormatBitrate(pid["bitrate"].get<int64_t>()).c_str(),
                      FormatBitrate(pid["min_bitrate"].get<int64_t>()).c_str(),
                      FormatBitrate(pid["max_bitrate"].get<int64_t>()).c_str());
        out << line;
    }
}

} // namespace Skts
