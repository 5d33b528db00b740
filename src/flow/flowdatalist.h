// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic model behind the Network page and the figures on the ball: per-process rows,
// totals and speeds as text, memory load, CPU usage, the performance grade, the connection
// state, and blocking of one process's traffic.
#pragma once

#include "core/threadhandoff.h"
#include "core/totalmemorycpuflowinfo.h"
#include "flow/flowdatanotifier.h"
#include "platform/platform.h"

#include <QAbstractListModel>

#include <boost/thread/thread.hpp>

#include <map>
#include <memory>

class FlowDataList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QString totalInSpeed READ totalInSpeed NOTIFY totalDataChanged)
    Q_PROPERTY(QString totalOutSpeed READ totalOutSpeed NOTIFY totalDataChanged)
    Q_PROPERTY(QString totalIn READ totalIn NOTIFY totalDataChanged)
    Q_PROPERTY(QString totalOut READ totalOut NOTIFY totalDataChanged)
    Q_PROPERTY(uint memoryUsage READ memoryUsage NOTIFY totalDataChanged)
    Q_PROPERTY(uint cpuUsage READ cpuUsage NOTIFY totalDataChanged)
    Q_PROPERTY(uint performanceGrade READ performanceGrade NOTIFY totalDataChanged)
    Q_PROPERTY(bool hideSystem READ hideSystem WRITE setHideSystem NOTIFY hideSystemChanged)
    Q_PROPERTY(bool hideHistory READ hideHistory WRITE setHideHistory NOTIFY hideHistoryChanged)
    Q_PROPERTY(bool networkConnected READ networkConnected NOTIFY networkConnectedChanged)
public:
    // The numbers users of the model know: one past the user role of the toolkit the model
    // was first written for (32), kept although today's toolkit counts user roles from 256.
    enum Roles {
        role_title = 33,
        role_proc_name,
        role_flow_in,
        role_flow_in_speed,
        role_flow_out,
        role_flow_out_speed,
        role_flow_total,
        role_is_blocked,
        role_connection_count,
        role_dead,
        role_icon,
    };
    Q_ENUM(Roles)

    // On the native backends.
    explicit FlowDataList(QObject* parent = nullptr);
    // The sampling worker and block requests use the given backends.
    explicit FlowDataList(vb::platform::Platform backends, QObject* parent = nullptr);
    // Stops the sampling worker and waits for its current cycle, so no thread of ours
    // outlives the model (the host may unload the library after it).
    ~FlowDataList() override;

    // Starts the sampling worker; once only. Empty members of the setup take the model's
    // backends.
    void startMonitoring();
    void startMonitoring(FlowSamplingSetup setup);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString totalInSpeed() const;
    QString totalOutSpeed() const;
    QString totalIn() const;
    QString totalOut() const;
    uint memoryUsage() const;
    uint cpuUsage() const;
    uint performanceGrade() const;
    bool hideSystem() const { return m_hideSystem; }
    void setHideSystem(bool hide);
    bool hideHistory() const { return m_hideHistory; }
    void setHideHistory(bool hide);
    bool networkConnected() const { return m_networkConnected; }

    Q_INVOKABLE bool qmlBlock(int index, bool block);

    // "%1 %2" bytes per second over the interval; "0 B/s" for an empty interval.
    static QString speedText(quint64 bytes, quint32 intervalMs);
    const QList<FlowDataProc>& rows() const { return m_rows; }

Q_SIGNALS:
    void totalDataChanged();
    void hideSystemChanged(bool hide);
    void hideHistoryChanged(bool hide);
    void networkConnectedChanged(bool connected);
    void processChanged();

public Q_SLOTS:
    void onDataFound(FlowDataList_ptr list, TotalMemoryCpuFlowInfo_ptr info, bool connected);
    void onProcessChanged();

protected:
    bool event(QEvent* e) override
    {
        vb::core::handoffTaken(); // the worker's samples arrive as queued calls
        return QAbstractListModel::event(e);
    }

private:
    QList<FlowDataProc> filtered(const QList<FlowDataProc>& rows) const;
    void installRows(QList<FlowDataProc> rows);

    vb::platform::Platform m_backends;
    QList<FlowDataProc> m_rows;
    TotalMemoryCpuFlowInfo_ptr m_info;
    std::map<quint64, bool> m_blocked;
    bool m_hideSystem = false;
    bool m_hideHistory = false;
    bool m_networkConnected = false;
    std::shared_ptr<FlowDataNotifier> m_notifier;
    boost::thread m_worker;
};
