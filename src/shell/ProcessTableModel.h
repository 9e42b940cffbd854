#pragma once
// The display's view of the process table: it keeps no copy of the rows but reads them from
// the monitor's RowStore (without a lock, by the store's design) and formats a cell's text
// when the view asks for it. The batches the monitor posts say how many rows there are and
// which changed. Rows are only ever appended, so row i here is row i of the monitor's table.
//
// Cost per batch is proportional to the rows in the batch, never to the rows in the table:
// appended rows arrive as one insertion, changed rows as one dataChanged each.

#include "monitor/ProcessTable.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <string>
#include <vector>

class ProcessTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // `rows` outlives the model.
    explicit ProcessTableModel(const RowStore& rows, QObject* parent = nullptr);
    ~ProcessTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Takes one batch: rows at or beyond the current count are appended (one insertion),
    // changed rows are announced one by one, and all time texts when the offset changed.
    void Apply(TableChanges&& changes);

    // The cell text exactly as the window shows it; empty for a cell out of range.
    std::string CellText(int row, int column) const;
    int Image(int row) const;
    int ImageCount() const;

    // The title of a column, as the header shows it.
    static QString ColumnTitle(int column);
    static Qt::Alignment ColumnAlignment(int column);
    // Image 0: the default process icon drawn for this program.
    static QIcon DefaultIcon();

private:
    struct ImageEntry {
        std::string name;     // empty for image 0 and for images the monitor has not named
        mutable QIcon icon;   // resolved on first use
        mutable bool resolved = false;
    };
    const QIcon& IconOf(int image) const;

    const RowStore& m_store;
    int m_rowCount = 0; // rows announced so far
    std::vector<ImageEntry> m_images;
};
