// cpack -G DEB from this build tree; the package's control fields, and the package unpacked with
// dpkg -x into a scratch root: the binary, the module, the manual page, the completion, the
// headers and the CMake package at their paths under /usr, and the unpacked skts working there.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <set>

#include "InstallSupport.h"
#include "TempDir.h"

namespace {

using SktsTest::MustRun;
using SktsTest::Quote;
namespace fs = std::filesystem;

class DebianPackage : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = std::make_unique<SktsTest::TempDir>("skts_package");
        const std::string config = SKTS_BUILD_CONFIG;
        MustRun(std::string(SKTS_CPACK) + " -G DEB --config " + Quote(fs::path(SKTS_BINARY_DIR) / "CPackConfig.cmake") +
                " -B " + Quote(scratch_->Path() / "out") + (config.empty() ? "" : " -C " + config));
        for (const auto& entry : fs::directory_iterator(scratch_->Path() / "out")) {
            if (entry.path().extension() == ".deb")
                package_ = entry.path();
        }
        if (!package_.empty())
            MustRun("dpkg -x " + Quote(package_) + " " + Quote(Root()));
    }
    static void TearDownTestSuite() { scratch_.reset(); }

    static fs::path Root() { return scratch_->Path() / "root"; }
    static fs::path Usr() { return Root() / "usr"; }
    static std::string Field(const std::string& name)
    {
        std::string value = MustRun("dpkg-deb -f " + Quote(package_) + " " + name).out;
        while (!value.empty() && value.back() == '\n')
            value.pop_back();
        return value;
    }
    // The commands skts lists when it is given none.
    static std::set<std::string> Commands()
    {
        std::set<std::string> commands;
        bool inList = false;
        for (const std::string& line : SktsTest::Lines(SktsTest::RunCommand(Quote(std::string(SKTS_TOOL))).err)) {
            if (inList && SktsTest::StartsWith(line, "   "))
                commands.insert(line.substr(3, line.find(' ', 3) - 3));
            else
                inList = line == "The commands are:";
        }
        return commands;
    }

    static std::unique_ptr<SktsTest::TempDir> scratch_;
    static fs::path package_;
};

std::unique_ptr<SktsTest::TempDir> DebianPackage::scratch_;
fs::path DebianPackage::package_;

TEST_F(DebianPackage, CarriesNameVersionAndTheLibrariesItNeeds)
{
    ASSERT_FALSE(package_.empty());
    EXPECT_EQ(package_.filename().string().rfind("skts_" SKTS_PROJECT_VERSION "_", 0), 0u) << package_;
    EXPECT_EQ(Field("Package"), "skts");
    EXPECT_EQ(Field("Version"), SKTS_PROJECT_VERSION);
    EXPECT_EQ(Field("Architecture") + "\n", SktsTest::RunCommand("dpkg --print-architecture").out);
    const std::string depends = Field("Depends");
    for (const char* library : {"libc6", "libstdc++6", "libgcc-s1"})
        EXPECT_NE(depends.find(library), std::string::npos) << depends;
}

TEST_F(DebianPackage, UnpacksToolModuleManualCompletionHeadersAndCMakePackageUnderUsr)
{
    ASSERT_FALSE(package_.empty());
    const fs::path lib = Usr() / SKTS_LIBDIR;
    const fs::path expected[] = {
        Usr() / "bin" / "skts",
        Usr() / SKTS_MODULEDIR / "SkDsDemux.so",
        Usr() / "share" / "man" / "man1" / "skts.1.gz",
        Usr() / "share" / "bash-completion" / "completions" / "skts",
        Usr() / "include" / "skts" / "SkTsInfo.h",
        Usr() / "include" / "skts" / "Demuxer.h",
        lib / "libSklibTs.a",
        lib / "libSkDsDemux.a",
        lib / "cmake" / "Skts" / "SktsConfig.cmake",
        lib / "cmake" / "Skts" / "SktsConfigVersion.cmake",
        lib / "cmake" / "Skts" / "SktsTargets.cmake",
    };
    for (const fs::path& path : expected)
        EXPECT_TRUE(fs::is_regular_file(path)) << path;
    // Nothing outside /usr.
    for (const auto& entry : fs::directory_iterator(Root()))
        EXPECT_EQ(entry.path().filename(), "usr");
    EXPECT_NE(fs::status(Usr() / "bin" / "skts").permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(DebianPackage, UnpackedSktsTellsItsVersionAndRegistersItsModule)
{
    ASSERT_FALSE(package_.empty());
    const std::string skts = "SKTS_REGISTRY=" + Quote(scratch_->Path() / "registry") + " " + Quote(Usr() / "bin" / "skts");
    const auto version = MustRun(skts + " --version");
    EXPECT_TRUE(SktsTest::StartsWith(version.out, "skts " SKTS_PROJECT_VERSION "\nbuild ")) << version.out;
    const auto registered = MustRun(skts + " register");
    EXPECT_NE(registered.out.find((Usr() / SKTS_MODULEDIR / "SkDsDemux.so").lexically_normal().string()), std::string::npos)
        << registered.out;
    MustRun(skts + " unregister");
}

TEST_F(DebianPackage, ManualPageRendersCleanlyAndDescribesEveryCommand)
{
    ASSERT_FALSE(package_.empty());
    const std::string page = MustRun("gzip -dc " + Quote(Usr() / "share" / "man" / "man1" / "skts.1.gz")).out;
    EXPECT_NE(page.find(".TH SKTS 1 \"\" \"skts " SKTS_PROJECT_VERSION "\""), std::string::npos);
    const std::set<std::string> commands = Commands();
    EXPECT_GE(commands.size(), 7u);
    for (const std::string& command : commands)
        EXPECT_NE(page.find("\n.SS " + command + "\n"), std::string::npos) << command;
    for (const char* section : {".SH NAME\n", ".SH SYNOPSIS\n", ".SH DESCRIPTION\n", ".SH OPTIONS\n", ".SH COMMANDS\n"})
        EXPECT_NE(page.find(section), std::string::npos) << section;
    EXPECT_NE(page.find(".SH EXIT STATUS\n0 success"), std::string::npos);
    // The help's own words, options included.
    EXPECT_NE(page.find("\\fB\\-\\-si\\-standard\\fR"), std::string::npos);
    const std::string groff = SKTS_GROFF;
    if (groff.empty())
        GTEST_SKIP() << "groff not installed: rendering not checked";
    const auto rendered = SktsTest::RunCommand("gzip -dc " + Quote(Usr() / "share" / "man" / "man1" / "skts.1.gz") + " | " +
                                               groff + " -man -ww -z -Tutf8");
    EXPECT_EQ(rendered.exitCode, 0);
    EXPECT_EQ(rendered.err, "");
}

TEST_F(DebianPackage, BashCompletionOffersCommandsOptionsAndChoices)
{
    ASSERT_FALSE(package_.empty());
    const fs::path script = Usr() / "share" / "bash-completion" / "completions" / "skts";
    const auto complete = [&](const std::string& words) {
        const std::string program = "source " + Quote(script) + "; COMP_WORDS=(" + words +
                                    "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _skts; echo \"${COMPREPLY[*]}\"";
        return MustRun("bash -c " + Quote(program)).out;
    };
    EXPECT_EQ(complete("skts an"), "analyze\n");
    EXPECT_EQ(complete("skts --v"), "--version\n");
    EXPECT_EQ(complete("skts analyze --si"), "--si-standard\n");
    EXPECT_EQ(complete("skts analyze --si-standard ''"), "3 atsc dvb none\n");
    EXPECT_EQ(complete("skts play in.ts --clock s"), "system\n");
    EXPECT_EQ(complete("skts help de"), "demux\n");
    EXPECT_EQ(complete("skts --version un"), "unregister\n");
    // A file name is left to bash's own completion.
    EXPECT_EQ(complete("skts analyze ''"), "\n");
    // Every command skts has is offered.
    std::string all = complete("skts ''");
    all.back() = ' ';
    for (const std::string& command : Commands())
        EXPECT_NE((" " + all).find(" " + command + " "), std::string::npos) << command << " in " << all;
}

} // namespace
