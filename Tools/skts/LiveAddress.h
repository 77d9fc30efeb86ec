#pragma once
// The network inputs every command takes in place of a file:
//   udp://[SOURCE@]ADDRESS:PORT[?interface=NAME|ADDRESS]   datagrams of transport packets
//   rtp://[SOURCE@]ADDRESS:PORT[?interface=NAME|ADDRESS]   the same inside RTP
// ADDRESS (numeric) is a unicast address of this machine (or 0.0.0.0 / [::]) or a multicast group;
// SOURCE@ asks for source-specific multicast; IPv6 addresses go in brackets.
#include <cstdint>
#include <string>

namespace Skts {

struct LiveAddress {
    enum class Protocol { Udp, Rtp };

    Protocol protocol = Protocol::Udp;
    std::string source; // empty: any source
    std::string address;
    uint16_t port = 0;
    std::string interfaceName; // empty: the default interface
    std::string text;          // as given, for messages

    // Whether the text names a network input at all (udp:// or rtp://), right or wrong.
    static bool IsLive(const std::string& text);
    // Parses the text; on failure returns false and sets error to a one-line reason.
    static bool Parse(const std::string& text, LiveAddress& out, std::string& error);
};

} // namespace Skts
