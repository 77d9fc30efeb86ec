#pragma once
// The few operating-system calls the base classes and the filter make, for platforms without
// Windows. PlatformPosix.cpp implements them; nothing else in the tree is platform-specific.
#include "Compat/ComTypes.h"

// COM memory and strings
LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);
// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; returns the characters written including
// the terminator, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// Multimedia timer: monotonic milliseconds that wrap at 2^32.
struct TIMECAPS {
    UINT wPeriodMin;
    UINT wPeriodMax;
};
using MMRESULT = UINT;
inline constexpr MMRESULT TIMERR_NOERROR = 0;
inline constexpr MMRESULT TIMERR_NOCANDO = 97;
DWORD timeGetTime();
MMRESULT timeGetDevCaps(TIMECAPS* ptc, UINT cbtc);
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);

// Performance counter and debugger channel (standard error here).
BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);
void OutputDebugStringA(LPCSTR lpOutputString);
void Sleep(DWORD dwMilliseconds);

// Kernel objects: events and semaphores behind handles, waited on one at a time.
inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
HANDLE CreateEvent(LPVOID lpEventAttributes, BOOL bManualReset, BOOL bInitialState, LPCTSTR lpName);
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
HANDLE CreateSemaphore(LPVOID lpSemaphoreAttributes, LONG lInitialCount, LONG lMaximumCount, LPCTSTR lpName);
BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LONG* lpPreviousCount);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);

// Thread error code of the calls below.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Modules. LoadLibraryW calls the module's DllMain with DLL_PROCESS_ATTACH when it enters the
// process and FreeLibrary calls it with DLL_PROCESS_DETACH before the last reference leaves,
// as the Windows loader does. Modules are loaded with their symbols kept to themselves.
using FARPROC = intptr_t (*)();
inline constexpr DWORD DLL_PROCESS_DETACH = 0;
inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr DWORD DLL_THREAD_ATTACH = 2;
inline constexpr DWORD DLL_THREAD_DETACH = 3;
HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// The module's full path; null hModule: the program's. Truncated (and terminated) when nSize is
// too small, with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// The module when it is loaded in this process, else null. Takes no reference.
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
BOOL DisableThreadLibraryCalls(HMODULE hLibModule);

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
// The kernel's version (release numbers), platform id 2.
BOOL GetVersionExW(OSVERSIONINFOW* lpVersionInformation);

// Text conversions. The ANSI code page is UTF-8 here.
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                        int cchWideChar);
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                        int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar);

// The variable's length without the terminator when it fits into nSize (then copied), the size
// needed with the terminator when it does not, 0 with ERROR_ENVVAR_NOT_FOUND when unset.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
