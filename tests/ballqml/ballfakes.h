// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-ins for the objects the ball's documents talk to: a window (the ball or the panel) that
// records what the documents call, a traffic model whose figures a test sets, and a note window.
#pragma once

#include "skins/skinslist.h"

#include <QObject>
#include <QStringList>

class FakeBall : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isEmptingMemorySet READ isEmptingMemorySet WRITE setIsEmptingMemorySet NOTIFY
                   isEmptingMemorySetChanged)
    Q_PROPERTY(QStringList calls READ calls NOTIFY callsChanged)
    Q_PROPERTY(QString lastResize READ lastResize NOTIFY callsChanged)
    Q_PROPERTY(qulonglong winId READ winId CONSTANT)
public:
    explicit FakeBall(SkinsList* skins = nullptr) : m_skins(skins) {}

    bool isEmptingMemorySet() const { return m_releasing; }
    void setIsEmptingMemorySet(bool on)
    {
        if (on == m_releasing)
            return;
        m_releasing = on;
        Q_EMIT isEmptingMemorySetChanged(on);
    }
    QStringList calls() const { return m_calls; }
    QString lastResize() const { return m_lastResize; }

    Q_INVOKABLE void qmlDelayShowPopup() { log(QStringLiteral("qmlDelayShowPopup")); }
    Q_INVOKABLE void qmlCancelDelayShowPopup() { log(QStringLiteral("qmlCancelDelayShowPopup")); }
    Q_INVOKABLE void qmlShowMenu() { log(QStringLiteral("qmlShowMenu")); }
    Q_INVOKABLE void qmlReleaseMemory() { log(QStringLiteral("qmlReleaseMemory")); }
    Q_INVOKABLE void qmlRecordPos() { log(QStringLiteral("qmlRecordPos")); }
    Q_INVOKABLE void mousePressed() { log(QStringLiteral("mousePressed")); }
    Q_INVOKABLE void mousePressChanged(int area)
    {
        log(QStringLiteral("mousePressChanged %1").arg(area));
    }
    Q_INVOKABLE void mouseTitleDoubleClicked() { log(QStringLiteral("mouseTitleDoubleClicked")); }
    // The panel's and the capture view's.
    Q_INVOKABLE void qmlFacebook() { log(QStringLiteral("qmlFacebook")); }
    Q_INVOKABLE void qmlShowScreenCapture() { log(QStringLiteral("qmlShowScreenCapture")); }
    Q_INVOKABLE void qmlHide() { log(QStringLiteral("qmlHide")); }
    Q_INVOKABLE void qmlClose() { log(QStringLiteral("qmlClose")); }
    Q_INVOKABLE void addAllowFocusId(qulonglong id)
    {
        log(QStringLiteral("addAllowFocusId %1").arg(id));
    }
    qulonglong winId() const { return 0x2a00017; }
    Q_INVOKABLE void qmlWindowResize(int w, int h)
    {
        m_lastResize = QStringLiteral("%1x%2").arg(w).arg(h);
        log(QStringLiteral("qmlWindowResize ") + m_lastResize);
    }

    // Test controls.
    Q_INVOKABLE void clear()
    {
        m_calls.clear();
        Q_EMIT callsChanged();
    }
    Q_INVOKABLE void wearSkin(const QString& value) { m_skins->setCurrentSkin(value); }

Q_SIGNALS:
    void isEmptingMemorySetChanged(bool);
    void callsChanged();

private:
    void log(const QString& c)
    {
        m_calls << c;
        Q_EMIT callsChanged();
    }

    SkinsList* m_skins;
    bool m_releasing = false;
    QStringList m_calls;
    QString m_lastResize;
};

class FakeFlow : public QObject
{
    Q_OBJECT
    Q_PROPERTY(uint memoryUsage READ memoryUsage WRITE setMemoryUsage NOTIFY totalDataChanged)
    Q_PROPERTY(uint cpuUsage READ cpuUsage WRITE setCpuUsage NOTIFY totalDataChanged)
public:
    uint memoryUsage() const { return m_memory; }
    uint cpuUsage() const { return m_cpu; }
    void setMemoryUsage(uint v)
    {
        if (v == m_memory)
            return;
        m_memory = v;
        Q_EMIT totalDataChanged();
    }
    void setCpuUsage(uint v)
    {
        if (v == m_cpu)
            return;
        m_cpu = v;
        Q_EMIT totalDataChanged();
    }

Q_SIGNALS:
    void totalDataChanged();

private:
    uint m_memory = 7;
    uint m_cpu = 42;
};

// The note window's side of the release note: its text and the flag the document clears.
class FakeTip : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool showFlag READ showFlag WRITE setShowFlag NOTIFY showFlagChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
public:
    bool showFlag() const { return m_show; }
    void setShowFlag(bool on)
    {
        if (on == m_show)
            return;
        m_show = on;
        Q_EMIT showFlagChanged(on);
    }
    QString text() const { return m_text; }
    void setText(const QString& t)
    {
        if (t == m_text)
            return;
        m_text = t;
        Q_EMIT textChanged(t);
    }

Q_SIGNALS:
    void showFlagChanged(bool);
    void textChanged(QString);

private:
    bool m_show = false;
    QString m_text;
};
