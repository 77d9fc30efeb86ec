#pragma once
// One UDP socket bound for a network input: unicast, or a multicast group joined on the given
// or the default interface (source-specific when a source is given), with a receive buffer of
// a few MiB and kernel receive time stamps where the socket offers them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "LiveAddress.h"

struct sockaddr_storage;

namespace Skts {

#if defined(_WIN32)
// Winsock in use while it lives (WSAStartup and WSACleanup).
class WinsockUse {
public:
    WinsockUse();
    ~WinsockUse();
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
    int Failure() const { return failure_; } // 0, or WSAStartup's error code

private:
    int failure_ = 0;
};
#endif

class UdpReceiver {
public:
    // Enough for about 0.7 s of a 100 Mbit/s stream while the reader is held up.
    static constexpr int kRequestedBufferBytes = 8 << 20;

    UdpReceiver() = default;
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Resolves, joins and binds; false with Error() set to one line naming what failed.
    bool Open(const LiveAddress& address);
    const std::string& Error() const { return error_; }

#if defined(_WIN32)
    using Socket = std::uintptr_t; // SOCKET
    static constexpr Socket kNoSocket = ~Socket{0};
#else
    using Socket = int;
    static constexpr Socket kNoSocket = -1;
#endif
    Socket Descriptor() const { return fd_; }
    // What the kernel granted (it may give less than asked, or count its bookkeeping too).
    int ReceiveBufferBytes() const { return bufferBytes_; }
    bool KernelTimestamps() const { return kernelTimestamps_; }
    bool Multicast() const { return multicast_; }

    struct Datagram {
        size_t size = 0;
        bool truncated = false;
        // The kernel's stamp (real-time clock) where there are kernel stamps, else the time of
        // receipt: the real-time clock on POSIX, the steady clock on Windows.
        int64_t arrivalNs = 0;
    };
    // Takes one waiting datagram without blocking: 1 with one, 0 when none waits, -1 on an
    // error (Error() says which).
    int Receive(uint8_t* buffer, size_t capacity, Datagram& datagram);

private:
    bool Fail(const std::string& message);
    // The platform's part of Open: the socket, its buffer, the group and the bind.
    bool OpenSocket(const LiveAddress& address, const sockaddr_storage& local, const sockaddr_storage* source);

#if defined(_WIN32)
    WinsockUse winsock_;
#endif
    Socket fd_ = kNoSocket;
    int bufferBytes_ = 0;
    bool kernelTimestamps_ = false;
    bool multicast_ = false;
    std::string text_;
    std::string error_;
};

} // namespace Skts
