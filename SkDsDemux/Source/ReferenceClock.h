#pragma once
// The filter's reference clock: the system's millisecond timer in 100-ns units, shifted so that
// it reads -50 ms when the filter is made. It is aggregated into the filter: its IUnknown acts
// on the filter. It does not follow the stream's PCR.
//
// Of its interfaces the filter hands out IReferenceClock only; IReferenceClockTimerControl is
// answered by the clock's own NonDelegatingQueryInterface but not through the filter.
#include "RefClock.h"

class ReferenceClock final : public CBaseReferenceClock {
public:
    // 50 ms, in 100 ns: what the clock reads below zero right after construction.
    static constexpr REFERENCE_TIME kStartOffset = 500'000;

    explicit ReferenceClock(LPUNKNOWN outer);
    // A clock on another millisecond source (tests show the counter's wrap with it).
    ReferenceClock(LPUNKNOWN outer, MillisecondTimer timer);
    ~ReferenceClock() override;

    // The timer's milliseconds since construction, in 100 ns, less 50 ms.
    REFERENCE_TIME GetPrivateTime() override;

private:
    REFERENCE_TIME timeOffset_ = 0;
};
