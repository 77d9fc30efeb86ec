#include "AnalysisReport.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "EsDescription.h"
#include "SkTsInfo.h"
#include "TerminalText.h"
#include "Utf8Text.h"
#include "StreamKind.h"

namespace Skts {

// Service and network names are wide strings; JSON and the terminal get valid UTF-8.
std::string ToUtf8(const std::wstring& text) { return SklibTs::WideToUtf8(text); }

namespace {

// The stream properties the parsers found, each key only when its flag is set.
nlohmann::json VideoJson(const SklibTs::VideoStreamInfo& v)
{
    using V = SklibTs::VideoStreamInfo;
    nlohmann::json j = nlohmann::json::object();
    if (v.Has(V::kFlagSize)) {
        j["width"] = v.width;
        j["height"] = v.height;
    }
    if (v.Has(V::kFlagDisplaySize)) {
        j["display_width"] = v.displayWidth;
        j["display_height"] = v.displayHeight;
    }
    if (v.Has(V::kFlagChromaFormat))
        j["chroma_format"] = v.chromaFormat;
    if (v.Has(V::kFlagAspect)) {
        j["aspect_x"] = v.aspectX;
        j["aspect_y"] = v.aspectY;
    }
    if (v.Has(V::kFlagPictureAspect))
        j["picture_aspect"] = {v.pictureAspect.numerator, v.pictureAspect.denominator};
    if (v.Has(V::kFlagFrameRate) && std::isfinite(v.frameRate))
        j["frame_rate"] = v.frameRate;
    if (v.Has(V::kFlagInterlaced))
        j["interlaced"] = v.interlaced != 0;
    if (v.Has(V::kFlagBitDepth)) {
        j["bit_depth_luma"] = v.bitDepthLuma;
        j["bit_depth_chroma"] = v.bitDepthChroma;
    }
    if (v.Has(V::kFlagCaptions))
        j["cea708"] = v.cea708Captions;
    return j;
}

nlohmann::json AudioJson(const SklibTs::AudioStreamInfo& a)
{
    using A = SklibTs::AudioStreamInfo;
    nlohmann::json j = nlohmann::json::object();
    if (a.Has(A::kFlagBitRate))
        j["bitrate"] = a.bitRate;
    if (a.Has(A::kFlagSampleRate))
        j["sample_rate"] = a.sampleRate;
    if (a.Has(A::kFlagChannelMode))
        j["channel_mode"] = a.channelMode;
    if (a.Has(A::kFlagLfe))
        j["lfe"] = a.lfe != 0;
    if (a.Has(A::kFlagMpegLayer))
        j["mpeg_layer"] = a.mpegLayer;
    if (a.Has(A::kFlagBitstreamId))
        j["bitstream_id"] = a.bitstreamId;
    if (a.Has(A::kFlagBitstreamMode))
        j["bitstream_mode"] = a.bitstreamMode;
    if (a.Has(A::kFlagAacProfile))
        j["aac_profile"] = a.aacProfile;
    if (a.Has(A::kFlagFrameLayout)) {
        j["samples_per_frame"] = a.samplesPerFrame;
        j["channels"] = a.channelCount;
    }
    if (a.Has(A::kFlagDialogueLevel))
        j["dialogue_level"] = a.dialogueLevel;
    return j;
}

} // namespace

std::string FormatBitrate(int64_t bitsPerSecond)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f Mbit/s", static_cast<double>(bitsPerSecond) / 1e6);
    return text;
}

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
    report["transport_stream_id"] = analyser.transportStreamId;
    report["network_name"] = ToUtf8(analyser.network.networkName);

    nlohmann::json programs = nlohmann::json::array();
    for (const auto& [number, program] : analyser.programs) {
        nlohmann::json streams = nlohmann::json::array();
        for (const SklibTs::ElementaryStream& stream : program.streams) {
            const SklibTs::SkPidInfo* info = analyser.pidInfo[stream.elementary_pid & 0x1FFF];
            streams.push_back({
                {"pid", stream.elementary_pid},
                {"stream_type", stream.stream_type},
                {"kind", info ? info->streamKind : stream.stream_type},
                {"kind_name", SklibTs::StreamKindName(info ? info->streamKind : stream.stream_type)},
                {"language", SklibTs::ValidUtf8(stream.language)},
            });
        }
        nlohmann::json ca = nlohmann::json::array();
        for (const SklibTs::CaEntry& entry : program.caEntries)
            ca.push_back({{"ca_system_id", entry.ca_system_id}, {"ca_pid", entry.ca_pid}});
        programs.push_back({
            {"program_number", number},
            {"pmt_pid", program.pmt_pid},
            {"pcr_pid", program.pcr_pid},
            {"service_type", program.service_type},
            {"service_name", ToUtf8(program.serviceName)},
            {"provider_name", ToUtf8(program.providerName)},
            {"bitrate", program.bitrate},
            {"ca", std::move(ca)},
            {"streams", std::move(streams)},
        });
    }
    report["programs"] = std::move(programs);

    nlohmann::json pids = nlohmann::json::array();
    for (uint32_t pid = 0; pid < SklibTs::kPidCount; ++pid) {
        const SklibTs::SkPidInfo* info = analyser.pidInfo[pid];
        if (info == nullptr)
            continue;
        nlohmann::json entry = {
            {"pid", pid},
            {"packets", info->packetCount},
            {"pcr_count", info->pcrCount},
            {"bitrate", info->bitrate},
            {"min_bitrate", info->minBitrate},
            {"max_bitrate", info->maxBitrate},
            {"stream_kind", info->streamKind},
            {"programs", nlohmann::json(std::vector<int32_t>(info->programs.begin(), info->programs.end()))},
        };
        if (const SklibTs::VideoStreamInfo* video = info->es.Video()) {
            entry["video"] = VideoJson(*video);
            entry["description"] = SklibTs::ValidUtf8(SklibTs::DescribeVideo(*video, info->streamKind));
        } else if (const SklibTs::AudioStreamInfo* audio = info->es.Audio()) {
            entry["audio"] = AudioJson(*audio);
            entry["description"] = SklibTs::ValidUtf8(SklibTs::DescribeAudio(*audio, info->streamKind));
        }
        pids.push_back(std::move(entry));
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
    if (report.value("bytes_outside_packets", uint64_t{0}) > 0)
        out << "  bytes not in packets " << report["bytes_outside_packets"].get<uint64_t>() << '\n';
    out << "  in sync           " << (report["in_sync"].get<bool>() ? "yes" : "no") << '\n';
    out << "  sync byte errors  " << report["sync_byte_errors"].get<uint64_t>() << '\n';
    out << "  transport errors  " << report["transport_errors"].get<uint64_t>() << '\n';
    const uint64_t changes = report.value("transport_stream_change_count", uint64_t{0});
    if (changes > 0) {
        const auto& first = report["transport_stream_changes"][0];
        out << "  stream changes    " << changes << " (transport_stream_id " << first["old_transport_stream_id"].get<int>()
            << " -> " << first["new_transport_stream_id"].get<int>() << " at packet " << first["packet"].get<uint64_t>()
            << (changes > 1 ? ", ..." : "") << "); programs and PIDs are those after the last change\n";
    }
    if (report.value("tables_dropped", uint64_t{0}) > 0)
        out << "  tables dropped    " << report["tables_dropped"].get<uint64_t>()
            << " (the table store was full: the oldest went first)\n";
    out << "  bit rate          " << FormatBitrate(report["bitrate"].get<int64_t>()) << '\n';
    const int tsid = report["transport_stream_id"].get<int>();
    out << "  transport stream  " << (tsid < 0 ? std::string("unknown") : std::to_string(tsid)) << '\n';
    if (!report["network_name"].get<std::string>().empty())
        out << "  network           " << ForTerminal(report["network_name"].get<std::string>()) << '\n';

    for (const auto& program : report["programs"]) {
        std::snprintf(line, sizeof line, "\nProgram %d  PMT 0x%04X  PCR ", program["program_number"].get<int>(),
                      program["pmt_pid"].get<int>());
        out << line;
        const int pcrPid = program["pcr_pid"].get<int>();
        if (pcrPid < 0) {
            out << "none";
        } else {
            std::snprintf(line, sizeof line, "0x%04X", pcrPid);
            out << line;
        }
        out << "  " << FormatBitrate(program["bitrate"].get<int64_t>()) << '\n';
        if (!program["service_name"].get<std::string>().empty()) {
            out << "  service \"" << ForTerminal(program["service_name"].get<std::string>()) << "\" from \""
                << ForTerminal(program["provider_name"].get<std::string>()) << "\" (type " << program["service_type"].get<int>()
                << ")\n";
        }
        for (const auto& ca : program["ca"]) {
            std::snprintf(line, sizeof line, "  CA system 0x%04X on PID 0x%04X\n", ca["ca_system_id"].get<int>(),
                          ca["ca_pid"].get<int>());
            out << line;
        }
        for (const auto& stream : program["streams"]) {
            std::snprintf(line, sizeof line, "  PID 0x%04X  stream_type 0x%02X  %-16s %s\n", stream["pid"].get<int>(),
                          stream["stream_type"].get<int>(), stream["kind_name"].get<std::string>().c_str(),
                          ForTerminal(stream["language"].get<std::string>()).c_str());
            out << line;
        }
    }

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
        if (pid.contains("description"))
            out << "         " << ForTerminal(pid["description"].get<std::string>()) << '\n';
    }
}

void PrintLiveStats(const nlohmann::json& live, std::ostream& out)
{
    out << "\nNetwork input " << ForTerminal(live["address"].get<std::string>()) << '\n';
    out << "  datagrams         " << live["datagrams"].get<uint64_t>() << " (" << live["bytes"].get<uint64_t>()
        << " bytes of transport stream" << (live["rtp"].get<bool>() ? ", in RTP" : "") << ")\n";
    if (live["rtp"].get<bool>()) {
        out << "  RTP sequence gaps " << live["rtp_sequence_gaps"].get<uint64_t>() << " ("
            << live["rtp_packets_lost"].get<uint64_t>() << " datagrams lost, "
            << live["rtp_out_of_order"].get<uint64_t>() << " out of order)\n";
    }
    if (live["truncated_datagrams"].get<uint64_t>() > 0)
        out << "  truncated         " << live["truncated_datagrams"].get<uint64_t>() << " datagrams\n";
    out << "  receive buffer    " << live["receive_buffer_bytes"].get<int64_t>() << " bytes granted\n";
    out << "  arrival times     " << (live["kernel_timestamps"].get<bool>() ? "kernel time stamps" : "time of receipt")
        << '\n';
    out << "  ran               " << live["elapsed_s"].get<double>() << " s, ended by "
        << live["end"].get<std::string>() << '\n';
}

} // namespace Skts
