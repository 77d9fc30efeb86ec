// The API reference of the public headers: generated without warnings (every call, type and
// field of the interface documented), with pages for the entry points.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "InstallSupport.h"
#include "TempDir.h"

namespace {

using SktsTest::Quote;
namespace fs = std::filesystem;

class ApiReference : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = std::make_unique<SktsTest::TempDir>("skts_apidocs");
        // The build's Doxyfile, written into a scratch folder instead of the build tree.
        const fs::path config = scratch_->Path() / "Doxyfile";
        std::ofstream(config) << SktsTest::Slurp(SKTS_DOXYFILE) << "\nOUTPUT_DIRECTORY = " << scratch_->Path().string()
                              << "\nWARN_LOGFILE = " << Log().string() << "\n";
        result_ = SktsTest::RunCommand(Quote(std::string(SKTS_DOXYGEN)) + " " + Quote(config));
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    static fs::path Log() { return scratch_->Path() / "warnings.log"; }
    static fs::path Html() { return scratch_->Path() / "html"; }

    static std::unique_ptr<SktsTest::TempDir> scratch_;
    static SktsTest::ToolResult result_;
};

std::unique_ptr<SktsTest::TempDir> ApiReference::scratch_;
SktsTest::ToolResult ApiReference::result_;

TEST_F(ApiReference, GeneratesWithoutWarnings)
{
    EXPECT_EQ(result_.exitCode, 0) << result_.err;
    ASSERT_TRUE(fs::exists(Log()));
    EXPECT_EQ(SktsTest::Slurp(Log()), "");
    EXPECT_EQ(result_.err, "");
}

TEST_F(ApiReference, HasPagesForTheEntryPoints)
{
    EXPECT_TRUE(fs::is_regular_file(Html() / "index.html"));
    for (const char* page : {"classSklibTs_1_1SkTsInfo.html", "classSklibTs_1_1SkTsPacketInput.html",
                             "classDsDemux_1_1Demuxer.html", "structDsDemux_1_1PesData.html"})
        EXPECT_TRUE(fs::is_regular_file(Html() / page)) << page;
    const std::string analyser = SktsTest::Slurp(Html() / "classSklibTs_1_1SkTsInfo.html");
    EXPECT_NE(analyser.find("AddIndicatorReportCallback"), std::string::npos);
    EXPECT_NE(SktsTest::Slurp(Html() / "index.html").find("find_package"), std::string::npos);
}

} // namespace
