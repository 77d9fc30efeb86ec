#pragma once
// Locating the sample streams used by the tests. The small ones are committed under
// Tests/data; the larger ones are read from the shared sample folder beside the checkout.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace SktsTest {

inline std::filesystem::path SourceDir() { return SKTS_SOURCE_DIR; }

// Full path of a sample file (stream or facts JSON), or nullopt when it is nowhere.
inline std::optional<std::filesystem::path> FindSample(std::string_view fileName)
{
    const std::filesystem::path candidates[] = {
        SourceDir() / "Tests" / "data" / fileName,
        SourceDir().parent_path() / "shared" / "testdata" / fileName,
    };
    for (const auto& candidate : candidates) {
        if (std::filesystem::exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The five sample streams with their facts files (<name>.facts.json, <name>.ffprobe.json).
inline constexpr std::string_view kSampleStreams[] = {
    "h264_aac", "h264_aac_204", "hevc_eac3", "mpeg2_mp2_ac3", "twoprog",
};

// The samples committed in Tests/data; the others come from ../shared/testdata when present.
inline constexpr std::string_view kCommittedSamples[] = {"h264_aac", "hevc_eac3", "twoprog"};

// A sample that cannot be found fails the test when it is committed, else is noted and skipped.
#define SKTS_NOTE_MISSING_SAMPLE(name)                                                            \
    do {                                                                                          \
        const std::string_view missingName_(name);                                                \
        if (std::find(std::begin(SktsTest::kCommittedSamples), std::end(SktsTest::kCommittedSamples), \
                      missingName_) != std::end(SktsTest::kCommittedSamples))                    \
            ADD_FAILURE() << "committed sample " << missingName_ << " missing";                  \
        else                                                                                      \
            std::cout << "[ NOTE     ] sample " << missingName_ << " not found, skipped\n";        \
    } while (false)

} // namespace SktsTest

// Skips the current test when a sample file cannot be found.
#define SKTS_REQUIRE_SAMPLE(var, name)                                              \
    const auto var##Found = ::SktsTest::FindSample(name);                           \
    if (!var##Found) GTEST_SKIP() << "sample " << (name) << " not available";       \
    const std::filesystem::path var = *var##Found
