#pragma once
// The COM runtime calls of ole32 for platforms without Windows, and the entry points every
// in-process server exports. CoCreateInstance finds a class under HKEY_CLASSES_ROOT\CLSID,
// loads its "InprocServer32" module and asks the module's class factory; the filter mapper is
// served by this runtime itself.
#include "Compat/ComTypes.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC | CLSCTX_LOCAL_SERVER | 0x10;

inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

// S_OK for the first initialisation of a thread, S_FALSE for a nested one. Every successful
// call is balanced by CoUninitialize; the last one in the process frees the modules that can go.
HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();
// CO_E_NOTINITIALIZED on a thread that has not initialised COM; REGDB_E_CLASSNOTREG for a class
// without "InprocServer32"; HRESULT_FROM_WIN32 of the registry's or the loader's error otherwise.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID* ppv);
// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
// Unloads every module loaded for CoCreateInstance whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

// The entry points of an in-process server, as objbase.h and the server's .def declare them;
// a module exports these and nothing else.
#define SKTS_MODULE_EXPORT __attribute__((visibility("default")))
#ifndef STDAPI
#define STDAPI EXTERN_C SKTS_MODULE_EXPORT HRESULT STDAPICALLTYPE
#endif
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
EXTERN_C SKTS_MODULE_EXPORT BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved);

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT (*)();
