#pragma once
// The advise schedule of a reference clock: one-shot events and periodic semaphores, fired
// in time order by Advise.
#include "AMEvent.h"
#include "ComBase.h"

#include <map>
#include <mutex>

class CAMSchedule : public CBaseObject {
public:
    CAMSchedule();
    ~CAMSchedule() override;

    // time: when to fire; period: 0 for a one-shot event, else the semaphore's period.
    // Returns the cookie (never 0). Wakes the advise thread when it becomes the earliest.
    DWORD_PTR AddAdvisePacket(REFERENCE_TIME time, REFERENCE_TIME period, HANDLE handle, BOOL periodic);
    // S_OK when the cookie was scheduled, S_FALSE otherwise.
    HRESULT Unadvise(DWORD_PTR cookie);
    // Fires everything due at or before now; returns the next due time, MAX_TIME when none.
    REFERENCE_TIME Advise(REFERENCE_TIME now);
    REFERENCE_TIME GetNextAdviseTime();
    DWORD GetAdviseCount();
    // Signalled when an earlier advise arrives; the advise thread waits on it.
    HANDLE GetEvent() const { return m_wake; }

private:
    struct Packet {
        DWORD_PTR cookie;
        REFERENCE_TIME period;
        HANDLE handle;
        bool periodic;
    };

    std::mutex m_lock;
    std::multimap<REFERENCE_TIME, Packet> m_packets;
    DWORD_PTR m_nextCookie = 1;
    CAMEvent m_wake;
};
