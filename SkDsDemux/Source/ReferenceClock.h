#pragma once
// The filter's reference clock: the system's millisecond timer in 100-ns units, shifted so that
// it reads -50 ms when the filter is made. It is aggregated into the filter: its IUnknown acts
// on the filter. It does not follow the stream's PCR.
#include "RefClock.h"

class ReferenceClock final : public CBaseReferenceClock {
public:
    // 50 ms, in 100 ns: what the clock reads below zero right after construction.
    static constexpr REFERENCE_TIME kStartOffset = 500'000;

    explicit ReferenceClock(LPUNKNOWN outer);
    ~ReferenceClock() override;

    REFERENCE_TIME GetPrivateTime() override;

private:
    REFERENCE_TIME timeOffset_ = 0;
};
