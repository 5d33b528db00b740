// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/procdatalist.h"

#include "core/logging.h"
#include "core/sizetext.h"
#include "helper/extractfileicon.h"
#include "procs/procfix.h"

#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <exception>

namespace {
const QString kDefaultIcon = QStringLiteral("images/icon_proc_default.png");

QString iconOf(const ProcListItem& row)
{
    if (row.isService)
        return kDefaultIcon;
    const QString file = ExtractFileIcon::fileIcon(QString::fromStdWString(row.path), QString());
    return file.isEmpty() ? kDefaultIcon : QUrl::fromLocalFile(file).toString();
}

QString nameOf(const ProcListItem& row)
{
    if (row.isService)
        return QString::fromStdWString(row.displayName.empty() ? row.serviceName : row.displayName);
    return QFileInfo(QString::fromStdWString(row.path)).baseName();
}
} // namespace

ProcDataList::ProcDataList(const std::shared_ptr<IProcessJudge>& judge, QObject* parent)
    : ProcDataList(judge, parent, vb::platform::makeNative())
{}

ProcDataList::ProcDataList(const std::shared_ptr<IProcessJudge>& judge, QObject* parent,
                           vb::platform::Platform backends)
    : QAbstractListModel(parent), m_judge(judge), m_backends(std::move(backends))
{
    registerProcMetaTypes();
}

ProcDataList::~ProcDataList()
{
    clear();
    m_reply.reset();
    m_judge.reset();
}

int ProcDataList::rowCount(const QModelIndex& parent) const
{
    Q_UNUSED(parent);
    return int(m_items.size());
}

QHash<int, QByteArray> ProcDataList::roleNames() const
{
    static const QHash<int, QByteArray> names{
        {role_is_header, "role_is_header"}, {role_select, "role_select"}, {role_icon, "role_icon"},
        {role_name, "role_name"},           {role_memory, "role_memory"},
    };
    return names;
}

QVariant ProcDataList::data(const QModelIndex& index, int role) const
{
    if (index.row() < 0 || index.row() >= m_items.size())
        return QVariant();
    const ProcListItem& row = m_items.at(index.row());
    const bool process = row.kind == PK_Process;
    switch (role) {
    case role_is_header:
        return !process;
    case role_select:
        return row.select;
    case role_icon:
        return process ? QVariant(iconOf(row)) : QVariant();
    case role_name:
        if (process)
            return nameOf(row);
        if (row.kind == PK_AdviceHeader)
            return tr("Advice");
        if (row.kind == PK_OptionalHeader)
            return tr("Optional");
        return QVariant();
    case role_memory:
        return vb::sizeText(row.memory);
    default:
        return QVariant();
    }
}

void ProcDataList::swapItems(QList<ProcListItem>& rows)
{
    const int before = int(m_items.size());
    const int after = int(rows.size());
    if (after > before) {
        beginInsertRows(QModelIndex(), before, after - 1);
        m_items = rows;
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows(QModelIndex(), after, before - 1);
        m_items = rows;
        endRemoveRows();
    } else {
        m_items = rows;
    }
    // The rows that stayed may all hold something else now: views read every row again.
    refresh();
}

void ProcDataList::clear()
{
    if (m_items.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, int(m_items.size()) - 1);
    m_items.clear();
    endRemoveRows();
}

void ProcDataList::refresh()
{
    Q_EMIT layoutAboutToBeChanged();
    Q_EMIT layoutChanged();
}

void ProcDataList::refresh(int row)
{
    const QModelIndex i = index(row, 0);
    Q_EMIT dataChanged(i, i);
}

void ProcDataList::qmlSelect(int row)
{
    if (row < 0 || row >= m_items.size())
        return;
    m_items[row].select = !m_items[row].select;
    refresh(row);
}

void ProcDataList::setIsFixing(bool fixing)
{
    if (m_isFixing == fixing)
        return;
    m_isFixing = fixing;
    Q_EMIT isFixingChanged(fixing);
}

void ProcDataList::onProcNeedUpdate()
{
    m_enumerated = false;
}

void ProcDataList::beginEnum()
{
    if (m_isFixing || m_enumerated)
        return;
    m_enumerated = true;
    QList<ProcListItem> rows = *enumerateForList(m_backends, m_judge, m_items);
    swapItems(rows);
}

void ProcDataList::onEnumOver(ProcListItems_ptr items, int status)
{
    m_reply.reset();
    if (status == 0 && items) {
        QList<ProcListItem> rows = *items;
        swapItems(rows);
    }
}

bool ProcDataList::startListenProcEvents()
{
    // Process changes come from the traffic sampler through onProcNeedUpdate.
    return true;
}

void ProcDataList::qmlStartFix()
{
    beginFix(false);
}

void ProcDataList::beginFix(bool releaseMemory)
{
    // The worker's copy shares the rows until it marks the first one.
    auto rows = std::make_shared<const QList<ProcListItem>>(m_items);
    if (!releaseMemory &&
        std::none_of(rows->cbegin(), rows->cend(), [](const ProcListItem& r) { return r.select; }))
        return;
    doFix(std::move(rows), releaseMemory);
}

void ProcDataList::doFix(ProcListItems_ptr rows, bool releaseMemory)
{
    if (m_isFixing)
        return; // one fix at a time per list; this request is dropped
    std::shared_ptr<FixEventNotifyer> notifier = vb::procs::makeFixEventNotifyer();
    // Emitted on the worker, so the slot runs queued on this list's thread.
    if (!connect(notifier.get(), &FixEventNotifyer::FixOver, this, &ProcDataList::onFixOver))
        return;
    setIsFixing(true);
    try {
        vb::procs::startFixWorker(std::move(rows), std::move(notifier), releaseMemory, m_backends);
    } catch (const std::exception& e) {
        // No result will ever come: without this the list would stay covered and refuse
        // every later fix and refresh.
        qCWarning(lcProcs) << "fix: no worker thread could be started:" << e.what();
        setIsFixing(false);
    }
}

void ProcDataList::onFixOver(ProcListItems_ptr rows, uint count, unsigned long long bytes)
{
    Q_UNUSED(rows); // the fixed marks and the release row are for other receivers
    QList<ProcListItem> none;
    swapItems(none);
    m_fixCount = count;
    m_fixMemory = bytes;
    Q_EMIT fixResultChanged(count, bytes);
    setIsFixing(false);
    // Filled again without what was closed, every row with its default tick.
    m_enumerated = false;
    beginEnum();
}
