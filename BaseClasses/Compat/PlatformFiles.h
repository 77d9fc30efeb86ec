#pragma once
// File operations the registry file needs beyond the standard library: an exclusive lock that
// serialises its writers across processes, and replacement of a file's contents in one step.
// PlatformPosix.cpp implements them.
#include <string>

// Holds an exclusive lock on a lock file (created when missing) from construction until
// destruction; other holders, in this process or another, wait for it.
class ExclusiveFileLock {
public:
    explicit ExclusiveFileLock(const std::string& path);
    ~ExclusiveFileLock();
    ExclusiveFileLock(const ExclusiveFileLock&) = delete;
    ExclusiveFileLock& operator=(const ExclusiveFileLock&) = delete;

    bool Held() const { return descriptor_ >= 0; }
    const std::string& Error() const { return error_; }

private:
    int descriptor_ = -1;
    std::string error_;
};

// Writes contents to a new file beside path and renames it over path, so that a reader sees the
// old contents or the new, never a part. False with a message on failure; path is then untouched.
bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& error);
// Removes path; a path that does not exist is no failure.
bool RemoveFileIfPresent(const std::string& path, std::string& error);
