#include "UdpReceiver.h"

#include <cstring>
#include <memory>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <chrono>
#include <vector>
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
#include <ctime>
#endif

namespace Skts {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

bool IsMulticast(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr) & 0xF0000000u) == 0xE0000000u;
    if (address.ss_family == AF_INET6)
        return IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    return false;
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

} // namespace

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
    if (!address.interfaceName.empty() && !multicast_) {
        error_ = "bad address '" + address.text + "': ?interface applies to multicast groups only";
        return false;
    }
    return OpenSocket(address, local, address.source.empty() ? nullptr : &source);
}

#if defined(_WIN32)

namespace {

std::string ErrorText(int code)
{
    char* text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text != nullptr ? text : "";
    ::LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.' || result.back() == ' '))
        result.pop_back();
    return (result.empty() ? std::string("error") : result) + " (" + std::to_string(code) + ")";
}

// Where to join a group: the interface's IPv4 address for an IPv4 group, its index for IPv6.
struct JoinInterface {
    in_addr v4{};
    unsigned long v6Index = 0;
};

bool SameAddress(const SOCKADDR* address, const sockaddr_storage& wanted)
{
    if (address->sa_family != wanted.ss_family)
        return false;
    if (address->sa_family == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(wanted).sin_addr.s_addr;
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6&>(wanted).sin6_addr, sizeof(in6_addr)) == 0;
}

// The interface named (adapter or friendly name), numbered (its index) or holding the address
// given, for a group of the family given.
bool FindInterface(const std::string& name, int family, JoinInterface& out)
{
    // A plain number is an index (the resolver would take "1" for 0.0.0.1).
    const bool isIndex = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10;
    const unsigned long index = isIndex ? std::stoul(name) : 0;
    sockaddr_storage address{};
    std::string ignored;
    const bool numeric = !isIndex && Resolve(name, 0, family, address, ignored);
    if (numeric && family == AF_INET) {
        out.v4 = reinterpret_cast<const sockaddr_in&>(address).sin_addr;
        return true;
    }
    std::wstring wide(name.size(), L'\0');
    wide.resize(static_cast<size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), wide.data(), static_cast<int>(wide.size()))));

    std::vector<unsigned char> storage(16 << 10);
    ULONG size = static_cast<ULONG>(storage.size());
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.resize(size);
        rc = ::GetAdaptersAddresses(static_cast<ULONG>(family), flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    }
    if (rc != NO_ERROR)
        return false;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data()); adapter != nullptr;
         adapter = adapter->Next) {
        const unsigned long adapterIndex = family == AF_INET ? adapter->IfIndex : adapter->Ipv6IfIndex;
        bool match = (isIndex && adapterIndex == index) || name == adapter->AdapterName ||
                     (!wide.empty() && adapter->FriendlyName != nullptr && wide == adapter->FriendlyName);
        const IP_ADAPTER_UNICAST_ADDRESS* firstV4 = nullptr;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (socketAddress == nullptr)
                continue;
            if (numeric && SameAddress(socketAddress, address))
                match = true;
            if (firstV4 == nullptr && socketAddress->sa_family == AF_INET)
                firstV4 = unicast;
        }
        if (!match)
            continue;
        if (family == AF_INET) {
            if (firstV4 == nullptr)
                return false;
            out.v4 = reinterpret_cast<const sockaddr_in*>(firstV4->Address.lpSockaddr)->sin_addr;
        } else {
            out.v6Index = adapterIndex;
        }
        return true;
    }
    return false;
}

int64_t SteadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <typename Option>
int SetOption(UdpReceiver::Socket socket, int level, int name, const Option& value)
{
    return ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), static_cast<int>(sizeof value));
}

} // namespace

WinsockUse::WinsockUse()
{
    WSADATA data{};
    failure_ = ::WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockUse::~WinsockUse()
{
    if (failure_ == 0)
        ::WSACleanup();
}

UdpReceiver::~UdpReceiver()
{
    if (fd_ != kNoSocket)
        ::closesocket(fd_);
}

bool UdpReceiver::OpenSocket(const LiveAddress& address, const sockaddr_storage& local, const sockaddr_storage* source)
{
    if (winsock_.Failure() != 0)
        return Fail("Winsock: " + ErrorText(winsock_.Failure()));
    JoinInterface join{};
    join.v4.s_addr = htonl(INADDR_ANY);
    if (!address.interfaceName.empty() && !FindInterface(address.interfaceName, local.ss_family, join))
        return Fail("no interface '" + address.interfaceName + "'");

    fd_ = ::socket(local.ss_family, SOCK_DGRAM, IPPROTO_UDP);
    if (fd_ == kNoSocket)
        return Fail("socket: " + ErrorText(::WSAGetLastError()));
    u_long nonBlocking = 1;
    ::ioctlsocket(fd_, FIONBIO, &nonBlocking);
    // Several listeners may share a group; a unicast port stays exclusive, so a port in use is
    // an error rather than a silent split (or theft) of the datagrams.
    const BOOL on = TRUE;
    SetOption(fd_, SOL_SOCKET, multicast_ ? SO_REUSEADDR : SO_EXCLUSIVEADDRUSE, on);
    SetOption(fd_, SOL_SOCKET, SO_RCVBUF, kRequestedBufferBytes);
    int length = sizeof bufferBytes_;
    ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bufferBytes_), &length);
    kernelTimestamps_ = false;

    // A group's port is bound on the wildcard address (a group is no local address here), and
    // the group is joined after the bind, which Winsock asks for.
    sockaddr_storage bound = local;
    if (multicast_ && local.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(bound).sin_addr.s_addr = htonl(INADDR_ANY);
    if (multicast_ && local.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(bound).sin6_addr = in6addr_any;
    const int boundLength = local.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&bound), boundLength) != 0) {
        const int error = ::WSAGetLastError();
        if (error == WSAEADDRINUSE || error == WSAEACCES)
            return Fail("port " + std::to_string(address.port) + " is in use");
        if (error == WSAEADDRNOTAVAIL)
            return Fail(address.address + " is no address of this machine");
        return Fail("bind: " + ErrorText(error));
    }
    if (!multicast_)
        return true;

    int rc = 0;
    if (local.ss_family == AF_INET) {
        const in_addr group = reinterpret_cast<const sockaddr_in&>(local).sin_addr;
        if (source == nullptr) {
            ip_mreq request{};
            request.imr_multiaddr = group;
            request.imr_interface = join.v4;
            rc = SetOption(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, request);
        } else {
            ip_mreq_source request{};
            request.imr_multiaddr = group;
            request.imr_sourceaddr = reinterpret_cast<const sockaddr_in*>(source)->sin_addr;
            request.imr_interface = join.v4;
            rc = SetOption(fd_, IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, request);
        }
    } else if (source == nullptr) {
        ipv6_mreq request{};
        request.ipv6mr_multiaddr = reinterpret_cast<const sockaddr_in6&>(local).sin6_addr;
        request.ipv6mr_interface = join.v6Index;
        rc = SetOption(fd_, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP, request);
    } else {
        group_source_req request{};
        request.gsr_interface = join.v6Index;
        std::memcpy(&request.gsr_group, &local, sizeof local);
        std::memcpy(&request.gsr_source, source, sizeof *source);
        rc = SetOption(fd_, IPPROTO_IPV6, MCAST_JOIN_SOURCE_GROUP, request);
    }
    if (rc != 0) {
        return Fail("cannot join group " + address.address +
                    (address.interfaceName.empty() ? std::string(" on the default interface")
                                                   : " on interface " + address.interfaceName) +
                    ": " + ErrorText(::WSAGetLastError()));
    }
    return true;
}

int UdpReceiver::Receive(uint8_t* buffer, size_t capacity, Datagram& datagram)
{
    const int got = ::recv(fd_, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0);
    datagram.truncated = false;
    if (got == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        // WSAECONNRESET: a refused earlier send to this socket's peer; no reason to stop.
        if (error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAECONNRESET)
            return 0;
        if (error != WSAEMSGSIZE) {
            error_ = "cannot receive " + text_ + ": " + ErrorText(error);
            return -1;
        }
        // The buffer holds the first part; the rest of the datagram is gone.
        datagram.truncated = true;
        datagram.size = capacity;
    } else {
        datagram.size = static_cast<size_t>(got);
    }
    datagram.arrivalNs = SteadyNs();
    return 1;
}

#else

namespace {

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

bool UdpReceiver::OpenSocket(const LiveAddress& address, const sockaddr_storage& local, const sockaddr_storage* source)
{
    unsigned interfaceIndex = 0;
    if (!address.interfaceName.empty()) {
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
        if (source == nullptr) {
            group_req request{};
            request.gr_interface = interfaceIndex;
            std::memcpy(&request.gr_group, &local, sizeof local);
            rc = ::setsockopt(fd_, level, MCAST_JOIN_GROUP, &request, sizeof request);
        } else {
            group_source_req request{};
            request.gsr_interface = interfaceIndex;
            std::memcpy(&request.gsr_group, &local, sizeof local);
            std::memcpy(&request.gsr_source, source, sizeof *source);
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

#endif

} // namespace Skts
