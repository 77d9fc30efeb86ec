#pragma once
// The one place that decides where the COM and DirectShow declarations come from: the
// Windows SDK on Windows, this folder's own replacements elsewhere. Everything above this
// header is written against the SDK names only and compiles unchanged on both.
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <strmif.h>
#include <uuids.h>
#include <bdaiface.h>
#include <vfwmsgs.h>
#include <evcode.h>
#else
#include "Compat/ComTypes.h"
#include "Compat/ComGuids.h"
#include "Compat/DShowInterfaces.h"
#include "Compat/Win32Api.h"
#include "Compat/ComApi.h"
#include "Compat/Registry.h"
#endif
