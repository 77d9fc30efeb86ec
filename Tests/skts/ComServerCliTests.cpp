// The filter as an application meets it, across processes: skts register enters the module into
// the registry, a separate program that knows only the CLSID creates and uses the filter, skts
// unregister takes every trace out again; concurrent registrations and a damaged registry file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "RunTool.h"
#include "Sha256.h"
#include "TestData.h"
#include "TestRegistry.h"

using nlohmann::json;

namespace {

const std::string kTool = SKTS_TOOL;
const std::string kClsid = "{379040D2-0044-4192-933D-87FE5C9BCBC3}";

// What another application registered before: it must survive whatever skts does.
const std::string kOtherEntries = "Windows Registry Editor Version 5.00\n"
                                  "\n"
                                  "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}]\n"
                                  "@=\"Another filter\"\n"
                                  "\n"
                                  "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32]\n"
                                  "@=\"/opt/other/Other.so\"\n"
                                  "\"ThreadingModel\"=\"Both\"\n"
                                  "\n"
                                  "; end of registry\n";

void Write(const std::string& path, const std::string& contents)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

class ComServerCli : public ::testing::Test {
protected:
    void SetUp() override { Write(registry_.File(), kOtherEntries); }

    static SktsTest::ToolResult Skts(const std::string& arguments) { return SktsTest::RunCommand(kTool + " " + arguments); }

    SktsTest::TestRegistry registry_{"cli"};
};

TEST_F(ComServerCli, AnApplicationKnowingOnlyTheClsidDemultiplexesThroughTheRegisteredModule)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    SKTS_REQUIRE_SAMPLE(factsPath, "h264_aac.facts.json");
    const json facts = json::parse(SktsTest::Slurp(factsPath));

    auto result = Skts("register");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("DllRegisterServer in "), std::string::npos);
    EXPECT_NE(result.out.find(" succeeded"), std::string::npos);

    result = Skts("filters --json");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const json listed = json::parse(result.out);
    EXPECT_EQ(listed["registry"], registry_.File());
    ASSERT_EQ(listed["filters"].size(), 1u);
    const json& filter = listed["filters"][0];
    EXPECT_EQ(filter["friendly_name"], "Korvath TS Demultiplexer");
    EXPECT_EQ(filter["clsid"], kClsid);
    EXPECT_EQ(filter["merit"], 0x200000);
    EXPECT_EQ(std::filesystem::path(filter["module"].get<std::string>()).filename(), "SkDsDemux.so");
    ASSERT_EQ(filter["pins"].size(), 1u);
    EXPECT_EQ(filter["pins"][0]["output"], true);
    ASSERT_EQ(filter["pins"][0]["media_types"].size(), 1u);
    EXPECT_EQ(filter["pins"][0]["media_types"][0]["major_type_name"], "MEDIATYPE_Stream");
    EXPECT_EQ(filter["pins"][0]["media_types"][0]["subtype_name"], "MEDIASUBTYPE_MPEG2_TRANSPORT");
    result = Skts("filters");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Merit   0x00200000 (MERIT_DO_NOT_USE)"), std::string::npos) << result.out;

    const auto outDir = registry_.Folder() / "out";
    std::filesystem::create_directories(outDir);
    std::string pids;
    for (const auto& [pid, expected] : facts["pes"].items())
        pids += " " + pid + "=" + std::to_string(expected["payload_bytes"].get<size_t>());
    result = SktsTest::RunCommand(std::string(SKTS_CLSID_CLIENT) + " " + stream.string() + " " + outDir.string() + pids);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    const json report = json::parse(result.out);
    for (const char* name : {"IBaseFilter", "IMpeg2Demultiplexer", "IReferenceClock", "ISkDsDemux", "ISkDsAvTimeStamp"})
        EXPECT_EQ(report["interfaces"][name], true) << name;
    EXPECT_EQ(report["version"], "1.0.7.18");
    EXPECT_EQ(report["module"], filter["module"]);
    EXPECT_EQ(report["loaded_while_alive"], true);
    EXPECT_EQ(report["complete"], true);
    EXPECT_EQ(report["unloaded"], true) << "CoFreeUnusedLibraries lets the module go";
    for (const auto& [pid, expected] : facts["pes"].items()) {
        const auto bytes = SktsTest::ReadFile(outDir / (pid + ".es"));
        EXPECT_EQ(bytes.size(), expected["payload_bytes"].get<size_t>()) << pid;
        EXPECT_EQ(SktsTest::Sha256Hex(bytes), expected["sha256"].get<std::string>()) << pid;
    }

    result = Skts("unregister");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(SktsTest::Slurp(registry_.File()), kOtherEntries) << "every trace is gone";
    result = Skts("unregister");
    EXPECT_EQ(result.exitCode, 0) << "unregistering twice: " << result.err;
    result = SktsTest::RunCommand(std::string(SKTS_CLSID_CLIENT) + " " + stream.string() + " " + outDir.string() + pids);
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_NE(result.out.find("0x80040154"), std::string::npos) << "class not registered: " << result.out;
}

// Registrations at the same time take turns on the file: none is lost, nothing else is.
TEST_F(ComServerCli, ConcurrentRegistrationsKeepTheFileWholeAndEveryEntry)
{
    const std::string twoAtOnce = "sh -c '$0 $1 >/dev/null 2>&1 & a=$!; $0 $2 >/dev/null 2>&1 & b=$!; "
                                  "wait $a; ra=$?; wait $b; echo $ra $?' " + kTool;
    for (int round = 0; round < 5; ++round) {
        const auto result = SktsTest::RunCommand(twoAtOnce + " register register");
        EXPECT_EQ(result.out, "0 0\n") << "round " << round << result.err;
        const auto listed = Skts("filters --json");
        ASSERT_EQ(listed.exitCode, 0) << listed.err;
        EXPECT_EQ(json::parse(listed.out)["filters"].size(), 1u);
        EXPECT_NE(SktsTest::Slurp(registry_.File()).find("Another filter"), std::string::npos);
    }
    // Registering and unregistering at once: either may win, the file stays whole.
    for (int round = 0; round < 5; ++round) {
        const auto result = SktsTest::RunCommand(twoAtOnce + " register unregister");
        EXPECT_EQ(result.out, "0 0\n") << "round " << round << result.err;
        const auto listed = Skts("filters");
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        EXPECT_NE(SktsTest::Slurp(registry_.File()).find("Another filter"), std::string::npos);
    }
    ASSERT_EQ(Skts("unregister").exitCode, 0);
    EXPECT_EQ(SktsTest::Slurp(registry_.File()), kOtherEntries);
}

// A registry file cut in the middle is reported in one line by every command that reads it, and
// kept as it is: what it still holds is the user's to repair.
TEST_F(ComServerCli, ADamagedOrUnreadableRegistryIsReportedAndLeftAlone)
{
    SKTS_REQUIRE_SAMPLE(stream, "h264_aac.ts");
    ASSERT_EQ(Skts("register").exitCode, 0);
    const std::string full = SktsTest::Slurp(registry_.File());
    const std::string commands[] = {"register", "unregister", "filters", "filters --json",
                                    "play --fast --discard " + stream.string()};
    for (const size_t cut : {full.size() / 4, full.size() / 2, full.size() * 3 / 4, full.size() - 5}) {
        const std::string damaged = full.substr(0, cut);
        Write(registry_.File(), damaged);
        for (const std::string& command : commands) {
            SCOPED_TRACE(command + ", file cut at " + std::to_string(cut));
            const auto result = Skts(command);
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_NE(result.err.find(registry_.File() + " is damaged"), std::string::npos) << result.err;
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(SktsTest::Slurp(registry_.File()), damaged);
        }
    }
    std::filesystem::remove(registry_.File());
    std::filesystem::create_directory(registry_.File());
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const auto result = Skts(command);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find("is not a file"), std::string::npos) << result.err;
    }
}

TEST_F(ComServerCli, AMissingOrForeignModuleIsReportedInOneLine)
{
    const std::string notAModule = (registry_.Folder() / "text.so").string();
    Write(notAModule, "not a module");
    const std::pair<std::string, std::string> cases[] = {
        {"register " + (registry_.Folder() / "missing.so").string(), "no module"},
        {"register " + notAModule, "cannot load"},
        {"unregister /lib/x86_64-linux-gnu/libm.so.6", "has no DllUnregisterServer"},
    };
    for (const auto& [command, message] : cases) {
        SCOPED_TRACE(command);
        const auto result = Skts(command);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    EXPECT_EQ(SktsTest::Slurp(registry_.File()), kOtherEntries);
}

} // namespace
