// SPDX-License-Identifier: GPL-3.0-or-later
#include "ball/capturelauncher.h"

#include "core/logging.h"

#include <QCoreApplication>
#include <QProcess>

namespace vb::ball {

CaptureLauncher::CaptureLauncher(QObject* parent)
    : CaptureLauncher(QCoreApplication::applicationFilePath(), {QStringLiteral("-ScreenCapture")},
                      parent)
{}

CaptureLauncher::CaptureLauncher(QString program, QStringList arguments, QObject* parent)
    : QObject(parent), m_program(std::move(program)), m_arguments(std::move(arguments))
{}

bool CaptureLauncher::start()
{
    if (m_process)
        return false; // one capture at a time
    auto* process = new QProcess(this);
    m_process = process;
    connect(process, &QProcess::finished, this, &CaptureLauncher::onProcessFinished);
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        // A process that never started sends no finished; without this no capture would
        // ever start again.
        if (e != QProcess::FailedToStart || m_process != process)
            return;
        qCWarning(lcBall) << "BallViewer: the screen capture could not be started:"
                          << process->errorString();
        onProcessFinished(-1);
    });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(m_program, m_arguments, QIODevice::ReadWrite);
    return true;
}

void CaptureLauncher::onProcessFinished(int exitCode)
{
    if (m_process)
        m_process->deleteLater();
    m_process = nullptr;
    Q_EMIT finished(exitCode);
}

} // namespace vb::ball
