#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace SklibTs {
class SkTsInfo;
}

namespace Skts {

// What the analyser learnt, as the JSON document of `skts analyze --json`; the readable
// summary is printed from the same document. Call with the analyser's lock held.
nlohmann::json BuildAnalysisReport(const SklibTs::SkTsInfo& analyser, int64_t bytesRead);
void PrintAnalysisReport(const nlohmann::json& report, std::ostream& out);
// The readable form of "live": what a network input received.
void PrintLiveStats(const nlohmann::json& live, std::ostream& out);

// Wide analyser texts (names, messages) as UTF-8.
std::string ToUtf8(const std::wstring& text);
// "12.345 Mbit/s".
std::string FormatBitrate(int64_t bitsPerSecond);

} // namespace Skts
