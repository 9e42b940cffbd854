#include "dialogs/CLogsViewDlg.h"

#include "dialogs/DialogTexts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/LogFileAccess.h"
#include "shell/AskYesNo.h"
#include "storage/CEventLogFile.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <optional>

namespace {

// Reopens the log at the end of an operation, also when the operation throws.
class ReopenLog {
public:
    explicit ReopenLog(CEventLogFile& log) : m_log(log), m_bWasOpen(log.IsOpen())
    {
        if (m_bWasOpen)
            m_log.Close();
    }
    ~ReopenLog()
    {
        if (m_bWasOpen)
            m_log.Open();
    }
    ReopenLog(const ReopenLog&) = delete;
    ReopenLog& operator=(const ReopenLog&) = delete;

private:
    CEventLogFile& m_log;
    bool m_bWasOpen;
};

// A wait cursor while a large log is read, decoded or written.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// The dialog's layout, in dialog units.
constexpr int kDialogWidth = 429, kDialogHeight = 295;
constexpr int kEditX = 7, kEditY = 25, kEditWidth = 415, kEditHeight = 263;

} // namespace

CLogsViewDlg::CLogsViewDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(DialogText(IDS_DLG_EVENTLOG_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/dialogs/dialogs/icon145.svg")));

    m_btnClose = new QPushButton(DialogText(IDS_DLG_CLOSE), this);
    m_btnClear = new QPushButton(DialogText(IDS_DLG_CLEAR), this);
    m_btnSave = new QPushButton(DialogText(IDS_DLG_SAVE), this);
    m_edit = new QPlainTextEdit(this);

    m_btnClose->setDefault(true);
    m_edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves between the controls, as everywhere else in a dialog.
    m_edit->setTabChangesFocus(true);

    const DialogUnits du(font());
    m_btnClose->setGeometry(du.Rect(7, 7, 50, 11));
    m_btnClear->setGeometry(du.Rect(57, 7, 50, 11));
    m_btnSave->setGeometry(du.Rect(107, 7, 50, 11));
    m_edit->setGeometry(du.Rect(kEditX, kEditY, kEditWidth, kEditHeight));
    // Tab stops every 32 units, where a dialog's edit box has always put them.
    m_edit->setTabStopDistance(du.X(32));
    // The box grows with the dialog; the buttons must stay whole.
    setMinimumSize(du.Size(164, 80));
    resize(du.Size(kDialogWidth, kDialogHeight));

    setTabOrder(m_btnClose, m_edit);
    setTabOrder(m_edit, m_btnClear);
    setTabOrder(m_btnClear, m_btnSave);

    connect(m_btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnClear, &QPushButton::clicked, this, &CLogsViewDlg::OnClear);
    connect(m_btnSave, &QPushButton::clicked, this, &CLogsViewDlg::OnSave);
}

CLogsViewDlg::LogRunner CLogsViewDlg::ForLog(CEventLogFile& log, std::mutex* lock)
{
    return [&log, lock](const std::function<void(const std::string& path)>& operation) {
        // Held across close, operation and reopen, so that writes under the same lock wait
        // for the log instead of being dropped while it is closed.
        std::unique_lock<std::mutex> held;
        if (lock != nullptr)
            held = std::unique_lock<std::mutex>(*lock);
        const ReopenLog reopen(log);
        operation(log.m_path);
    };
}

template <class Operation>
auto CLogsViewDlg::WithLogClosed(Operation&& operation)
{
    std::optional<decltype(operation(std::string()))> result;
    m_runWithLogClosed([&](const std::string& path) { result.emplace(operation(path)); });
    return std::move(*result);
}

void CLogsViewDlg::showEvent(QShowEvent* event)
{
    // The creator sets m_runWithLogClosed after construction, so the file is read when the dialog shows.
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CLogsViewDlg::OnInitDialog()
{
    const WaitCursor wait;
    std::optional<std::string> bytes;
    if (m_runWithLogClosed)
        bytes = WithLogClosed([](const std::string& path) { return ReadLogFile(path); });
    if (!bytes) {
        m_btnClose->setFocus();
        return;
    }
    // Decoded outside the lock: a large log must not hold up the monitor.
    DecodedLog decoded = DecodeLogBytes(*bytes);
    bytes.reset();
    m_encoding = decoded.encoding;
    m_edit->setPlainText(decoded.text);
    m_edit->setFocus();
}

QString CLogsViewDlg::EditText() const
{
    // The raw text keeps non-breaking spaces, which toPlainText() would turn into blanks.
    QString text = m_edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void CLogsViewDlg::OnClear()
{
    if (!AskYesNo(this, IDS_ASK_CLEAR_LOG))
        return;
    m_edit->clear();
    // Nothing read from the file is left in the box.
    m_encoding = LogEncoding::Utf8;
    if (!m_runWithLogClosed)
        return;
    WithLogClosed([](const std::string& path) { return TruncateLogFile(path); });
}

void CLogsViewDlg::OnSave()
{
    if (!m_runWithLogClosed)
        return;
    const WaitCursor wait;
    const std::string bytes = EncodeLogText(EditText(), m_encoding);
    WithLogClosed([&bytes](const std::string& path) { return ReplaceLogFile(path, bytes); });
}

void CLogsViewDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // The box keeps its first margins to the right and below.
    const DialogUnits du(font());
    const int right = du.X(kDialogWidth) - du.X(kEditX + kEditWidth);
    const int bottom = du.Y(kDialogHeight) - du.Y(kEditY + kEditHeight);
    const QRect box = du.Rect(kEditX, kEditY, kEditWidth, kEditHeight);
    m_edit->setGeometry(box.left(), box.top(), qMax(0, width() - box.left() - right),
                        qMax(0, height() - box.top() - bottom));
}
