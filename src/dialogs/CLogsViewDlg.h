#pragma once
// The event log dialog: the whole of Logs.log in an editable box, with Clear (empties the file
// after a question) and Save (replaces the file with the box's text, followed by the entries the
// running log appended since the box was filled). A failure of either is told in a message
// box with the file's path and the reason. The log object is
// closed around every file operation and opened again afterwards if it was open, so that
// the monitor keeps appending to the file that is there afterwards.

#include "storage/LogFileAccess.h"
#include "dialogs/LogText.h"

#include <QDialog>

#include <mutex>
#include <string>
#include <string_view>

class CEventLogFile;
class CFindBar;
class CLogEdit;
class QPushButton;

class CLogsViewDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLogsViewDlg(QWidget* parent = nullptr);

    // Set by the creator before the dialog is shown; neither is owned. m_pLock, when set, is
    // the lock under which the monitor writes to the log.
    CEventLogFile* m_pLog = nullptr;
    std::mutex* m_pLock = nullptr;

    CLogEdit* m_edit = nullptr;
    CFindBar* m_findBar = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnSave = nullptr;

    // The box's bytes, as Save writes them; valid until the text changes.
    std::string_view EditBytes() const;
    LogEncoding Encoding() const;

public slots:
    void OnClear();
    void OnSave();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();
    // Reads the file into the box; false (the box untouched) when it cannot be read.
    bool ShowFile();
    // Runs `operation` on the log's path with the log closed, under m_pLock when set, and opens
    // the log again afterwards if it was open.
    template <class Operation>
    auto WithLogClosed(Operation&& operation);

    QWidget* m_editArea = nullptr; // the box and its find bar
    LogSnapshot m_snapshot; // the file as the box last read or wrote it
    bool m_bInitialised = false;
};
