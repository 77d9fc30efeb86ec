#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>

namespace SklibTs {
class SkTsInfo;
}

namespace Skts {

// What the analyser learnt, as the JSON document of `skts analyze --json`; the readable
// summary is printed from the same document. Call with the analyser's lock held.
nlohmann::json BuildAnalysisReport(const SklibTs::SkTsInfo& analyser, int64_t bytesRead);
void PrintAnalysisReport(const nlohmann::json& report, std::ostream& out);

} // namespace Skts
