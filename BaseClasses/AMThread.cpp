#include "AMThread.h"

#include <system_error>
#include <utility>

CAMThread::CAMThread(HRESULT* phr) : m_EventSend(FALSE, phr), m_EventComplete(FALSE, phr) {}

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create()
{
    CAutoLock lock(&m_AccessLock);
    std::lock_guard threadLock(m_threadLock);
    if (m_thread.joinable())
        return FALSE;
    try {
        m_thread = std::thread([this] { ThreadProc(); });
    } catch (const std::system_error&) {
        return FALSE;
    }
    return TRUE;
}

void CAMThread::Close()
{
    std::thread thread;
    {
        std::lock_guard threadLock(m_threadLock);
        thread = std::move(m_thread);
    }
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // closed from its own ThreadProc: it ends on return
    else
        thread.join();
}

BOOL CAMThread::ThreadExists() const
{
    std::lock_guard threadLock(m_threadLock);
    return m_thread.joinable() ? TRUE : FALSE;
}

DWORD CAMThread::CallWorker(DWORD dwParam)
{
    CAutoLock lock(&m_AccessLock);
    if (!ThreadExists())
        return static_cast<DWORD>(E_FAIL);
    m_dwParam = dwParam;
    m_EventSend.Set();
    m_EventComplete.Wait();
    return m_dwReturnVal;
}

DWORD CAMThread::GetRequest()
{
    m_EventSend.Wait();
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* pParam)
{
    if (!m_EventSend.Check())
        return FALSE;
    if (pParam != nullptr)
        *pParam = m_dwParam;
    return TRUE;
}

void CAMThread::Reply(DWORD dw)
{
    m_dwReturnVal = dw;
    // The caller may be released only after the reply value is stored.
    m_EventComplete.Set();
}
