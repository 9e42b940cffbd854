#pragma once
// The six columns of the process list, one row each: title, width at start and alignment, in
// column order. Everything the window and its model know of a column comes from here.

#include "monitor/RowStore.h"
#include "storage/StringTable.h"

#include <Qt>

struct ColumnFacts {
    Column column;
    StringId title;
    // Width at every start, in the pixels of the 8-point dialog font it was chosen for; what
    // the user drags is not kept.
    int width;
    Qt::Alignment alignment;
};

inline constexpr ColumnFacts kColumns[ColumnCount] = {
    {ColName, IDS_COL_NAME, 130, Qt::AlignLeft | Qt::AlignVCenter},
    {ColPid, IDS_COL_PID, 40, Qt::AlignRight | Qt::AlignVCenter},
    {ColStart, IDS_COL_START_TIME, 120, Qt::AlignRight | Qt::AlignVCenter},
    {ColFinish, IDS_COL_FINISH_TIME, 120, Qt::AlignRight | Qt::AlignVCenter},
    {ColCpu, IDS_COL_CPU, 60, Qt::AlignRight | Qt::AlignVCenter},
    {ColFile, IDS_COL_FILE, 400, Qt::AlignLeft | Qt::AlignVCenter},
};

// The table is indexed by column: row i describes column i.
constexpr bool ColumnsInOrder()
{
    for (int i = 0; i < ColumnCount; ++i)
        if (kColumns[i].column != i)
            return false;
    return true;
}
static_assert(ColumnsInOrder(), "kColumns must list the columns in their order");
