#include "UdpReceiver.h"

#if defined(_WIN32)

namespace Skts {

UdpReceiver::~UdpReceiver() = default;

bool UdpReceiver::Fail(const std::string& message)
{
    error_ = message;
    return false;
}

bool UdpReceiver::Open(const LiveAddress& address)
{
    return Fail("cannot receive " + address.text + ": network input is not available in the Windows build");
}

int UdpReceiver::Receive(uint8_t*, size_t, Datagram&) { return -1; }

} // namespace Skts

#else

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

namespace Skts {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

bool IsMulticast(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr));
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    return false;
}

// Index of the interface named, or holding the address given; 0 when there is none.
unsigned InterfaceIndex(const std::string& name)
{
    if (const unsigned index = ::if_nametoindex(name.c_str()); index != 0)
        return index;
    in_addr v4{};
    in6_addr v6{};
    const bool isV4 = ::inet_pton(AF_INET, name.c_str(), &v4) == 1;
    const bool isV6 = !isV4 && ::inet_pton(AF_INET6, name.c_str(), &v6) == 1;
    if (!isV4 && !isV6)
        return 0;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 0;
    unsigned found = 0;
    for (const ifaddrs* entry = list; entry != nullptr && found == 0; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr)
            continue;
        if (isV4 && entry->ifa_addr->sa_family == AF_INET &&
            reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == v4.s_addr)
            found = ::if_nametoindex(entry->ifa_name);
        if (isV6 && entry->ifa_addr->sa_family == AF_INET6 &&
            std::memcmp(&reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, &v6, sizeof v6) == 0)
            found = ::if_nametoindex(entry->ifa_name);
    }
    ::freeifaddrs(list);
    return found;
}

bool Resolve(const std::string& host, uint16_t port, int family, sockaddr_storage& out, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    // Numeric addresses only: a name would mean a lookup that may block or leave the machine.
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = rc == EAI_NONAME ? "'" + host + "' is no numeric IP address" : "'" + host + "': " + ::gai_strerror(rc);
        return false;
    }
    const AddrInfoPtr owner(found);
    std::memcpy(&out, found->ai_addr, found->ai_addrlen);
    return true;
}

int64_t RealtimeNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

} // namespace

UdpReceiver::~UdpReceiver()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool UdpReceiver::Fail(const std::string& message)
{
    error_ = "cannot receive " + text_ + ": " + message;
    return false;
}

bool UdpReceiver::Open(const LiveAddress& address)
{
    text_ = address.text;
    sockaddr_storage local{};
    std::string reason;
    if (!Resolve(address.address, address.port, AF_UNSPEC, local, reason)) {
        error_ = "bad address '" + address.text + "': " + reason;
        return false;
    }
    multicast_ = IsMulticast(local);
    sockaddr_storage source{};
    if (!address.source.empty()) {
        if (!multicast_) {
            error_ = "bad address '" + address.text + "': a source (SOURCE@) needs a multicast group";
            return false;
        }
        if (!Resolve(address.source, 0, local.ss_family, source, reason)) {
            error_ = "bad address '" + address.text + "': " + reason;
            return false;
        }
    }
    unsigned interfaceIndex = 0;
    if (!address.interfaceName.empty()) {
        if (!multicast_) {
            error_ = "bad address '" + address.text + "': ?interface applies to multicast groups only";
            return false;
        }
        interfaceIndex = InterfaceIndex(address.interfaceName);
        if (interfaceIndex == 0)
            return Fail("no interface '" + address.interfaceName + "'");
    }

    fd_ = ::socket(local.ss_family, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0)
        return Fail(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    // Several listeners may share a group; a unicast port stays exclusive, so a port in use is
    // an error rather than a silent split of the datagrams.
    if (multicast_)
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Beyond rmem_max only with the capability; otherwise ask within the limit.
    int requested = kRequestedBufferBytes;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &requested, sizeof requested) != 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &requested, sizeof requested);
    socklen_t length = sizeof bufferBytes_;
    ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes_, &length);
    kernelTimestamps_ = ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;

    if (multicast_) {
        // Joined before the bind: once the port is bound, the socket receives.
        const int level = local.ss_family == AF_INET ? IPPROTO_IP : IPPROTO_IPV6;
        int rc = 0;
        if (address.source.empty()) {
            group_req request{};
            request.gr_interface = interfaceIndex;
            std::memcpy(&request.gr_group, &local, sizeof local);
            rc = ::setsockopt(fd_, level, MCAST_JOIN_GROUP, &request, sizeof request);
        } else {
            group_source_req request{};
            request.gsr_interface = interfaceIndex;
            std::memcpy(&request.gsr_group, &local, sizeof local);
            std::memcpy(&request.gsr_source, &source, sizeof source);
            rc = ::setsockopt(fd_, level, MCAST_JOIN_SOURCE_GROUP, &request, sizeof request);
        }
        if (rc != 0) {
            return Fail("cannot join group " + address.address +
                        (address.interfaceName.empty() ? std::string(" on the default interface")
                                                       : " on interface " + address.interfaceName) +
                        ": " + std::strerror(errno));
        }
    }
    const socklen_t localLength = local.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        const int error = errno;
        if (error == EADDRINUSE)
            return Fail("port " + std::to_string(address.port) + " is in use");
        if (error == EADDRNOTAVAIL)
            return Fail(address.address + " is no address of this machine");
        return Fail(std::string("bind: ") + std::strerror(error));
    }
    return true;
}

int UdpReceiver::Receive(uint8_t* buffer, size_t capacity, Datagram& datagram)
{
    iovec vector{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd_, &message, 0);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return 0;
        // A refused earlier send to this socket's peer and the like: no reason to stop.
        if (errno == ECONNREFUSED)
            return 0;
        error_ = "cannot receive " + text_ + ": " + std::strerror(errno);
        return -1;
    }
    datagram.size = static_cast<size_t>(got);
    datagram.truncated = (message.msg_flags & MSG_TRUNC) != 0;
    datagram.arrivalNs = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            datagram.arrivalNs = int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    if (datagram.arrivalNs == 0)
        datagram.arrivalNs = RealtimeNs();
    return 1;
}

} // namespace Skts

#endif
