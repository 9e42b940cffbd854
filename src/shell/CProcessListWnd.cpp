#include "CProcessListWnd.h"

#include "ProcessTableModel.h"
#include "controls/AskYesNo.h"
#include "dialogs/CDListDlg.h"
#include "monitor/RowStore.h"
#include "storage/StringTable.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// A "Start time" column of 120 held the 19 characters of a time text with room to spare.
constexpr int kTimeColumnRoom = 12;

} // namespace

int CProcessListWnd::ColumnWidth(int column, const QFontMetrics& metrics)
{
    // The common Linux fonts are wider than the one the widths were made for: they are
    // widened all alike until a time text fits its column again, so that no time, PID or
    // load is cut short; never narrowed.
    const int needed = metrics.horizontalAdvance(QStringLiteral("00/00/0000 00:00:00")) + kTimeColumnRoom;
    const double scale = std::max(1.0, double(needed) / kColumns[ColStart].width);
    const int width = static_cast<int>(std::lround(kColumns[column].width * scale));
    if (column != ColPid)
        return width;
    // Linux hands out identifiers up to seven digits (pid_max 4194304).
    return std::max(width, metrics.horizontalAdvance(QStringLiteral("0000000")) + kTimeColumnRoom);
}

CProcessListWnd::CProcessListWnd(const std::string& programDirectory, QWidget* parent)
    : QWidget(parent)
    , m_monitor(std::make_unique<CProcessMonitor>(programDirectory))
{
    // The frame hands the focus to this window, not to the list: Delete acts only after the
    // user has clicked into the list.
    setFocusPolicy(Qt::StrongFocus);
}

CProcessListWnd::~CProcessListWnd()
{
    // The thread posts to the model and to this window: it must be gone before they are.
    m_monitor.reset();
}

void CProcessListWnd::Create()
{
    if (m_list)
        return;
    CreateList();
    WatchList();
    StartMonitor();
}

void CProcessListWnd::CreateList()
{
    m_model = new ProcessTableModel(m_monitor->Rows(), this);
    m_list = new QTableView(this);
    m_list->setObjectName(QStringLiteral("processList"));
    m_list->setModel(m_model);
    SetUpList(m_list);

    m_findBar = new CFindBar(
        [this](const QString& text, bool forward, bool matchCase) {
            return FindRow(text, forward, matchCase);
        },
        m_list, this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_findBar);
    layout->addWidget(m_list);
}

void CProcessListWnd::WatchList()
{
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] {
                const QModelIndexList selected = m_list->selectionModel()->selectedRows();
                const int mark = selected.isEmpty() ? -1 : selected.front().row();
                if (mark != m_selectionMark) {
                    m_selectionMark = mark;
                    emit selectionMarkChanged(mark);
                }
            });

    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);

    // The monitor samples the load of the rows on screen only.
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CProcessListWnd::UpdateVisibleRows);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &CProcessListWnd::UpdateVisibleRows);
    UpdateVisibleRows();
}

void CProcessListWnd::StartMonitor()
{
    // The monitor thread never waits for this thread: each batch and the end of the thread
    // are posted and the call returns at once.
    m_monitor->SetNoticeCallback([this](const std::string& text) {
        const QString message = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            this, [this, message] { emit backgroundFailure(message); }, Qt::QueuedConnection);
    });
    ProcessTableModel* model = m_model;
    m_monitor->Start(
        [model](TableChanges&& changes) {
            auto batch = std::make_shared<TableChanges>(std::move(changes));
            QMetaObject::invokeMethod(
                model, [model, batch] { model->Apply(std::move(*batch)); },
                Qt::QueuedConnection);
        },
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { emit threadEnded(); }, Qt::QueuedConnection);
        });
}

void CProcessListWnd::SetUpList(QTableView* list)
{
    list->setShowGrid(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->setWordWrap(false);
    list->setIconSize(QSize(16, 16));
    list->setFocusPolicy(Qt::ClickFocus);
    // The right click is answered by the window, on release, after the press has selected
    // the row; nobody else may offer a menu for it.
    list->setContextMenuPolicy(Qt::PreventContextMenu);

    QHeaderView* rows = list->verticalHeader();
    rows->hide();
    // Fixed, uniform row heights keep scrolling and insertion independent of the row count.
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(std::max(list->fontMetrics().height(), 16) + 2);

    QHeaderView* columns = list->horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSortIndicatorShown(false);
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    for (int column = 0; column < ColumnCount; ++column)
        columns->resizeSection(column, ColumnWidth(column, list->fontMetrics()));
}

void CProcessListWnd::KillSelected()
{
    if (m_selectionMark < 0)
        return;
    m_monitor->KillSelected(m_selectionMark);
}

Result<> CProcessListWnd::DisableSelected()
{
    if (m_selectionMark < 0)
        return {};
    return m_monitor->DisableSelected(m_selectionMark);
}

Result<> CProcessListWnd::StartEventLog()
{
    return m_monitor->StartEventLog();
}

void CProcessListWnd::StopEventLog()
{
    m_monitor->StopEventLog();
}

void CProcessListWnd::ShowDisabledList()
{
    CDListDlg dlg(window()); // owned by the main window
    CProcessMonitor* monitor = m_monitor.get();
    dlg.m_readEntries = [monitor] { return monitor->DisabledEntries(); };
    dlg.m_removeAt = [monitor](std::size_t index, const std::string& name) {
        return monitor->RemoveDisabledAt(index, name);
    };
    dlg.m_path = monitor->DisabledListPath();
    dlg.exec();
}

void CProcessListWnd::PrepareClose()
{
    m_monitor->PrepareClose();
}

bool CProcessListWnd::ThreadEnded() const
{
    return m_monitor->ThreadEnded();
}

void CProcessListWnd::OpenFindBar()
{
    if (m_findBar)
        m_findBar->Open();
}

FindOutcome CProcessListWnd::FindRow(const QString& text, bool forward, bool matchCase)
{
    const int rows = m_model ? m_model->rowCount() : 0;
    if (rows == 0 || text.isEmpty())
        return FindOutcome::NotFound;
    const Qt::CaseSensitivity sensitivity = matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const auto matches = [&](int row) {
        for (const int column : {ColName, ColPid, ColFile}) {
            if (m_model->data(m_model->index(row, column)).toString().contains(text, sensitivity))
                return true;
        }
        return false;
    };
    // Every row once, starting after the mark (before it, backward); the marked row itself
    // comes last, after going round. Without a mark the search starts at the top (bottom).
    const int start = m_selectionMark;
    for (int i = 1; i <= rows; ++i) {
        int row;
        if (start < 0)
            row = forward ? i - 1 : rows - i;
        else
            row = forward ? (start + i) % rows : ((start - i) % rows + rows) % rows;
        if (!matches(row))
            continue;
        SetSelectionMark(row);
        m_list->scrollTo(m_model->index(row, ColName));
        const bool wrapped = start >= 0 && (forward ? row <= start : row >= start);
        return wrapped ? FindOutcome::Wrapped : FindOutcome::Found;
    }
    return FindOutcome::NotFound;
}

int CProcessListWnd::GetSelectionMark() const
{
    return m_selectionMark;
}

void CProcessListWnd::SetSelectionMark(int row)
{
    if (!m_list)
        return;
    if (row < 0 || row >= m_model->rowCount()) {
        m_list->clearSelection();
        return;
    }
    m_list->selectRow(row);
}

SettingsRecord CProcessListWnd::Settings() const
{
    return m_monitor->GetSettings();
}

void CProcessListWnd::SetSettings(const SettingsRecord& settings)
{
    m_monitor->SetSettings(settings);
}

CProcessMonitor& CProcessListWnd::Monitor()
{
    return *m_monitor;
}

QTableView* CProcessListWnd::List() const
{
    return m_list;
}

ProcessTableModel* CProcessListWnd::Model() const
{
    return m_model;
}

void CProcessListWnd::keyPressEvent(QKeyEvent* event)
{
    // This window does nothing with keys; they go on to the frame.
    QWidget::keyPressEvent(event);
}

void CProcessListWnd::UpdateVisibleRows()
{
    if (!m_list)
        return;
    if (!isVisible() || window()->isMinimized()) {
        m_monitor->SetVisibleRows(0, -1);
        return;
    }
    // From the first row on screen as far as the viewport reaches, also past the last row:
    // rows appended there are on screen too.
    const int first = std::max(0, m_list->rowAt(0));
    const int rowHeight = std::max(1, m_list->verticalHeader()->defaultSectionSize());
    m_monitor->SetVisibleRows(first, first + m_list->viewport()->height() / rowHeight + 1);
}

void CProcessListWnd::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_watchedWindow != window()) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        if (m_watchedWindow != this)
            m_watchedWindow->installEventFilter(this);
    }
    UpdateVisibleRows();
}

void CProcessListWnd::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_list)
        m_monitor->SetVisibleRows(0, -1);
}

void CProcessListWnd::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateVisibleRows();
}

bool CProcessListWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && (watched == m_watchedWindow))
        UpdateVisibleRows();
    if (m_list && watched == m_list->viewport() && event->type() == QEvent::Resize)
        UpdateVisibleRows();
    if (m_list && watched == m_list && event->type() == QEvent::KeyPress
        && OnListKey(*static_cast<QKeyEvent*>(event)))
        return true;
    if (m_list && watched == m_list->viewport() && event->type() == QEvent::MouseButtonRelease)
        OnListMouseRelease(*static_cast<QMouseEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

bool CProcessListWnd::OnListKey(const QKeyEvent& key)
{
    if (key.key() == Qt::Key_Delete) {
        // The question comes first: without a selection mark it is asked all the same and
        // a Yes then does nothing.
        if (AskYesNo(this, IDS_ASK_KILL))
            KillSelected();
        return true;
    }
    if ((key.key() == Qt::Key_Home || key.key() == Qt::Key_End) &&
        !(key.modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier))) {
        GoToEnd(key.key() == Qt::Key_Home);
        return true;
    }
    return false;
}

void CProcessListWnd::GoToEnd(bool first)
{
    // Home and End, with or without Ctrl, go to the first or last row of the list; the
    // table's own keys would go to the first or last column and scroll the names away.
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const int row = first ? 0 : rows - 1;
    const int column = std::max(m_list->currentIndex().column(), 0);
    const int across = m_list->horizontalScrollBar()->value();
    const QModelIndex target = m_model->index(row, column);
    m_list->selectionModel()->setCurrentIndex(
        target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_list->scrollTo(target);
    m_list->horizontalScrollBar()->setValue(across);
}

void CProcessListWnd::OnListMouseRelease(const QMouseEvent& mouse)
{
    if (mouse.button() != Qt::RightButton)
        return;
    const QModelIndex index = m_list->indexAt(mouse.position().toPoint());
    if (index.isValid())
        SetSelectionMark(index.row());
    if (m_selectionMark != -1)
        emit contextMenuRequested(mouse.globalPosition().toPoint());
}
