#include "IoThread.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace Skts {

void StartIoThread(const char* name)
{
#if defined(__linux__)
    pthread_setname_np(pthread_self(), name);
    const sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &none);
#else
    (void)name;
#endif
}

} // namespace Skts
