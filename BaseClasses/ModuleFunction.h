#pragma once
// A function exported by a loaded module, typed. GetProcAddress hands out an untyped pointer;
// the detour through void (*)() keeps the compiler from warning about the cast.
#include "ComPlatform.h"

template <typename Function>
Function GetModuleFunction(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
