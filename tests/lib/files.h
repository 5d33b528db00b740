// SPDX-License-Identifier: GPL-3.0-or-later
// Files a test makes and reads: stand-in /proc and cgroup trees, configurations, documents and
// scripts in a temporary folder, and the captured texts under tests/fixtures.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vb::test {

// Writes text to path, making the folders on the way; false when any step fails. Given
// permissions (an executable script, say) are set after the write.
inline bool put(const QString& path, const QByteArray& text,
                QFileDevice::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size() &&
           f.flush() && (!permissions || f.setPermissions(permissions));
}

// What a file holds; "<absent>" for one that cannot be read.
inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

// A captured file under tests/fixtures, by its path below that folder ("memory/stat-busy.txt").
inline QString fixturePath(const QString& name)
{
    return QStringLiteral(VB_TEST_FIXTURES "/") + name;
}

// Its text; a missing fixture ends the run, since every row reading it would fail unexplained.
inline QByteArray fixtureText(const QString& name)
{
    QFile f(fixturePath(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

} // namespace vb::test
