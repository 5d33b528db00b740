// SPDX-License-Identifier: GPL-3.0-or-later
// The end of one memory release, told to whoever started it: the release thread emits
// finished once with the bytes by which free physical memory grew (0 when it did not).
#pragma once

#include <QObject>

class EmptingMemorySetNotifyer : public QObject
{
    Q_OBJECT
public:
    EmptingMemorySetNotifyer();
    ~EmptingMemorySetNotifyer() override;

Q_SIGNALS:
    void finished(quint64 freedBytes);
};
