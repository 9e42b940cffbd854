#include "ProcessTableModel.h"

#include "monitor/RowStore.h"
#include "storage/StringTable.h"

#include <algorithm>

ProcessTableModel::ProcessTableModel(const RowStore& rows, QObject* parent)
    : QAbstractTableModel(parent)
    , m_store(rows)
{
    m_images.resize(1); // image 0, the default icon
}

ProcessTableModel::~ProcessTableModel() = default;

int ProcessTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int ProcessTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ProcessTableModel::ColumnTitle(int column)
{
    if (column < 0 || column >= ColumnCount)
        return QString();
    // The header asks on every paint: the string table is read once.
    static const std::array<QString, ColumnCount> titles = [] {
        std::array<QString, ColumnCount> loaded;
        for (int i = 0; i < ColumnCount; ++i) {
            const std::string title = LoadString(kColumns[i].title);
            loaded[static_cast<std::size_t>(i)] =
                QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
        }
        return loaded;
    }();
    return titles[static_cast<std::size_t>(column)];
}

Qt::Alignment ProcessTableModel::ColumnAlignment(int column)
{
    if (column < 0 || column >= ColumnCount)
        return Qt::AlignLeft | Qt::AlignVCenter;
    const Qt::Alignment side =
        kColumns[column].align == ColumnAlign::Right ? Qt::AlignRight : Qt::AlignLeft;
    return side | Qt::AlignVCenter;
}

QIcon ProcessTableModel::DefaultIcon()
{
    static const QIcon icon(QStringLiteral(":/list/list/process.svg"));
    return icon;
}

QVariant ProcessTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return ColumnTitle(section);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ColumnAlignment(section));
    default:
        return QVariant();
    }
}

Qt::ItemFlags ProcessTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant ProcessTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rowCount || index.column() >= ColumnCount)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole: {
        const std::string text = m_store.CellText(index.row(), index.column());
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::DecorationRole:
        if (index.column() == ColName)
            return IconOf(m_store.Image(index.row()));
        return QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(ColumnAlignment(index.column()));
    default:
        return QVariant();
    }
}

const QIcon& ProcessTableModel::IconOf(int image) const
{
    if (image <= 0 || image >= static_cast<int>(m_images.size())) {
        const ImageEntry& def = m_images.front();
        if (!def.resolved) {
            def.icon = DefaultIcon();
            def.resolved = true;
        }
        return def.icon;
    }
    const ImageEntry& entry = m_images[static_cast<std::size_t>(image)];
    if (!entry.resolved) {
        // Desktop entries name a theme icon or, now and then, an image file by its path;
        // fromTheme takes both and gives the fallback when neither yields a picture.
        const QString name = QString::fromUtf8(entry.name.data(),
                                               static_cast<qsizetype>(entry.name.size()));
        entry.icon = name.isEmpty() ? DefaultIcon() : QIcon::fromTheme(name, DefaultIcon());
        entry.resolved = true;
    }
    return entry.icon;
}

void ProcessTableModel::Apply(TableChanges&& changes)
{
    // Images first, so that rows of this batch that use a new image find it. Image 0 is the
    // default icon, drawn here: the first batch names it too.
    if (!changes.iconNames.empty()) {
        const std::size_t first = static_cast<std::size_t>(std::max(changes.firstNewImage, 0));
        const std::size_t end = first + changes.iconNames.size();
        if (m_images.size() < end)
            m_images.resize(end);
        for (std::size_t i = first == 0 ? 1 : 0; i < changes.iconNames.size(); ++i) {
            ImageEntry& entry = m_images[first + i];
            entry.name = std::move(changes.iconNames[i]);
            entry.icon = QIcon();
            entry.resolved = false;
        }
    }

    // Rows already shown: announced one by one. Rows past the count are new, whatever the
    // batch says of them.
    for (int row : changes.rows) {
        if (row >= 0 && row < m_rowCount)
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    if (changes.timesChanged && m_rowCount > 0)
        emit dataChanged(index(0, ColStart), index(m_rowCount - 1, ColFinish));

    const int newCount = std::min(changes.rowCount, m_store.Count());
    if (newCount > m_rowCount) {
        beginInsertRows(QModelIndex(), m_rowCount, newCount - 1);
        m_rowCount = newCount;
        endInsertRows();
    }
}

std::string ProcessTableModel::CellText(int row, int column) const
{
    if (row < 0 || row >= m_rowCount)
        return {};
    return m_store.CellText(row, column);
}

int ProcessTableModel::Image(int row) const
{
    if (row < 0 || row >= m_rowCount)
        return 0;
    return m_store.Image(row);
}

int ProcessTableModel::ImageCount() const
{
    return static_cast<int>(m_images.size());
}
