// SPDX-License-Identifier: GPL-3.0-or-later
// Lists of literal texts (the project forbids implicit casts from char strings).
#pragma once

#include <QStringList>

#include <initializer_list>

inline QStringList sl(std::initializer_list<const char*> texts)
{
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
}
