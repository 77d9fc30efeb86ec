#pragma once
// The user's request to end a live run: SIGINT or SIGTERM on POSIX, Ctrl-C, Ctrl-Break or the
// console closing on Windows. While it lives, those no longer end the process; the run ends
// itself and prints its report.
#include <string>

namespace Skts {

class StopRequest {
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    // Empty, or why the request cannot be watched.
    const std::string& Error() const { return error_; }
    // Whether a stop was asked for (on POSIX this takes the signals waiting).
    bool Requested();
#if !defined(_WIN32)
    // Readable once a signal waits, to poll beside the socket.
    int Descriptor() const { return signalFd_; }
#endif

private:
    std::string error_;
#if !defined(_WIN32)
    int signalFd_ = -1;
#endif
};

} // namespace Skts
