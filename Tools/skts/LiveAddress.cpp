#include "LiveAddress.h"

#include <charconv>

namespace Skts {

namespace {

constexpr const char* kForm = "expected udp://[SOURCE@]ADDRESS:PORT or rtp://... (with ?interface=NAME)";

// "host" or "[v6]"; the rest (":port") is left in text.
bool TakeHost(std::string& text, std::string& host)
{
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return false;
        host = text.substr(1, close - 1);
        text.erase(0, close + 1);
        return !host.empty();
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = text.substr(0, colon);
    text.erase(0, colon);
    return host.find(':') == std::string::npos; // a bare IPv6 address needs brackets
}

} // namespace

bool LiveAddress::IsLive(const std::string& text)
{
    return text.rfind("udp://", 0) == 0 || text.rfind("rtp://", 0) == 0;
}

bool LiveAddress::Parse(const std::string& text, LiveAddress& out, std::string& error)
{
    const auto fail = [&](const std::string& why) {
        error = "bad address '" + text + "': " + why;
        return false;
    };
    if (!IsLive(text))
        return fail(kForm);
    LiveAddress result;
    result.text = text;
    result.protocol = text[0] == 'r' ? Protocol::Rtp : Protocol::Udp;
    std::string rest = text.substr(6);

    const size_t query = rest.find('?');
    if (query != std::string::npos) {
        const std::string option = rest.substr(query + 1);
        rest.erase(query);
        const std::string key = "interface=";
        if (option.rfind(key, 0) != 0 || option.size() == key.size())
            return fail("the only option is ?interface=NAME or ?interface=ADDRESS");
        result.interfaceName = option.substr(key.size());
    }
    const size_t at = rest.find('@');
    if (at != std::string::npos) {
        result.source = rest.substr(0, at);
        rest.erase(0, at + 1);
        if (result.source.size() > 2 && result.source.front() == '[' && result.source.back() == ']')
            result.source = result.source.substr(1, result.source.size() - 2);
        if (result.source.empty())
            return fail("empty source before '@'");
    }
    if (!TakeHost(rest, result.address))
        return fail(kForm);
    if (rest.size() < 2 || rest[0] != ':')
        return fail("no port");
    unsigned port = 0;
    const char* begin = rest.data() + 1;
    const char* end = rest.data() + rest.size();
    const auto [stop, ec] = std::from_chars(begin, end, port);
    if (ec != std::errc() || stop != end || port == 0 || port > 65535)
        return fail("the port must be a number from 1 to 65535");
    result.port = static_cast<uint16_t>(port);
    out = std::move(result);
    return true;
}

} // namespace Skts
