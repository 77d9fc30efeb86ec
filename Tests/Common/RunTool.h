#pragma once
// Runs a command-line tool of the project and captures what it printed.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace SktsTest {

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A path in the temporary folder that no other test process uses: several checkouts may run
// the same tests on one machine at once.
inline std::filesystem::path PrivateTempPath(const std::string& name)
{
    return std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
}

// Runs `command` through the shell; its standard input comes from stdinFile when given.
inline ToolResult RunCommand(const std::string& command, const std::string& stdinFile = {})
{
    const auto dir = std::filesystem::temp_directory_path();
    const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(std::rand());
    const auto outPath = dir / ("skts_out_" + tag);
    const auto errPath = dir / ("skts_err_" + tag);
    std::string line = command + " >" + outPath.string() + " 2>" + errPath.string();
    line += stdinFile.empty() ? " </dev/null" : " <" + stdinFile;
    const int status = std::system(line.c_str());
    ToolResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

} // namespace SktsTest
