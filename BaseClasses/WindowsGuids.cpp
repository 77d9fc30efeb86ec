// Windows only: defines, once and as selectany, the identifiers the SDK headers declare, so that
// those mingw-w64's import libraries lack (IID_IReferenceClockTimerControl among them) link.
#if defined(_WIN32)
#include <initguid.h>

#include "ComPlatform.h"
#endif
