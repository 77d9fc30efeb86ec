// demux_pid FILE PID OUTPUT: runs a transport-stream file through the demultiplexer engine with
// one PID mapped, writes the payload of every PES packet of that PID to OUTPUT, in order, and
// prints how many there were and their first and last PTS.
#include <Demuxer.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

struct PesOutput {
    std::ofstream file;
    uint64_t pes = 0;
    uint64_t bytes = 0;
    int64_t firstPts = SklibTs::kNoTime;
    int64_t lastPts = SklibTs::kNoTime;
};

// Called on the thread that calls ProcessSample, for each completed PES of the mapped PID.
void OnPes(uint32_t, DsDemux::PidEntry& entry, uint32_t, void* context)
{
    auto* output = static_cast<PesOutput*>(context);
    const DsDemux::PesData& pes = *entry.pes;
    uint32_t size = 0;
    const uint8_t* payload = pes.pes.GetPayload(size);
    if (payload != nullptr)
        output->file.write(reinterpret_cast<const char*>(payload), size);
    ++output->pes;
    output->bytes += size;
    if (pes.pts != SklibTs::kNoTime) {
        if (output->firstPts == SklibTs::kNoTime)
            output->firstPts = pes.pts;
        output->lastPts = pes.pts;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: demux_pid FILE PID OUTPUT\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long pid = std::strtoul(argv[2], &end, 0);
    if (*end != '\0' || pid > 0x1FFF) {
        std::fprintf(stderr, "demux_pid: %s is no PID (0 to 8191, or 0x0 to 0x1FFF)\n", argv[2]);
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    PesOutput output;
    output.file.open(argv[3], std::ios::binary);
    if (!file || !output.file) {
        std::fprintf(stderr, "demux_pid: cannot open %s or %s\n", argv[1], argv[3]);
        return 2;
    }

    DsDemux::Demuxer demuxer;
    if (FAILED(demuxer.Init())) {
        std::fprintf(stderr, "demux_pid: the engine did not start\n");
        return 1;
    }
    demuxer.AddPid(static_cast<uint32_t>(pid), &OnPes, &output);

    std::vector<char> chunk(64 * 1024);
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
        const HRESULT hr = demuxer.ProcessSample(reinterpret_cast<const uint8_t*>(chunk.data()),
                                                 static_cast<int32_t>(file.gcount()));
        if (FAILED(hr)) {
            std::fprintf(stderr, "demux_pid: ProcessSample failed (0x%08X)\n", static_cast<unsigned>(hr));
            return 1;
        }
    }
    // A PES still incomplete at the end of the input is not delivered.
    output.file.close();
    if (!output.file) {
        std::fprintf(stderr, "demux_pid: cannot write %s\n", argv[3]);
        return 2;
    }
    std::printf("PID 0x%04lX: %llu PES, %llu bytes, first PTS %lld, last PTS %lld\n", pid,
                static_cast<unsigned long long>(output.pes), static_cast<unsigned long long>(output.bytes),
                static_cast<long long>(output.firstPts), static_cast<long long>(output.lastPts));
    return 0;
}
