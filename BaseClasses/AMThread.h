#pragma once
// A worker thread with a request/reply channel. Derived classes implement ThreadProc and
// must call Close() in their own destructor, before the parts ThreadProc uses are gone.
#include "AMEvent.h"
#include "CritSec.h"

#include <mutex>
#include <thread>

class CAMThread {
public:
    explicit CAMThread(HRESULT* phr = nullptr);
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts ThreadProc on a new thread; FALSE when one exists already or cannot be made.
    BOOL Create();
    // Takes the thread (leaving none) and waits for it to end.
    void Close();
    BOOL ThreadExists() const;

    virtual DWORD ThreadProc() = 0;

    // Caller side of the request channel: blocks until the worker replies.
    DWORD CallWorker(DWORD dwParam);
    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);
    HANDLE GetRequestHandle() const { return m_EventSend; }
    DWORD GetRequestParam() const { return m_dwParam; }

    CCritSec m_AccessLock; // serialises callers of CallWorker and Create
    CCritSec m_WorkerLock; // for the worker's own use

protected:
    CAMEvent m_EventSend;
    CAMEvent m_EventComplete;

private:
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    mutable std::mutex m_threadLock;
    std::thread m_thread;
};
