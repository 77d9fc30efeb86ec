// The filter's module: a COM in-process server whose one class is the demultiplexer. It exports
// the five entry points of SkDsDemux.def and nothing else. Applications create the filter by its
// CLSID after regsvr32 (here: skts register) has registered the module; the filter enters a
// graph only when an application adds it, never through intelligent connect (MERIT_DO_NOT_USE).
#include "ClassFactory.h"
#include "DllSetup.h"
#include "SkDsDemux.h"

namespace {

// What the filter mapper records: one pin taking an MPEG-2 transport stream.
const AMOVIESETUP_MEDIATYPE kPinTypes[] = {
    {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG2_TRANSPORT},
};
const AMOVIESETUP_PIN kPins[] = {
    {nullptr, FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kPinTypes},
};
const AMOVIESETUP_FILTER kFilterSetup = {&CLSID_SkDsDemux, kSkDsDemuxFriendlyName, MERIT_DO_NOT_USE, 1, kPins};

const CFactoryTemplate kTemplates[] = {
    {kSkDsDemuxFriendlyName, &CLSID_SkDsDemux, &SkDsDemux::CreateInstance, nullptr, &kFilterSetup},
};
constexpr int kTemplateCount = static_cast<int>(sizeof kTemplates / sizeof kTemplates[0]);

// Set once by DllMain when the module is loaded, before any other entry point can run.
struct ModuleState {
    HMODULE module = nullptr;
    OSVERSIONINFOW osVersion{};
};

ModuleState& Module()
{
    static ModuleState state;
    return state;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    switch (dwReason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(hInstance);
        Module().osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        GetVersionExW(&Module().osVersion);
        Module().module = hInstance;
        InitTemplates(kTemplates, kTemplateCount, TRUE);
        break;
    case DLL_PROCESS_DETACH:
        InitTemplates(kTemplates, kTemplateCount, FALSE);
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return GetClassObjectFromTemplates(kTemplates, kTemplateCount, rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return CanUnloadNow(); }

STDAPI DllRegisterServer() { return RegisterServerTemplates(Module().module, kTemplates, kTemplateCount, TRUE); }

STDAPI DllUnregisterServer() { return RegisterServerTemplates(Module().module, kTemplates, kTemplateCount, FALSE); }
