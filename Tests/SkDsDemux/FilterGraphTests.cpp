#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "FilterTestSupport.h"
#include "Sha256.h"
#include "SampleFacts.h"

using namespace FilterTest;
using nlohmann::json;

namespace {

using FilterGraphTest = LiveObjects;

} // namespace

// Every elementary PID of every sample, one pin each, byte-exact against the reference digests,
// whatever the size of the input samples.
TEST_F(FilterGraphTest, PausedGraphDeliversEveryPayloadByteExact)
{
    SktsTest::ForEachSampleWithFacts([](const std::string& name, const std::filesystem::path& stream, const json& facts) {
        for (LONG chunk : {188, 1316, 7, 65536}) {
            SCOPED_TRACE(name + " chunk " + std::to_string(chunk));
            DemuxGraph graph(SktsTest::ReadFile(stream), chunk);
            std::map<std::string, SinkRecord*> sinks;
            for (const auto& [pid, expected] : facts["pes"].items())
                sinks[pid] = &graph.AddPin(L"pid" + std::wstring(pid.begin(), pid.end()), TypeOf(MEDIATYPE_Video),
                                           {static_cast<ULONG>(std::stoul(pid))});
            graph.RunPaused();
            for (const auto& [pid, expected] : facts["pes"].items()) {
                std::lock_guard lock(sinks[pid]->mutex);
                EXPECT_EQ(sinks[pid]->bytes.size(), expected["payload_bytes"].get<size_t>()) << pid;
                EXPECT_EQ(SktsTest::Sha256Hex(sinks[pid]->bytes), expected["sha256"].get<std::string>()) << pid;
            }
        }
    });
}
