// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the screen capture as a process of its own, one at a time: a request while one runs
// is dropped, and the next one after it ended starts anew.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QProcess;

namespace vb::ball {

class CaptureLauncher : public QObject
{
    Q_OBJECT
public:
    // By default the capture is the host executable started with "-ScreenCapture".
    explicit CaptureLauncher(QObject* parent = nullptr);
    CaptureLauncher(QString program, QStringList arguments, QObject* parent = nullptr);

    // Starts a capture unless one runs; returns whether this call started one.
    bool start();
    bool isRunning() const { return !m_process.isNull(); }
    QString program() const { return m_program; }
    QStringList arguments() const { return m_arguments; }

Q_SIGNALS:
    // The capture process ended (or could not be started); a new one may start now.
    void finished(int exitCode);

private:
    void onProcessFinished(int exitCode);

    QString m_program;
    QStringList m_arguments;
    QPointer<QProcess> m_process;
};

} // namespace vb::ball
