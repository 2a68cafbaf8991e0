#include "UnitRegMonitorThread.h"

#include "core/kltRegistry.h"

#include <QMetaObject>

namespace vt::app
{

TRegMonitorThread::TRegMonitorThread(QObject *parent) : QThread(parent)
{
    // Manual reset, unsignalled, without a name.
    m_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

TRegMonitorThread::~TRegMonitorThread()
{
    RequestStop();
    wait();
    if (m_event)
        CloseHandle(m_event);
}

void TRegMonitorThread::RequestStop()
{
    m_stopRequested = true;
    requestInterruption();
    if (m_event)
        SetEvent(m_event);
}

bool TRegMonitorThread::WaitRegistered(int ms)
{
    std::unique_lock<std::mutex> lock(m_readyMutex);
    if (!m_readyChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_ready; }))
        m_waitedOut = true;
    return m_ready;
}

void TRegMonitorThread::run()
{
    // Whatever way this ends, a waiter is released.
    struct Ready {
        TRegMonitorThread &t;
        bool late = false;
        void signal()
        {
            std::lock_guard<std::mutex> lock(t.m_readyMutex);
            if (t.m_ready)
                return;
            t.m_ready = true;
            late = t.m_waitedOut;
            t.m_readyChanged.notify_all();
        }
        ~Ready() { signal(); }
    } ready{*this};

    const DWORD filter = NotifyFilter ? NotifyFilter : DefaultNotifyFilter;
    {
        TMyRegistry reg;
        bool opened = false;
        try {
            reg.SetBitness(Bitness);
            reg.SetRootKey(Root);
            opened = m_event && reg.OpenKeyReadOnly(Path);
        } catch (const std::exception &) {
            opened = false;
        }
        if (!opened)
            return; // not watched, and no report
        // Registering resets the event; a stop asked for before this point
        // must not be lost.
        RegNotifyChangeKeyValue(reg.CurrentKey(), TRUE, filter, m_event, TRUE);
        m_watching = true;
        ready.signal();
        // The owner listed the key before this registration: a change made
        // in between would never be reported, so report once now.
        if (ready.late)
            SetEvent(m_event);
        if (m_stopRequested)
            SetEvent(m_event);
        while (!isInterruptionRequested() && !m_stopRequested) {
            if (WaitForSingleObject(m_event, 50) != WAIT_OBJECT_0)
                continue;
            if (m_stopRequested || isInterruptionRequested())
                break;
            ++m_reports;
            if (Callback && CallbackContext) {
                // Queued rather than waited for: the user-interface thread may
                // be waiting for this thread to end. The owner stops this thread
                // before the context goes, and a report still queued then is
                // dropped with the context.
                const HKEY root = Root;
                const std::string path = Path;
                auto callback = Callback;
                QMetaObject::invokeMethod(
                    CallbackContext, [callback, root, path] { callback(root, path); }, Qt::QueuedConnection);
            }
            ResetEvent(m_event);
            RegNotifyChangeKeyValue(reg.CurrentKey(), TRUE, filter, m_event, TRUE);
        }
        m_watching = false;
    } // the accessor closes the watched key here
    if (m_stopRequested)
        m_stoppedOnRequest = true;
}

} // namespace vt::app
