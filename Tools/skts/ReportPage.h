#pragma once
// Writes the report as one self-contained HTML page: scripts and styles inlined, the data as
// one JSON document in <script type="application/json" id="skts-data">, drawn by the page.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace Skts {

void WriteReportPage(const nlohmann::json& document, std::ostream& out);

// JSON text safe inside a <script> element: "<" is written as \u003c so no "</script>" or
// "<!--" in a stream's names can end the element early.
std::string JsonForScript(const nlohmann::json& document);

} // namespace Skts
