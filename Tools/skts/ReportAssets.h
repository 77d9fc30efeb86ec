#pragma once
// The files a report page inlines: uPlot's script and style (installed from the npm registry
// at build time) and the page's own script and style (report/ beside this file).
#include <string_view>

namespace Skts::ReportAssets {

std::string_view UplotScript();
std::string_view UplotStyle();
std::string_view PageScript();
std::string_view PageStyle();

} // namespace Skts::ReportAssets
