#pragma once
// Runs the tool under conditions a shell cannot set up reliably: standard output a pipe whose
// reader is already gone, with SIGPIPE ignored.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "RunTool.h"

namespace SktsTest {

inline ToolResult RunWithClosedPipe(const std::string& command)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    ::close(fds[0]);
    const auto errPath = std::filesystem::temp_directory_path() / ("skts_pipe_err_" + std::to_string(::getpid()));
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGPIPE, SIG_IGN);
        ::dup2(fds[1], 1);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ToolResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = Slurp(errPath);
    std::filesystem::remove(errPath);
    return result;
}

} // namespace SktsTest
