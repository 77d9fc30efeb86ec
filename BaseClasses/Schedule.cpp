#include "Schedule.h"

#include "BasePin.h" // MAX_TIME

CAMSchedule::CAMSchedule() : CBaseObject(NAME("Advise schedule")) {}

CAMSchedule::~CAMSchedule() = default;

DWORD_PTR CAMSchedule::AddAdvisePacket(REFERENCE_TIME time, REFERENCE_TIME period, HANDLE handle, BOOL periodic)
{
    bool earliest = false;
    DWORD_PTR cookie = 0;
    {
        std::lock_guard lock(m_lock);
        cookie = m_nextCookie++;
        earliest = m_packets.empty() || time < m_packets.begin()->first;
        m_packets.emplace(time, Packet{cookie, period, handle, periodic != FALSE});
    }
    if (earliest)
        m_wake.Set();
    return cookie;
}

HRESULT CAMSchedule::Unadvise(DWORD_PTR cookie)
{
    std::lock_guard lock(m_lock);
    for (auto it = m_packets.begin(); it != m_packets.end(); ++it) {
        if (it->second.cookie == cookie) {
            m_packets.erase(it);
            return S_OK;
        }
    }
    return S_FALSE;
}

REFERENCE_TIME CAMSchedule::Advise(REFERENCE_TIME now)
{
    std::lock_guard lock(m_lock);
    while (!m_packets.empty() && m_packets.begin()->first <= now) {
        auto node = m_packets.extract(m_packets.begin());
        const Packet& packet = node.mapped();
        if (packet.periodic) {
            ReleaseSemaphore(packet.handle, 1, nullptr);
            node.key() += packet.period;
            m_packets.insert(std::move(node));
        } else {
            SetEvent(packet.handle);
        }
    }
    return m_packets.empty() ? MAX_TIME : m_packets.begin()->first;
}

REFERENCE_TIME CAMSchedule::GetNextAdviseTime()
{
    std::lock_guard lock(m_lock);
    return m_packets.empty() ? MAX_TIME : m_packets.begin()->first;
}

DWORD CAMSchedule::GetAdviseCount()
{
    std::lock_guard lock(m_lock);
    return static_cast<DWORD>(m_packets.size());
}
