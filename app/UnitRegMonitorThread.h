#pragma once
// A thread that watches one registry key and everything below it and tells
// the user-interface thread when it changed.

#include "platform/win32.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

namespace vt::app
{

class TRegMonitorThread : public QThread
{
    Q_OBJECT
public:
    // REG_NOTIFY_CHANGE_NAME | _ATTRIBUTES | _LAST_SET | _SECURITY
    static constexpr DWORD DefaultNotifyFilter = 15;

    explicit TRegMonitorThread(QObject *parent = nullptr);
    // Asks the thread to stop and waits for it.
    ~TRegMonitorThread() override;

    // Set before start(); not touched afterwards.
    std::uint8_t Bitness = 32; // registry view
    HKEY Root = nullptr;
    std::string Path;       // below the root, without leading or trailing backslash
    DWORD NotifyFilter = 0; // 0: DefaultNotifyFilter
    // Runs on the thread of `CallbackContext` (the user-interface thread)
    // with the watched key; a report that arrives after the context is gone
    // is dropped.
    std::function<void(HKEY root, const std::string &path)> Callback;
    QObject *CallbackContext = nullptr;

    // Wakes the thread at once and lets it end.
    void RequestStop();
    bool StopRequested() const { return m_stopRequested; }
    bool StoppedOnRequest() const { return m_stoppedOnRequest; }
    // Whether the key could be opened and is watched.
    bool Watching() const { return m_watching; }
    // After start(): waits until the thread has registered for changes (or
    // found that the key does not open), so that a list made after this
    // misses no change. True when that happened in time; otherwise the
    // thread reports once as soon as it has registered, and the list made
    // meanwhile is made again.
    bool WaitRegistered(int ms);
    // Reports made so far.
    int ReportCount() const { return m_reports; }

protected:
    void run() override;

private:
    HANDLE m_event = nullptr; // private to this monitor: no cross-talk between monitors
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_stoppedOnRequest{false};
    std::atomic<bool> m_watching{false};
    std::atomic<int> m_reports{0};
    std::mutex m_readyMutex;
    std::condition_variable m_readyChanged;
    bool m_ready = false;     // registered, or the key did not open
    bool m_waitedOut = false; // WaitRegistered gave up: report once when registered
};

} // namespace vt::app
