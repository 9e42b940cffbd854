#pragma once
// The main frame's client: the six-column list of the process table, the owner of the monitor
// (CProcessMonitor) and the commands that act on the selected row.

#include "controls/CFindBar.h"
#include "monitor/CProcessMonitor.h"

#include <QWidget>
#include <memory>
#include <string>
#include <system_error>

class QFontMetrics;
class QKeyEvent;
class QMouseEvent;
class QTableView;
class ProcessTableModel;

class CProcessListWnd : public QWidget {
    Q_OBJECT
public:
    // Constructs the monitor's data (paths, disabled list, settings, start banner). No thread yet.
    explicit CProcessListWnd(const std::string& programDirectory, QWidget* parent = nullptr);
    ~CProcessListWnd() override;

    // Creation: the list with its columns and image 0, then the monitor thread. From then on the
    // monitor's change batches are posted to the model; when the thread ends, threadEnded() is
    // emitted on the window's thread.
    void Create();

    // The row commands act on the selection mark (-1: none). KillSelected and DisableSelected ask
    // nothing (the frame asks first); the Delete key asks "Kill selected process?" itself.
    // DisableSelected and StartEventLog fail with the reason the file could not be written.
    void KillSelected();
    Result<> DisableSelected();
    Result<> StartEventLog();
    void StopEventLog();
    void ShowDisabledList();
    // The close step of the monitor: phase 1 or phase 2.
    void PrepareClose();
    bool ThreadEnded() const;

    // Find: the bar over the list, and the search it runs. FindRow selects the next (or
    // previous) row after the selection mark whose name, PID or path contains `text`, going
    // round at the end; the rows keep their order.
    void OpenFindBar();
    CFindBar* FindBar() const { return m_findBar; }
    FindOutcome FindRow(const QString& text, bool forward, bool matchCase);

    int GetSelectionMark() const;
    void SetSelectionMark(int row); // also selects the row (used by tests and the keyboard)

    // The settings as they stand, and a change of them (the log switch goes through
    // StartEventLog and StopEventLog).
    SettingsRecord Settings() const;
    void SetSettings(const SettingsRecord& settings);
    CProcessMonitor& Monitor();
    QTableView* List() const;
    ProcessTableModel* Model() const;

    // Gives a view the list's settings (columns, widths, row height, selection, no sorting);
    // the benchmark measures a view set up exactly like the window's own.
    static void SetUpList(QTableView* list);
    // Width of a column at start: the column table's width, widened alike as far as the font
    // needs for a time text to fit its column; the PID column holds seven digits.
    static int ColumnWidth(int column, const QFontMetrics& metrics);

signals:
    void threadEnded();
    void selectionMarkChanged(int row);
    // A failure in the background the user should know of (already written to stderr).
    void backgroundFailure(const QString& text);
    // Right click in the list while there is a selection mark: the frame shows its Process menu.
    void contextMenuRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The steps of Create: the list, its model and the find bar; what the window follows of
    // the list (the selection, its keys and clicks, the rows on screen); the monitor thread.
    void CreateList();
    void WatchList();
    void StartMonitor();
    // Tells the monitor which rows are on screen: none while hidden or minimised.
    void UpdateVisibleRows();
    // The list's keys this window answers itself (true when it did), and its right click.
    bool OnListKey(const QKeyEvent& key);
    void GoToEnd(bool first);
    void OnListMouseRelease(const QMouseEvent& mouse);

    std::unique_ptr<CProcessMonitor> m_monitor;
    QTableView* m_list = nullptr;
    ProcessTableModel* m_model = nullptr;
    CFindBar* m_findBar = nullptr;
    int m_selectionMark = -1;
    QObject* m_watchedWindow = nullptr; // the top-level window, for its minimised state
};
