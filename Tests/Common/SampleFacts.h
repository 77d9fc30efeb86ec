#pragma once
// The sample streams with their reference facts, for tests that check every one of them.
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "TestData.h"

namespace SktsTest {

inline nlohmann::json ReadJson(const std::filesystem::path& path)
{
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

// Calls check(name, stream, facts) for every sample found with its facts; a missing one is
// noted (or fails the test, when it is committed).
inline void ForEachSampleWithFacts(
    const std::function<void(const std::string& name, const std::filesystem::path& stream, const nlohmann::json& facts)>&
        check)
{
    for (std::string_view sampleName : kSampleStreams) {
        const std::string name(sampleName);
        const auto stream = FindSample(name + ".ts");
        const auto facts = FindSample(name + ".facts.json");
        if (!stream || !facts) {
            SKTS_NOTE_MISSING_SAMPLE(name);
            continue;
        }
        check(name, *stream, ReadJson(*facts));
    }
}

} // namespace SktsTest
