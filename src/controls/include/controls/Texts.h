#pragma once
// The program's texts as the widgets show them: the string table's bytes read as UTF-8.

#include "storage/StringTable.h"

#include <QString>

inline QString Text(unsigned id)
{
    return QString::fromStdString(LoadString(id));
}
