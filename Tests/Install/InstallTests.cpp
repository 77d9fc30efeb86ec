// `cmake --install` into a scratch prefix, then what a user does with it: the files at their
// places, every public header compiling on its own, the CMake package found by version, the two
// examples built with find_package(Skts) and run on a sample, and the installed skts registering
// the module it was installed with.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "InstallSupport.h"
#include "Sha256.h"
#include "TempDir.h"
#include "TestData.h"

namespace {

using SktsTest::MustRun;
using SktsTest::Quote;
namespace fs = std::filesystem;

class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = std::make_unique<SktsTest::TempDir>("skts_install");
        const std::string config = SKTS_BUILD_CONFIG;
        MustRun(std::string(SKTS_CMAKE) + " --install " + Quote(std::string(SKTS_BINARY_DIR)) + " --prefix " +
                Quote(Prefix()) + (config.empty() ? "" : " --config " + config));
        const std::string flags = "-Wall -Wextra -Werror " + std::string(SKTS_SANITIZER_FLAGS);
        const auto configure = MustRun(std::string(SKTS_CMAKE) + " -S " + Quote(SktsTest::SourceDir() / "Examples") +
                                       " -B " + Quote(Examples()) + " -G " + Quote(std::string(SKTS_GENERATOR)) +
                                       " -DCMAKE_CXX_COMPILER=" + Quote(std::string(SKTS_CXX)) +
                                       " -DCMAKE_BUILD_TYPE=RelWithDebInfo" + " -DCMAKE_PREFIX_PATH=" + Quote(Prefix()) +
                                       " " + Quote("-DCMAKE_CXX_FLAGS=" + flags) + " " +
                                       Quote("-DCMAKE_EXE_LINKER_FLAGS=" + std::string(SKTS_SANITIZER_FLAGS)));
        examplesBuilt_ = configure.exitCode == 0 &&
                         MustRun(std::string(SKTS_CMAKE) + " --build " + Quote(Examples())).exitCode == 0;
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    static fs::path Prefix() { return scratch_->Path() / "prefix"; }
    static fs::path Examples() { return scratch_->Path() / "examples"; }
    static fs::path Scratch() { return scratch_->Path(); }

    static std::unique_ptr<SktsTest::TempDir> scratch_;
    static bool examplesBuilt_;
};

std::unique_ptr<SktsTest::TempDir> InstalledTree::scratch_;
bool InstalledTree::examplesBuilt_ = false;

nlohmann::json Facts(const std::string& sample)
{
    const auto path = SktsTest::FindSample(sample + ".facts.json");
    return path ? nlohmann::json::parse(SktsTest::Slurp(*path)) : nlohmann::json();
}

TEST_F(InstalledTree, PutsToolModuleManualHeadersLibrariesAndPackageInPlace)
{
    const fs::path lib = Prefix() / SKTS_LIBDIR;
    const fs::path expected[] = {
        Prefix() / "bin" / "skts",
        Prefix() / SKTS_MODULEDIR / "SkDsDemux.so",
        Prefix() / "share" / "man" / "man1" / "skts.1.gz",
        Prefix() / "share" / "bash-completion" / "completions" / "skts",
        Prefix() / "include" / "skts" / "SkTsInfo.h",
        Prefix() / "include" / "skts" / "SkTsPacketInput.h",
        Prefix() / "include" / "skts" / "Demuxer.h",
        Prefix() / "include" / "skts" / "Compat" / "ComTypes.h",
        lib / "libSklibTs.a",
        lib / "libSklibTsPacket.a",
        lib / "libSklibTsPsi.a",
        lib / "libSklibTsEs.a",
        lib / "libSkDsDemux.a",
        lib / "libSktsBaseClasses.a",
        lib / "cmake" / "Skts" / "SktsConfig.cmake",
        lib / "cmake" / "Skts" / "SktsConfigVersion.cmake",
        lib / "cmake" / "Skts" / "SktsTargets.cmake",
    };
    for (const fs::path& path : expected)
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
    // Only the interface: no implementation header comes along.
    for (const char* inner : {"TsInfoImpl.h", "SkTp.h", "SkDsDemux.h", "TsPin.h", "BaseFilter.h"})
        EXPECT_FALSE(fs::exists(Prefix() / "include" / "skts" / inner)) << inner;
}

TEST_F(InstalledTree, EveryPublicHeaderCompilesOnItsOwn)
{
    const fs::path include = Prefix() / "include" / "skts";
    int headers = 0;
    for (const auto& entry : fs::directory_iterator(include)) {
        if (entry.path().extension() != ".h")
            continue;
        ++headers;
        const fs::path source = Scratch() / ("header_" + entry.path().stem().string() + ".cpp");
        std::ofstream(source) << "#include <" << entry.path().filename().string() << ">\n";
        const auto result = SktsTest::RunCommand(std::string(SKTS_CXX) + " -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I" +
                                                 Quote(include) + " " + Quote(source));
        EXPECT_EQ(result.exitCode, 0) << entry.path().filename() << "\n" << result.err;
    }
    EXPECT_GE(headers, 15);
}

TEST_F(InstalledTree, PackageVersionMatchesTheProductAndRefusesAnotherMajor)
{
    const fs::path versionFile = Prefix() / SKTS_LIBDIR / "cmake" / "Skts" / "SktsConfigVersion.cmake";
    const auto verdict = [&](const std::string& wanted) {
        const fs::path script = Scratch() / "version.cmake";
        std::ofstream(script) << "set(PACKAGE_FIND_VERSION " << wanted << ")\n"
                              << "string(REPLACE . \";\" parts ${PACKAGE_FIND_VERSION})\n"
                              << "list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)\n"
                              << "include(" << versionFile.string() << ")\n"
                              << "message(\"${PACKAGE_VERSION} ${PACKAGE_VERSION_COMPATIBLE}\")\n";
        const auto result = MustRun(std::string(SKTS_CMAKE) + " -P " + Quote(script));
        return result.err;
    };
    EXPECT_EQ(verdict("1.0"), std::string(SKTS_PROJECT_VERSION) + " TRUE\n");
    EXPECT_EQ(verdict("1.0.7.18"), "1.0.7.18 TRUE\n");
    EXPECT_EQ(verdict("2.0"), "1.0.7.18 FALSE\n");
}

// The analyser example prints each program when its PMT arrives, each indicator report as it is
// raised and a summary; on a damaged copy of a sample it reports what skts reports.
TEST_F(InstalledTree, AnalyserExamplePrintsProgramsAndIndicatorsAsRaised)
{
    ASSERT_TRUE(examplesBuilt_);
    SKTS_REQUIRE_SAMPLE(sample, "h264_aac.ts");
    const nlohmann::json facts = Facts("h264_aac");

    const auto clean = MustRun(Quote(Examples() / "analyse_ts") + " " + Quote(sample));
    std::string expectedPrograms;
    for (const auto& [number, pmt] : facts["pmts"].items()) {
        char line[96];
        std::snprintf(line, sizeof line, "program %s: PMT PID 0x%04X, PCR PID 0x%04X\n", number.c_str(),
                      pmt["pmt_pid"].get<unsigned>(), pmt["pcr_pid"].get<unsigned>());
        expectedPrograms += line;
        for (const auto& stream : pmt["streams"]) {
            std::snprintf(line, sizeof line, "  stream PID 0x%04X type 0x%02X\n", stream["pid"].get<unsigned>(),
                          stream["stream_type"].get<unsigned>());
            expectedPrograms += line;
        }
    }
    EXPECT_TRUE(SktsTest::StartsWith(clean.out, expectedPrograms)) << clean.out;
    EXPECT_NE(clean.out.find("summary: " + std::to_string(facts["packets"].get<int>()) + " packets of 188 bytes, 1 programs, in sync yes"),
              std::string::npos)
        << clean.out;

    // Every 500th packet of the video PID left out: continuity errors, reported one by one.
    const std::vector<uint8_t> stream = SktsTest::ReadFile(sample);
    std::vector<uint8_t> damaged;
    for (size_t offset = 0, index = 0; offset + 188 <= stream.size(); offset += 188, ++index) {
        const uint32_t pid = ((stream[offset + 1] & 0x1Fu) << 8) | stream[offset + 2];
        if (pid == 0x100 && index % 500 == 7)
            continue;
        damaged.insert(damaged.end(), stream.begin() + static_cast<long>(offset), stream.begin() + static_cast<long>(offset + 188));
    }
    const fs::path damagedPath = Scratch() / "damaged.ts";
    std::ofstream(damagedPath, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()),
                                                       static_cast<std::streamsize>(damaged.size()));
    const auto example = MustRun(Quote(Examples() / "analyse_ts") + " " + Quote(damagedPath));
    const auto tool = MustRun(std::string(Quote(std::string(SKTS_TOOL))) + " analyze --si-standard none --json " + Quote(damagedPath));
    const nlohmann::json report = nlohmann::json::parse(tool.out);

    // Each report on a line of its own as it is raised, then the counts: those skts gives.
    std::map<std::string, int> reportLines;
    std::map<std::string, int> summaryCounts;
    bool summaryStarted = false;
    for (const std::string& line : SktsTest::Lines(example.out)) {
        // "indicator 3 ContinuityCountError at 1503.699 ms, PID 0x0100: message"
        std::istringstream words(line);
        std::string first, index, name, at, time, unit;
        words >> first >> index >> name >> at >> time >> unit;
        if (first == "indicator" && at == "at" && (unit == "ms:" || unit == "ms,")) {
            EXPECT_FALSE(summaryStarted) << "reports come as they are raised, before the summary";
            EXPECT_NE(line.find(": ", line.find(" ms")), std::string::npos) << line;
            ++reportLines[name];
        }
        // "summary: indicator ContinuityCountError raised 11 times"
        std::string raised, count;
        std::istringstream summary(line);
        summary >> first >> index >> name >> raised >> count;
        if (first == "summary:" && index == "indicator" && raised == "raised")
            summaryCounts[name] = std::stoi(count);
        summaryStarted = summaryStarted || first == "summary:";
    }
    std::map<std::string, int> toolCounts;
    for (const auto& indicator : report["indicators"])
        toolCounts[indicator["name"].get<std::string>()] = indicator["count"].get<int>();
    EXPECT_GE(reportLines["ContinuityCountError"], 10);
    EXPECT_EQ(summaryCounts, toolCounts) << example.out;
    for (const auto& [name, count] : toolCounts)
        EXPECT_GE(reportLines[name], 1) << name;
}

// The demultiplexer example writes the PES payloads of one PID byte-exact, as the sample's facts
// record them.
TEST_F(InstalledTree, DemuxExampleWritesThePayloadsOfOnePid)
{
    ASSERT_TRUE(examplesBuilt_);
    SKTS_REQUIRE_SAMPLE(sample, "h264_aac.ts");
    const nlohmann::json facts = Facts("h264_aac");
    for (const auto& [pidText, expected] : facts["pes"].items()) {
        const fs::path output = Scratch() / ("pid_" + pidText + ".es");
        const auto result = MustRun(Quote(Examples() / "demux_pid") + " " + Quote(sample) + " " + pidText + " " + Quote(output));
        char line[160];
        std::snprintf(line, sizeof line, "PID 0x%04X: %d PES, %llu bytes, first PTS %lld, last PTS %lld\n",
                      static_cast<unsigned>(std::stoul(pidText)), expected["count"].get<int>(),
                      expected["payload_bytes"].get<unsigned long long>(), expected["first_pts"].get<long long>(),
                      expected["last_pts"].get<long long>());
        EXPECT_EQ(result.out, line);
        EXPECT_EQ(SktsTest::Sha256Hex(SktsTest::ReadFile(output)), expected["sha256"].get<std::string>()) << pidText;
    }
    const auto refused = SktsTest::RunCommand(Quote(Examples() / "demux_pid") + " " + Quote(sample) + " 8192 " +
                                              Quote(Scratch() / "x.es"));
    EXPECT_EQ(refused.exitCode, 2);
}

// skts register without a module finds the module where the install put it, not beside skts.
TEST_F(InstalledTree, InstalledSktsRegistersTheInstalledModule)
{
    const std::string registry = (Scratch() / "registry").string();
    const std::string skts = "SKTS_REGISTRY=" + Quote(registry) + " " + Quote(Prefix() / "bin" / "skts");
    const fs::path module = fs::weakly_canonical(Prefix() / SKTS_MODULEDIR / "SkDsDemux.so");
    const auto registered = MustRun(skts + " register");
    EXPECT_NE(registered.out.find(module.string()), std::string::npos) << registered.out;

    const nlohmann::json filters = nlohmann::json::parse(MustRun(skts + " filters --json").out);
    ASSERT_EQ(filters["filters"].size(), 1u);
    EXPECT_EQ(filters["filters"][0]["module"], module.string());
    MustRun(skts + " unregister");
    EXPECT_TRUE(nlohmann::json::parse(MustRun(skts + " filters --json").out)["filters"].empty());
    EXPECT_NE(MustRun(skts + " --version").out.find("skts " SKTS_PROJECT_VERSION "\n"), std::string::npos);
}

} // namespace
