#pragma once
// Registration of an in-process server from its factory-template table, as regsvr32 asks for
// it through DllRegisterServer and DllUnregisterServer:
//  - the COM server: HKEY_CLASSES_ROOT\CLSID\{clsid} with the template's name, and its
//    "InprocServer32" key with the module's path and "ThreadingModel" = "Both";
//  - the filter mapper's entry of every template with setup data (IFilterMapper2, or the old
//    IFilterMapper when the system has no other).
// Unregistering removes both; a server or filter that was not registered is no failure.
#include "ClassFactory.h"

HRESULT RegisterServerTemplates(HMODULE module, const CFactoryTemplate* templates, int count, BOOL bRegister);
