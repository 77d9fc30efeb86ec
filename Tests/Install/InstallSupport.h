#pragma once
// Shell commands for the install and package tests: quoting, and one command's result with its
// output for a failure message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RunTool.h"

namespace SktsTest {

inline std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string Quote(const std::filesystem::path& path) { return Quote(path.string()); }

// Runs a command that must succeed; a failure names it with what it printed.
inline ToolResult MustRun(const std::string& command)
{
    ToolResult result = RunCommand(command);
    EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.out << result.err;
    return result;
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

inline bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

} // namespace SktsTest
