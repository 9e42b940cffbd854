#pragma once
// The display's copy of the process table: six cell texts and an image index per row, kept
// byte for byte as the monitor has them, and updated only from the batches the monitor posts.
// Rows are only ever appended, so row i here is row i of the monitor's table.
//
// Cost per batch is proportional to the rows in the batch, never to the rows in the table:
// appended rows arrive as one insertion, changed rows as one dataChanged each.

#include "monitor/ProcessTable.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <deque>
#include <string>
#include <vector>

class ProcessTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ProcessTableModel(QObject* parent = nullptr);
    ~ProcessTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Takes one batch: rows at or beyond the current count are appended (one insertion),
    // rows below it are replaced and announced only when a cell or the image really differs.
    void Apply(TableChanges&& changes);

    // The cell text exactly as the monitor wrote it; empty for a cell out of range.
    const std::string& CellText(int row, int column) const;
    int Image(int row) const;
    int ImageCount() const;

    // The title of a column, as the header shows it.
    static QString ColumnTitle(int column);
    static Qt::Alignment ColumnAlignment(int column);
    // Image 0: the default process icon drawn for this program.
    static QIcon DefaultIcon();

private:
    struct Row {
        std::array<std::string, ColumnCount> cells;
        int image = 0;
    };
    struct ImageEntry {
        std::string name;     // empty for image 0 and for images the monitor has not named
        mutable QIcon icon;   // resolved on first use
        mutable bool resolved = false;
    };
    const QIcon& IconOf(int image) const;

    std::deque<Row> m_rows; // no reallocation of the whole table as it grows
    std::vector<ImageEntry> m_images;
};
