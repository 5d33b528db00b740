// SPDX-License-Identifier: GPL-3.0-or-later
// What the host's own documents call: show the ball again, refresh the boost list, quit, keep a
// screen capture and say where it went.
#pragma once

#include <QImage>
#include <QObject>

#include <functional>

class HostBridge : public QObject
{
    Q_OBJECT
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

public Q_SLOTS:
    void onLastFix(uint count, quint64 bytes);
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
    std::function<void(bool)> m_showMain;
};
