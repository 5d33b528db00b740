// SPDX-License-Identifier: GPL-3.0-or-later
// What the host's own documents call: show the ball again, refresh the boost list, quit, keep a
// screen capture and say where it went; and what they show of the ball's requests.
#pragma once

#include <QImage>
#include <QObject>

#include <functional>

class HostBridge : public QObject
{
    Q_OBJECT
    // How many times the ball handed the user over to the cleaner (its Clean tab).
    Q_PROPERTY(int cleanRequests READ cleanRequests NOTIFY cleanRequestsChanged)
public:
    explicit HostBridge(std::function<void()> showBall, QObject* parent = nullptr)
        : QObject(parent), m_showBall(std::move(showBall))
    {}
    Q_INVOKABLE void showBall();
    Q_INVOKABLE void refreshList();
    void setRefreshList(std::function<void()> refresh) { m_refreshList = std::move(refresh); }
    // Shows the main window (activating it when asked to); given by main().
    void setShowMain(std::function<void(bool)> show) { m_showMain = std::move(show); }
    Q_INVOKABLE void quit();
    // Writes the capture into the user's pictures folder; the path, empty on failure.
    Q_INVOKABLE QString saveCapture(const QImage& image);
    int cleanRequests() const { return m_cleanRequests; }

Q_SIGNALS:
    void cleanRequestsChanged();

public Q_SLOTS:
    void onLastFix(uint count, quint64 bytes);
    // The cleaner is the suite's own: the demo host only shows that it was asked.
    void onToCleanPage();
    void showMain()
    {
        if (m_showMain)
            m_showMain(false);
    }
    void openMain()
    {
        if (m_showMain)
            m_showMain(true);
    }

private:
    static void tellUser(const QString& savedPath);

    std::function<void()> m_showBall;
    std::function<void()> m_refreshList;
    int m_cleanRequests = 0;
    std::function<void(bool)> m_showMain;
};
