// SPDX-License-Identifier: GPL-3.0-or-later
#include "flow/flowdatalist.h"

#include "core/logging.h"
#include "core/sizetext.h"
#include "helper/extractfileicon.h"
#include "memory/systemusagesampler.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#include <boost/chrono.hpp>

namespace {

QString iconOf(const QString& path)
{
    const QString file = ExtractFileIcon::fileIcon(path, QString());
    if (file.isEmpty())
        return QStringLiteral("images/icon_proc_default.png");
    // A file URL; fromLocalFile keeps it well formed whether or not the path has a drive.
    return QUrl::fromLocalFile(file).toString();
}

} // namespace

FlowDataList::FlowDataList(QObject* parent) : FlowDataList(vb::platform::makeNative(), parent) {}

FlowDataList::FlowDataList(vb::platform::Platform backends, QObject* parent)
    : QAbstractListModel(parent), m_backends(std::move(backends))
{
    registerFlowMetaTypes();
}

FlowDataList::~FlowDataList()
{
    if (!m_worker.joinable())
        return;
    m_worker.interrupt();
    // A cycle blocked in a device or bus call ends within its own timeouts; should one not,
    // let the thread go rather than hang the host's shutdown.
    if (!m_worker.try_join_for(boost::chrono::seconds(5))) {
        qCWarning(lcFlow) << "FlowDataList: the sampling worker did not stop; leaving it";
        m_worker.detach();
    }
}

void FlowDataList::startMonitoring()
{
    startMonitoring(FlowSamplingSetup());
}

void FlowDataList::startMonitoring(FlowSamplingSetup setup)
{
    if (m_notifier)
        return;
    setup.fillFrom(m_backends);
    m_notifier = std::make_shared<FlowDataNotifier>();
    connect(m_notifier.get(), &FlowDataNotifier::dataFound, this, &FlowDataList::onDataFound);
    connect(m_notifier.get(), &FlowDataNotifier::processChanged, this,
            &FlowDataList::onProcessChanged);
    m_worker = startFlowSampling(m_notifier, std::move(setup));
}

int FlowDataList::rowCount(const QModelIndex& parent) const
{
    // A list: rows have no children.
    return parent.isValid() ? 0 : int(m_rows.size());
}

QHash<int, QByteArray> FlowDataList::roleNames() const
{
    static const QHash<int, QByteArray> names{
        {role_title, "role_title"},
        {role_proc_name, "role_proc_name"},
        {role_flow_in, "role_flow_in"},
        {role_flow_in_speed, "role_flow_in_speed"},
        {role_flow_out, "role_flow_out"},
        {role_flow_out_speed, "role_flow_out_speed"},
        {role_flow_total, "role_flow_total"},
        {role_is_blocked, "role_is_blocked"},
        {role_connection_count, "role_connection_count"},
        {role_dead, "role_dead"},
        {role_icon, "role_icon"},
    };
    return names;
}

QVariant FlowDataList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const FlowDataProc& row = m_rows.at(index.row());
    switch (role) {
    case role_proc_name:
        return QFileInfo(row.path).baseName();
    case role_flow_in:
        return QVariant::fromValue<quint64>(row.flowIn);
    case role_flow_in_speed:
        return speedText(row.flowInDelta, row.intervalMs);
    case role_flow_out:
        return QVariant::fromValue<quint64>(row.flowOut);
    case role_flow_out_speed:
        return speedText(row.flowOutDelta, row.intervalMs);
    case role_flow_total:
        return vb::sizeText(row.flowIn + row.flowOut);
    case role_is_blocked: {
        const auto it = m_blocked.find(row.pid);
        return it != m_blocked.end() && it->second;
    }
    case role_connection_count:
        return QVariant::fromValue<uint>(row.connectionCount);
    case role_dead:
        return row.connectionCount == 0;
    case role_icon:
        return iconOf(row.path);
    default:
        return QVariant();
    }
}

QString FlowDataList::speedText(quint64 bytes, quint32 intervalMs)
{
    if (intervalMs == 0)
        return QStringLiteral("0 B/s");
    const double rate = double(bytes) * 1000.0 / double(intervalMs);
    double value = rate;
    const char* unit = QT_TRANSLATE_NOOP("QObject", "B/s");
    if (rate >= 1048576.0) {
        value = rate / 1048576.0;
        unit = QT_TRANSLATE_NOOP("QObject", "MB/s");
    } else if (rate >= 1024.0) {
        value = rate / 1024.0;
        unit = QT_TRANSLATE_NOOP("QObject", "KB/s");
    }
    return QStringLiteral("%1 %2")
        .arg(value, 0, 'f', 2)
        .arg(QCoreApplication::translate("QObject", unit));
}

QString FlowDataList::totalInSpeed() const
{
    return m_info ? speedText(m_info->flowInDelta, m_info->intervalMs) : QString();
}

QString FlowDataList::totalOutSpeed() const
{
    return m_info ? speedText(m_info->flowOutDelta, m_info->intervalMs) : QString();
}

QString FlowDataList::totalIn() const
{
    return m_info ? vb::sizeText(m_info->flowIn) : QString();
}

QString FlowDataList::totalOut() const
{
    return m_info ? vb::sizeText(m_info->flowOut) : QString();
}

uint FlowDataList::memoryUsage() const
{
    return m_info ? m_info->memoryLoad : 0;
}

uint FlowDataList::cpuUsage() const
{
    return m_info ? m_info->cpuUsage : 0;
}

uint FlowDataList::performanceGrade() const
{
    return SystemUsageSampler::performanceGrade(m_info.get());
}

void FlowDataList::setHideSystem(bool hide)
{
    if (m_hideSystem == hide)
        return;
    m_hideSystem = hide;
    installRows(filtered(m_rows));
    Q_EMIT hideSystemChanged(hide);
}

void FlowDataList::setHideHistory(bool hide)
{
    if (m_hideHistory == hide)
        return;
    m_hideHistory = hide;
    installRows(filtered(m_rows));
    Q_EMIT hideHistoryChanged(hide);
}

void FlowDataList::onDataFound(FlowDataList_ptr list, TotalMemoryCpuFlowInfo_ptr info,
                               bool connected)
{
    if (list)
        installRows(filtered(*list));
    m_info = info;
    Q_EMIT totalDataChanged();
    if (connected != m_networkConnected) {
        m_networkConnected = connected;
        Q_EMIT networkConnectedChanged(connected);
    }
}

void FlowDataList::onProcessChanged()
{
    Q_EMIT processChanged();
}

QList<FlowDataProc> FlowDataList::filtered(const QList<FlowDataProc>& rows) const
{
    QList<FlowDataProc> out;
    out.reserve(rows.size());
    for (const FlowDataProc& row : rows) {
        if (row.dead && m_hideHistory)
            continue;
        if (row.system && m_hideSystem)
            continue;
        out.append(row);
    }
    return out;
}

void FlowDataList::installRows(QList<FlowDataProc> rows)
{
    // Rows are replaced by position, not matched by process id: the tail that goes or comes
    // is announced exactly, and the rows both lists share are reported changed in place, so
    // views re-read them without a reset and without persistent indexes going astray.
    const int oldCount = int(m_rows.size());
    const int newCount = int(rows.size());
    if (newCount < oldCount) {
        beginRemoveRows(QModelIndex(), newCount, oldCount - 1);
        m_rows = std::move(rows);
        endRemoveRows();
    } else if (newCount > oldCount) {
        beginInsertRows(QModelIndex(), oldCount, newCount - 1);
        m_rows = std::move(rows);
        endInsertRows();
    } else {
        m_rows = std::move(rows);
    }
    const int kept = qMin(oldCount, newCount);
    if (kept > 0)
        Q_EMIT dataChanged(index(0), index(kept - 1));
}

bool FlowDataList::qmlBlock(int row, bool block)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    const FlowDataProc& proc = m_rows.at(row);
    const std::wstring path = proc.path.toStdWString();
    const bool ok = block ? PSFilter::block(m_backends, path) : PSFilter::unblock(m_backends, path);
    if (!ok) {
        qCWarning(lcFlow) << "FlowDataList: the filter refused to" << (block ? "block" : "unblock")
                          << proc.path;
        return false;
    }
    m_blocked[proc.pid] = block;
    const QModelIndex i = index(row);
    Q_EMIT dataChanged(i, i, {role_is_blocked});
    return true;
}
