#include "ReportPage.h"

#include "ReportAssets.h"

namespace Skts {

std::string JsonForScript(const nlohmann::json& document)
{
    const std::string text = document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string safe;
    safe.reserve(text.size());
    for (const char c : text) {
        if (c == '<')
            safe += "\\u003c";
        else
            safe += c;
    }
    return safe;
}

void WriteReportPage(const nlohmann::json& document, std::ostream& out)
{
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"generator\" content=\"skts report\">\n<title>skts report</title>\n<style>\n"
        << ReportAssets::UplotStyle() << '\n'
        << ReportAssets::PageStyle() << "</style>\n</head>\n<body>\n<main id=\"app\"></main>\n"
        << "<script type=\"application/json\" id=\"skts-data\">" << JsonForScript(document) << "</script>\n<script>\n"
        << ReportAssets::UplotScript() << "\n</script>\n<script>\n"
        << ReportAssets::PageScript() << "</script>\n</body>\n</html>\n";
}

} // namespace Skts
