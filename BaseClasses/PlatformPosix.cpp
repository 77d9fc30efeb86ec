// Operating-system calls of the base classes for platforms without Windows. This is the only
// platform-specific source of the folder; on Windows the system supplies these functions.
#if !defined(_WIN32)
#include "ComPlatform.h"
#include "Compat/PlatformFiles.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A kernel object behind a HANDLE. Handles cross module boundaries (the host makes an event that
// a filter's module signals), and every module carries its own copy of this file, so each
// operation is a virtual call into the module that made the object and nothing relies on RTTI.
// The handle holds one reference; signalling holds another while it notifies, so that a waiter
// that closes the handle as soon as it wakes cannot free the object under the signaller.
class KernelObject {
public:
    // True when the object was signalled within the time-out (INFINITE waits for ever).
    virtual bool Wait(DWORD milliseconds) = 0;
    virtual bool Set() { return false; }
    virtual bool Reset() { return false; }
    virtual bool Release(LONG, LONG*) { return false; }

    virtual void AddRef() { references_.fetch_add(1, std::memory_order_relaxed); }
    virtual void ReleaseRef()
    {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

protected:
    virtual ~KernelObject() = default;

private:
    std::atomic<long> references_{1};
};

// Holds a reference for the scope of a signalling call.
class KernelObjectReference {
public:
    explicit KernelObjectReference(KernelObject& object) : object_(object) { object_.AddRef(); }
    ~KernelObjectReference() { object_.ReleaseRef(); }
    KernelObjectReference(const KernelObjectReference&) = delete;
    KernelObjectReference& operator=(const KernelObjectReference&) = delete;

private:
    KernelObject& object_;
};

class WaitableObject : public KernelObject {
public:
    bool Wait(DWORD milliseconds) final
    {
        std::unique_lock lock(mutex_);
        auto signalled = [this] { return IsSignalled(); };
        if (milliseconds == INFINITE)
            changed_.wait(lock, signalled);
        else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled))
            return false;
        Consume();
        return true;
    }

protected:
    virtual bool IsSignalled() const = 0;
    virtual void Consume() = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
};

class EventObject final : public WaitableObject {
public:
    EventObject(bool manualReset, bool initialState) : manualReset_(manualReset), signalled_(initialState) {}

    // Notifies after releasing the lock, so that the woken thread does not wake only to block on
    // it; the reference keeps the object alive should that thread close the handle at once.
    bool Set() override
    {
        const KernelObjectReference alive(*this);
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        if (manualReset_)
            changed_.notify_all();
        else
            changed_.notify_one();
        return true;
    }
    bool Reset() override
    {
        std::lock_guard lock(mutex_);
        signalled_ = false;
        return true;
    }

private:
    bool IsSignalled() const override { return signalled_; }
    void Consume() override
    {
        if (!manualReset_)
            signalled_ = false;
    }

    const bool manualReset_;
    bool signalled_;
};

class SemaphoreObject final : public WaitableObject {
public:
    SemaphoreObject(LONG initialCount, LONG maximumCount) : count_(initialCount), maximum_(maximumCount) {}

    bool Release(LONG releaseCount, LONG* previousCount) override
    {
        const KernelObjectReference alive(*this); // notified after the lock, as Set is
        {
            std::lock_guard lock(mutex_);
            if (releaseCount <= 0 || count_ > maximum_ - releaseCount)
                return false;
            if (previousCount)
                *previousCount = count_;
            count_ += releaseCount;
        }
        changed_.notify_all();
        return true;
    }

private:
    bool IsSignalled() const override { return count_ > 0; }
    void Consume() override { --count_; }

    LONG count_;
    const LONG maximum_;
};

KernelObject* ToObject(HANDLE handle) { return static_cast<KernelObject*>(handle); }

} // namespace

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb == 0 ? 1 : cb); }
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) { return std::realloc(pv, cb == 0 ? 1 : cb); }
void CoTaskMemFree(LPVOID pv) { std::free(pv); }

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    constexpr int kGuidChars = 39; // braces, 32 digits, 4 dashes and the terminator
    if (lpsz == nullptr || cchMax < kGuidChars)
        return 0;
    std::swprintf(lpsz, static_cast<size_t>(cchMax), L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1], rguid.Data4[2],
                  rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    return kGuidChars;
}

DWORD timeGetTime() { return static_cast<DWORD>(static_cast<uint64_t>(SteadyNanoseconds() / 1000000)); }

MMRESULT timeGetDevCaps(TIMECAPS* ptc, UINT cbtc)
{
    if (ptc == nullptr || cbtc < sizeof(TIMECAPS))
        return TIMERR_NOCANDO;
    ptc->wPeriodMin = 1;
    ptc->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}
MMRESULT timeBeginPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }
MMRESULT timeEndPeriod(UINT uPeriod) { return uPeriod == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount)
{
    if (lpPerformanceCount == nullptr)
        return FALSE;
    lpPerformanceCount->QuadPart = SteadyNanoseconds();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency)
{
    if (lpFrequency == nullptr)
        return FALSE;
    lpFrequency->QuadPart = 1000000000;
    return TRUE;
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    if (lpOutputString == nullptr)
        return;
    // One write per call keeps lines of different threads apart.
    std::fwrite(lpOutputString, 1, std::strlen(lpOutputString), stderr);
    std::fflush(stderr);
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }

HANDLE CreateEvent(LPVOID, BOOL bManualReset, BOOL bInitialState, LPCTSTR)
{
    return static_cast<KernelObject*>(new EventObject(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) { return hEvent != nullptr && ToObject(hEvent)->Set() ? TRUE : FALSE; }

BOOL ResetEvent(HANDLE hEvent) { return hEvent != nullptr && ToObject(hEvent)->Reset() ? TRUE : FALSE; }

HANDLE CreateSemaphore(LPVOID, LONG lInitialCount, LONG lMaximumCount, LPCTSTR)
{
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount)
        return nullptr;
    return static_cast<KernelObject*>(new SemaphoreObject(lInitialCount, lMaximumCount));
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LONG* lpPreviousCount)
{
    return hSemaphore != nullptr && ToObject(hSemaphore)->Release(lReleaseCount, lpPreviousCount) ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    if (hHandle == nullptr)
        return WAIT_FAILED;
    return ToObject(hHandle)->Wait(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (hObject == nullptr)
        return FALSE;
    ToObject(hObject)->ReleaseRef();
    return TRUE;
}

// ---- Errors -------------------------------------------------------------------------------

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

// ---- Text ---------------------------------------------------------------------------------

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i]; malformed input gives U+FFFD and skips one byte.
char32_t DecodeUtf8(const unsigned char* text, size_t size, size_t& i)
{
    const unsigned char lead = text[i++];
    if (lead < 0x80)
        return lead;
    const int extra = lead >= 0xF0 && lead < 0xF5 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) > size)
        return kReplacement;
    char32_t code = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if ((text[i + k] & 0xC0) != 0x80)
            return kReplacement;
        code = (code << 6) | (text[i + k] & 0x3F);
    }
    const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return kReplacement;
    i += static_cast<size_t>(extra);
    return code;
}

void EncodeUtf8(char32_t code, std::string& out)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        code = kReplacement;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string ToUtf8(LPCWSTR text)
{
    std::string out;
    for (; text != nullptr && *text != 0; ++text)
        EncodeUtf8(static_cast<char32_t>(*text), out);
    return out;
}

} // namespace

int MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar)
{
    if ((CodePage != CP_ACP && CodePage != CP_UTF8) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cchWideChar < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the terminated string, terminator included.
    const size_t size = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const auto* text = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    int written = 0;
    for (size_t i = 0; i < size;) {
        const char32_t code = DecodeUtf8(text, size, i);
        if (cchWideChar != 0) {
            if (written == cchWideChar) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return 0;
            }
            lpWideCharStr[written] = static_cast<WCHAR>(code);
        }
        ++written;
    }
    return written;
}

int WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR, LPBOOL lpUsedDefaultChar)
{
    if ((CodePage != CP_ACP && CodePage != CP_UTF8) || lpWideCharStr == nullptr || cchWideChar == 0 ||
        cbMultiByte < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar != nullptr)
        *lpUsedDefaultChar = FALSE;
    const size_t count = cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string out;
    for (size_t i = 0; i < count; ++i)
        EncodeUtf8(static_cast<char32_t>(lpWideCharStr[i]), out);
    if (cbMultiByte == 0)
        return static_cast<int>(out.size());
    if (out.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, out.data(), out.size());
    return static_cast<int>(out.size());
}

// ---- Environment and system -----------------------------------------------------------------

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize)
{
    const char* value = lpName != nullptr ? std::getenv(lpName) : nullptr;
    if (value == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const size_t length = std::strlen(value);
    if (lpBuffer == nullptr || length + 1 > nSize)
        return static_cast<DWORD>(length + 1);
    std::memcpy(lpBuffer, value, length + 1);
    return static_cast<DWORD>(length);
}

BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation)
{
    if (lpVersionInformation == nullptr || lpVersionInformation->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    utsname name{};
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    if (uname(&name) == 0)
        std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    lpVersionInformation->dwMajorVersion = major;
    lpVersionInformation->dwMinorVersion = minor;
    lpVersionInformation->dwBuildNumber = build;
    lpVersionInformation->dwPlatformId = 2;
    lpVersionInformation->szCSDVersion[0] = 0;
    return TRUE;
}

// ---- Modules --------------------------------------------------------------------------------

namespace {

using DllMainFunction = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// The loader's own bookkeeping, as the operating system keeps it on Windows: how often each
// module was loaded through LoadLibraryW, so that DllMain hears of its first load and its last
// release only. The lock is recursive because DllMain may load other modules.
class LoadedModules {
public:
    static LoadedModules& Instance()
    {
        static LoadedModules modules;
        return modules;
    }

    HMODULE Load(const std::string& path)
    {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::error_code ec;
            SetLastError(path.find('/') != std::string::npos && !std::filesystem::exists(path, ec)
                             ? ERROR_MOD_NOT_FOUND
                             : ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        std::lock_guard lock(mutex_);
        if (references_[handle]++ == 0 && !Notify(handle, DLL_PROCESS_ATTACH)) {
            references_.erase(handle);
            dlclose(handle);
            SetLastError(ERROR_DLL_INIT_FAILED);
            return nullptr;
        }
        return handle;
    }

    BOOL Free(HMODULE module)
    {
        std::lock_guard lock(mutex_);
        const auto found = references_.find(module);
        if (found == references_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (--found->second == 0) {
            Notify(module, DLL_PROCESS_DETACH);
            references_.erase(found);
        }
        dlclose(module);
        return TRUE;
    }

private:
    static bool Notify(void* handle, DWORD reason)
    {
        const auto dllMain = reinterpret_cast<DllMainFunction>(dlsym(handle, "DllMain"));
        return dllMain == nullptr || dllMain(static_cast<HINSTANCE>(handle), reason, nullptr) != FALSE;
    }

    std::recursive_mutex mutex_;
    std::map<void*, int> references_;
};

} // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (lpLibFileName == nullptr || *lpLibFileName == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = ToUtf8(lpLibFileName);
    // A path with a folder names a file, relative to the current folder; a bare name is searched.
    if (path.find('/') != std::string::npos) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(path, ec);
        if (!ec)
            path = absolute.lexically_normal().string();
    }
    return LoadedModules::Instance().Load(path);
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    if (hLibModule == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return LoadedModules::Instance().Free(hLibModule);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    void* symbol = hModule != nullptr && lpProcName != nullptr ? dlsym(hModule, lpProcName) : nullptr;
    if (symbol == nullptr)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string path;
    if (hModule == nullptr) {
        std::error_code ec;
        path = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    } else {
        link_map* map = nullptr;
        if (dlinfo(hModule, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
            path = map->l_name;
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() + 1 > nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName)
{
    const std::string path = lpModuleName != nullptr ? ToUtf8(lpModuleName) : std::string();
    void* handle = dlopen(lpModuleName != nullptr ? path.c_str() : nullptr, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    dlclose(handle); // RTLD_NOLOAD counted a reference
    return handle;
}

BOOL DisableThreadLibraryCalls(HMODULE hLibModule) { return hLibModule != nullptr ? TRUE : FALSE; }

// ---- Files ----------------------------------------------------------------------------------

ExclusiveFileLock::ExclusiveFileLock(const std::string& path)
{
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    int result = 0;
    while ((result = ::flock(descriptor, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        error_ = "cannot lock " + path + ": " + std::strerror(errno);
        ::close(descriptor);
        return;
    }
    descriptor_ = descriptor;
}

ExclusiveFileLock::~ExclusiveFileLock()
{
    if (descriptor_ >= 0)
        ::close(descriptor_); // releases the lock
}

namespace {

bool WriteAll(int descriptor, const std::string& contents)
{
    size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(descriptor, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<size_t>(n);
    }
    return true;
}

void SyncFolderOf(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
}

} // namespace

bool ReplaceFileContents(const std::string& path, const std::string& contents, std::string& error)
{
    std::string temporary = path + ".XXXXXX";
    const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (descriptor < 0) {
        error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(descriptor, contents) && ::fchmod(descriptor, 0644) == 0 && ::fsync(descriptor) == 0;
    const int writeErrno = errno;
    const bool closed = ::close(descriptor) == 0;
    if (!written || !closed) {
        error = "cannot write " + temporary + ": " + std::strerror(written ? errno : writeErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolderOf(path);
    return true;
}

bool RemoveFileIfPresent(const std::string& path, std::string& error)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove " + path + ": " + std::strerror(errno);
        return false;
    }
    SyncFolderOf(path);
    return true;
}
#endif
