// skts report: every sample's page opens in headless Chromium without errors or requests, and
// every plot it draws has its series and a data range; screenshots go to the build folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "RunTool.h"
#include "TempDir.h"
#include "TestData.h"

using nlohmann::json;
using SktsTest::RunCommand;

namespace {

std::string Tool() { return SKTS_TOOL; }
constexpr const char* kChromium = "/usr/bin/chromium";

// The document the page embeds.
json EmbeddedDocument(const std::string& page)
{
    const std::string open = "<script type=\"application/json\" id=\"skts-data\">";
    const size_t start = page.find(open);
    const size_t end = page.find("</script>", start);
    if (start == std::string::npos || end == std::string::npos)
        return json();
    return json::parse(page.substr(start + open.size(), end - start - open.size()));
}

} // namespace

TEST(SktsReportTest, EveryPlotOfEverySampleHasItsSeriesInChromium)
{
    ASSERT_TRUE(std::filesystem::exists(kChromium)) << "./test installs the chromium package";
    const SktsTest::TempDir dir("skts_report");
    std::string pages;
    std::map<std::string, json> documents;
    for (const std::string_view name : SktsTest::kSampleStreams) {
        const auto sample = SktsTest::FindSample(std::string(name) + ".ts");
        if (!sample) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        const auto page = dir / (std::string(name) + ".html");
        const auto result = RunCommand(Tool() + " report --quiet -o " + page.string() + " " + sample->string());
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string html = SktsTest::Slurp(page);
        // Self-contained: nothing is loaded from anywhere.
        EXPECT_EQ(html.find("<script src"), std::string::npos);
        EXPECT_EQ(html.find("<link"), std::string::npos);
        documents[std::string(name)] = EmbeddedDocument(html);
        // The same keys as the analysis document, and the series.
        const json analysis = json::parse(RunCommand(Tool() + " analyze --json --bitrate auto " + sample->string()).out);
        for (const auto& [key, value] : analysis.items())
            EXPECT_TRUE(documents[std::string(name)].contains(key)) << name << ": " << key;
        EXPECT_EQ(documents[std::string(name)]["pids"], analysis["pids"]) << name;
        pages += " " + page.string();
    }
    ASSERT_FALSE(pages.empty());

    std::filesystem::create_directories(SKTS_SCREENSHOT_DIR);
    const auto check = RunCommand(std::string(SKTS_NODE) + " " + SKTS_REPORT_CHECK + " " + kChromium + " " +
                                  SKTS_SCREENSHOT_DIR + pages);
    ASSERT_EQ(check.exitCode, 0) << check.err;
    const json result = json::parse(check.out);
    ASSERT_EQ(result["pages"].size(), documents.size());
    for (const auto& page : result["pages"]) {
        const std::string name = std::filesystem::path(page["file"].get<std::string>()).stem().string();
        SCOPED_TRACE(name);
        EXPECT_TRUE(page["consoleErrors"].empty()) << page["consoleErrors"];
        EXPECT_TRUE(page["pageErrors"].empty()) << page["pageErrors"];
        EXPECT_TRUE(page["refused"].empty()) << page["refused"];
        EXPECT_TRUE(page["embedded"].get<bool>());
        for (const char* section : {"Summary", "Programs", "PIDs", "Events"}) {
            EXPECT_NE(std::find(page["sections"].begin(), page["sections"].end(), section), page["sections"].end())
                << section;
        }
        // Bit rate, PCR accuracy and jitter, PTS margin; the indicator timeline when one was raised.
        const json& document = documents[name];
        const size_t expected = 3 + (document["series"]["indicators"].empty() ? 0 : 1);
        ASSERT_EQ(page["plots"].size(), expected);
        for (const auto& plot : page["plots"]) {
            SCOPED_TRACE(plot["title"].get<std::string>());
            EXPECT_TRUE(plot["canvas"].get<bool>());
            EXPECT_GT(plot["points"].get<int>(), 1);
            EXPECT_LT(plot["x"][0].get<double>(), plot["x"][1].get<double>());
            EXPECT_LT(plot["y"][0].get<double>(), plot["y"][1].get<double>());
            ASSERT_FALSE(plot["series"].empty());
            for (const auto& series : plot["series"])
                EXPECT_GT(series["values"].get<int>(), 0) << series["label"];
        }
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(SKTS_SCREENSHOT_DIR) / (name + ".png")));
    }
    // The bit-rate plot stacks a series per PID on the total.
    const auto& first = result["pages"][0]["plots"][0];
    EXPECT_GE(first["series"].size(), 3u);
}
