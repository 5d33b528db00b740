// SPDX-License-Identifier: GPL-3.0-or-later
// A boost list: the judged processes and services of one mode (Office or Game) as a list
// model, with the user's ticks, and the fix that closes what is ticked.
#pragma once

#include "ball/ballexport.h"
#include "platform/platform.h"
#include "procs/procenum.h"

#include <QAbstractListModel>

#include <memory>

class VERDANTBALL_EXPORT ProcDataList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(bool isFixing READ isFixing NOTIFY isFixingChanged)
public:
    // The numbers users of the model know: two past the user role of the toolkit the model
    // was first written for (32).
    enum Roles {
        role_is_header = 34,
        role_select,
        role_icon,
        role_name,
        role_memory,
    };

    // Uses the build's native backends.
    explicit ProcDataList(const std::shared_ptr<IProcessJudge>& judge, QObject* parent = nullptr);
    // Fixes go through these backends (a ball hands down its own).
    ProcDataList(const std::shared_ptr<IProcessJudge>& judge, QObject* parent,
                 vb::platform::Platform backends);
    ~ProcDataList() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    void swapItems(QList<ProcListItem>& rows);
    void clear();
    void refresh();
    void refresh(int row);
    // Refreshes the rows from the running system unless they are up to date or a fix runs.
    void beginEnum();
    // Closes the ticked rows; with releaseMemory it also empties the working sets, and then
    // runs even when nothing is ticked.
    void beginFix(bool releaseMemory);
    bool startListenProcEvents();

    bool isFixing() const { return m_isFixing; }
    void setIsFixing(bool fixing);
    uint fixCount() const { return m_fixCount; }
    quint64 fixMemory() const { return m_fixMemory; }
    const QList<ProcListItem>& items() const { return m_items; }

Q_SIGNALS:
    void isFixingChanged(bool fixing);
    void fixResultChanged(uint count, quint64 bytes);

public Q_SLOTS:
    void onProcNeedUpdate();

private Q_SLOTS:
    void onEnumOver(ProcListItems_ptr items, int status);
    void onFixOver(ProcListItems_ptr rows, uint count, unsigned long long bytes);

public:
    Q_INVOKABLE void qmlSelect(int row);
    Q_INVOKABLE void qmlStartFix();

private:
    void doFix(ProcListItems_ptr rows, bool releaseMemory);

    std::shared_ptr<IProcessJudge> m_judge;
    QList<ProcListItem> m_items;
    bool m_enumerated = false;
    bool m_isFixing = false;
    uint m_fixCount = 0;
    quint64 m_fixMemory = 0;
    std::shared_ptr<EnumReply> m_reply;
    vb::platform::Platform m_backends;
};
