#pragma once
// The dialogs' texts, read from the string table.

#include "storage/StringTable.h"

#include <QString>

inline QString DialogText(unsigned id)
{
    return QString::fromStdString(LoadString(id));
}
