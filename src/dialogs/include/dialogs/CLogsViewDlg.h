#pragma once
// The event log dialog: the whole of Logs.log in an editable box, with Clear (empties the file
// after a question) and Save (replaces the file with the box's text, followed by the entries the
// running log appended since the box was filled or last saved; the box then shows them too, so
// that it always holds what the file holds). A file that cannot be read when the dialog opens,
// and a Clear or Save that fails, are told in a message box with the file's path and the
// reason; a missing file is an empty log. The log object is closed around every file operation
// and opened again afterwards if it was open, so that the monitor keeps appending to the file
// that is there afterwards.

#include "dialogs/LogText.h"
#include "platform/Result.h"
#include "storage/LogFileAccess.h"

#include <QDialog>

#include <functional>
#include <string>
#include <string_view>

class CFindBar;
class CLogEdit;
class QPushButton;

class CLogsViewDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLogsViewDlg(QWidget* parent = nullptr);

    // Runs an operation on the log's path with the log closed, and opens the log again after
    // it if it was open (the monitor's RunWithLogClosed, under its lock). It fails, without
    // running the operation, when the log cannot be had (busy); the dialog tells why.
    using LogRunner = std::function<Result<>(const std::function<void(const std::string& path)>&)>;
    // Set by the creator before the dialog is shown; unset, the dialog shows nothing.
    LogRunner m_runWithLogClosed;
    // The log's path, named when an operation fails: set by the creator, and by every
    // operation to the path the runner gave it.
    std::string m_path;

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
    void CreateEditArea();
    // The buttons and the box where the dialog's layout puts them, at its size.
    void PlaceControls();
    void OnInitDialog();
    // Reads the file into the box; the box stays as it was when it cannot be read.
    Result<> ShowFile();
    // Runs `operation` through m_runWithLogClosed: why the operation failed, or why it could
    // not run.
    std::error_code WithLogClosed(const std::function<std::error_code(const std::string& path)>& operation);

    QWidget* m_editArea = nullptr; // the box and its find bar
    LogSnapshot m_snapshot; // the file as the box last read or wrote it
    bool m_bInitialised = false;
};
