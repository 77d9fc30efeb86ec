#include "StopRequest.h"

#if defined(_WIN32)

#include <windows.h>

#include <atomic>

namespace Skts {

namespace {

// The console calls its handlers on a thread of its own, without a context: this is all the
// handler and the StopRequest that installed it share.
struct ConsoleStop {
    std::atomic<bool> requested{false};
    std::atomic<bool> finished{false};
};

ConsoleStop& Shared()
{
    static ConsoleStop state;
    return state;
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    Shared().requested = true;
    // The process ends as soon as the handler returns from these: hold it while the run reads
    // what is queued and prints its report (Windows itself allows a handler about 5 s).
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < 4500 && !Shared().finished; waited += 50)
            ::Sleep(50);
    }
    return TRUE;
}

} // namespace

StopRequest::StopRequest()
{
    Shared().requested = false;
    Shared().finished = false;
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE))
        error_ = "cannot watch Ctrl-C (error " + std::to_string(::GetLastError()) + ")";
}

StopRequest::~StopRequest()
{
    Shared().finished = true;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool StopRequest::Requested() { return Shared().requested; }

} // namespace Skts

#else

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Skts {

// SIGINT and SIGTERM are read from a descriptor. They stay blocked until the process exits (it
// does soon after the run), so that a signal that comes late cannot cut the report short.
// Threads started later inherit the mask.
StopRequest::StopRequest()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0 ||
        (signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK)) < 0)
        error_ = std::strerror(errno);
}

StopRequest::~StopRequest()
{
    if (signalFd_ >= 0)
        ::close(signalFd_);
}

bool StopRequest::Requested()
{
    bool any = false;
    signalfd_siginfo info{};
    while (signalFd_ >= 0 && ::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        any = true;
    return any;
}

} // namespace Skts

#endif
