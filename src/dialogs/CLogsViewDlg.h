#pragma once
// The event log dialog: the whole of Logs.log in an editable box, with Clear (empties the file
// after a question) and Save (replaces the file with the box's text). The log object is
// closed around every file operation and opened again afterwards if it was open, so that
// the monitor keeps appending to the file that is there afterwards.

#include "dialogs/LogText.h"

#include <QDialog>

#include <functional>
#include <mutex>
#include <string>

class CEventLogFile;
class QPlainTextEdit;
class QPushButton;

class CLogsViewDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLogsViewDlg(QWidget* parent = nullptr);

    // Runs an operation on the log's path with the log closed, and opens the log again after
    // it if it was open (the monitor's RunWithLogClosed, under its lock).
    using LogRunner = std::function<void(const std::function<void(const std::string& path)>&)>;
    // Set by the creator before the dialog is shown; unset, the dialog shows nothing.
    LogRunner m_runWithLogClosed;
    // A runner over a log of one's own, under `lock` when given (neither is owned).
    static LogRunner ForLog(CEventLogFile& log, std::mutex* lock = nullptr);

    QPlainTextEdit* m_edit = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnClear = nullptr;
    QPushButton* m_btnSave = nullptr;

    // The box's text as Save writes it: "\n" between lines, before the CR LF of the file.
    QString EditText() const;
    LogEncoding Encoding() const { return m_encoding; }

public slots:
    void OnClear();
    void OnSave();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnInitDialog();
    // Runs `operation` through m_runWithLogClosed and returns what it returned.
    template <class Operation>
    auto WithLogClosed(Operation&& operation);

    LogEncoding m_encoding = LogEncoding::Utf8;
    bool m_bInitialised = false;
};
