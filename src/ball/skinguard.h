// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps a skin from taking the ball down: a load gets a bounded time before its scripts are
// interrupted, and the ball's documents never open files that are not regular files.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class QQmlEngine;
class QQmlAbstractUrlInterceptor;

namespace vb::ball {

class SkinGuard : public QObject
{
    Q_OBJECT
public:
    static constexpr int kLoadBoundMs = 2000;

    explicit SkinGuard(QQmlEngine* engine, int loadBoundMs = kLoadBoundMs,
                       QObject* parent = nullptr);
    ~SkinGuard() override;

    // A skin named skin starts loading in the GUI thread now. The load counts as over when the
    // event loop runs again (or at settle(), whichever comes first).
    void arm(const QString& skin);
    // The load is over; reports loadCutOff when the bound had to interrupt it.
    void settle();

Q_SIGNALS:
    // The skin's scripts ran past the bound and were interrupted; the engine runs again.
    void loadCutOff(const QString& skin, int boundMs);

private:
    void watch();

    QQmlEngine* m_engine;
    const std::chrono::milliseconds m_bound;
    std::unique_ptr<QQmlAbstractUrlInterceptor> m_interceptor;
    QString m_skin; // GUI thread only

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_armed = false;
    bool m_cutOff = false;
    bool m_stop = false;
    std::chrono::steady_clock::time_point m_deadline;
    std::thread m_watchdog;
};

} // namespace vb::ball
