#pragma once
// A REFERENCE_TIME (100-ns units) with the conversions the filters use.
#include "ComPlatform.h"

inline constexpr LONGLONG MILLISECONDS = 1000;
inline constexpr LONGLONG UNITS = 10000000;

class CRefTime {
public:
    REFERENCE_TIME m_time = 0;

    CRefTime() = default;
    CRefTime(REFERENCE_TIME rt) : m_time(rt) {}
    explicit CRefTime(LONG msecs) : m_time(static_cast<REFERENCE_TIME>(msecs) * (UNITS / MILLISECONDS)) {}

    operator REFERENCE_TIME() const { return m_time; }
    CRefTime& operator=(REFERENCE_TIME rt)
    {
        m_time = rt;
        return *this;
    }
    CRefTime& operator+=(REFERENCE_TIME rt)
    {
        m_time += rt;
        return *this;
    }
    CRefTime& operator-=(REFERENCE_TIME rt)
    {
        m_time -= rt;
        return *this;
    }
    LONG Millisecs() const { return static_cast<LONG>(m_time / (UNITS / MILLISECONDS)); }
    LONGLONG GetUnits() const { return m_time; }
};
