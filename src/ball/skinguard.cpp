// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/skinguard.h"

#include "core/logging.h"

#include <QFileInfo>
#include <QQmlAbstractUrlInterceptor>
#include <QQmlEngine>
#include <QTimer>

namespace vb::ball {

namespace {
// A FIFO, socket or device named as a document or an image would block the GUI thread in
// open() or read(): such names load as a missing resource instead.
class RegularFilesOnly : public QQmlAbstractUrlInterceptor
{
public:
    QUrl intercept(const QUrl& url, DataType) override
    {
        if (!url.isLocalFile())
            return url;
        const QFileInfo fi(url.toLocalFile());
        if (!fi.exists() || fi.isFile() || fi.isDir())
            return url;
        qCWarning(lcSkins).noquote() << "skin: not a regular file, not read:" << fi.filePath();
        return QUrl(QStringLiteral("qrc:/Ball/not-a-regular-file"));
    }
};
} // namespace

SkinGuard::SkinGuard(QQmlEngine* engine, int loadBoundMs, QObject* parent)
    : QObject(parent), m_engine(engine), m_bound(loadBoundMs),
      m_interceptor(std::make_unique<RegularFilesOnly>())
{
    m_engine->addUrlInterceptor(m_interceptor.get());
    m_watchdog = std::thread([this] { watch(); });
}

SkinGuard::~SkinGuard()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_watchdog.join();
    m_engine->removeUrlInterceptor(m_interceptor.get());
}

void SkinGuard::arm(const QString& skin)
{
    m_skin = skin;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_armed = true;
        m_deadline = std::chrono::steady_clock::now() + m_bound;
    }
    m_wake.notify_all();
    // The load runs synchronously in this thread: once the loop gets control again, it is over.
    QTimer::singleShot(0, this, &SkinGuard::settle);
}

void SkinGuard::settle()
{
    bool cutOff = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        cutOff = m_cutOff;
        m_armed = false;
        m_cutOff = false;
    }
    m_wake.notify_all();
    if (!cutOff)
        return;
    m_engine->setInterrupted(false);
    Q_EMIT loadCutOff(m_skin, int(m_bound.count()));
}

void SkinGuard::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (!m_armed) {
            m_wake.wait(lock, [this] { return m_stop || m_armed; });
            continue;
        }
        const auto deadline = m_deadline;
        if (m_wake.wait_until(lock, deadline, [this, deadline] {
                return m_stop || !m_armed || m_deadline != deadline;
            }))
            continue;
        // Still loading past the bound: stop the scripts; the GUI thread reports it in settle().
        m_armed = false;
        m_cutOff = true;
        m_engine->setInterrupted(true);
    }
}

} // namespace vb::ball
