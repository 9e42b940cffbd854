#include "dialogs/CLogsViewDlg.h"

#include "CLogEdit.h"
#include "controls/AskYesNo.h"
#include "controls/CFindBar.h"
#include "controls/Dialogs.h"
#include "controls/DialogUnits.h"
#include "controls/TellFailure.h"
#include "controls/Texts.h"
#include "storage/LogFileAccess.h"
#include "storage/StringTable.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// A wait cursor while a large log is read, decoded or written.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Hands the log's pieces to the box as they are read, so that the file is never held in
// memory in one piece besides the box's own text.
class LoadIntoEdit final : public LogSink {
public:
    explicit LoadIntoEdit(CLogEdit& edit) : m_edit(edit) {}

    Result<> Expect(std::uint64_t size) override
    {
        return MemoryFailureAsError([&] { m_loading.emplace(m_edit, static_cast<std::size_t>(size)); });
    }
    Result<> Take(std::string_view piece) override
    {
        return MemoryFailureAsError([&] { m_loading->Add(piece); });
    }
    // Puts what was read in the box.
    void Finish() { m_loading->Finish(); }

private:
    CLogEdit& m_edit;
    std::optional<CLogEdit::Loading> m_loading;
};

// How long the window manager takes to frame a window that shows, before its real frame is
// known.
constexpr int kFramedAfterMs = 100;

// The dialog's layout, in dialog units.
constexpr int kDialogWidth = 429, kDialogHeight = 295;
constexpr int kEditX = 7, kEditY = 25, kEditWidth = 415, kEditHeight = 263;

} // namespace

CLogsViewDlg::CLogsViewDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(Text(IDS_DLG_EVENTLOG_TITLE));
    MakeWindowModal(*this);
    setWindowIcon(QIcon(QStringLiteral(":/dialogs/dialogs/icon145.svg")));

    m_btnClose = new QPushButton(Text(IDS_DLG_CLOSE), this);
    m_btnClear = new QPushButton(Text(IDS_DLG_CLEAR), this);
    m_btnSave = new QPushButton(Text(IDS_DLG_SAVE), this);
    CreateEditArea();
    m_btnClose->setDefault(true);
    PlaceControls();

    setTabOrder(m_btnClose, m_edit);
    setTabOrder(m_edit, m_btnClear);
    setTabOrder(m_btnClear, m_btnSave);

    connect(m_btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnClear, &QPushButton::clicked, this, &CLogsViewDlg::OnClear);
    connect(m_btnSave, &QPushButton::clicked, this, &CLogsViewDlg::OnSave);
}

void CLogsViewDlg::CreateEditArea()
{
    // The box, with its find bar above it when the bar shows (Ctrl+F).
    m_editArea = new QWidget(this);
    m_edit = new CLogEdit(m_editArea);
    m_findBar = new CFindBar(
        [this](const QString& text, bool forward, bool matchCase) {
            return m_edit->Find(text, forward, matchCase);
        },
        m_edit, m_editArea);
    auto* editLayout = new QVBoxLayout(m_editArea);
    editLayout->setContentsMargins(0, 0, 0, 0);
    editLayout->setSpacing(0);
    editLayout->addWidget(m_findBar);
    editLayout->addWidget(m_edit, 1);
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, m_findBar, &CFindBar::Open);
}

void CLogsViewDlg::PlaceControls()
{
    const DialogUnits du(font());
    m_btnClose->setGeometry(du.Rect(7, 7, 50, 11));
    m_btnClear->setGeometry(du.Rect(57, 7, 50, 11));
    m_btnSave->setGeometry(du.Rect(107, 7, 50, 11));
    m_editArea->setGeometry(du.Rect(kEditX, kEditY, kEditWidth, kEditHeight));
    // The box grows with the dialog; the buttons must stay whole, and so must the find bar.
    const int margins = du.X(kEditX) + du.X(kDialogWidth) - du.X(kEditX + kEditWidth);
    setMinimumSize(std::max(du.X(164), m_findBar->minimumSizeHint().width() + margins), du.Y(80));
    resize(du.Size(kDialogWidth, kDialogHeight));
}

std::error_code CLogsViewDlg::WithLogClosed(const std::function<std::error_code(const std::string& path)>& operation)
{
    std::optional<std::error_code> outcome;
    const Result<> ran = m_runWithLogClosed([&](const std::string& path) {
        m_path = path;
        outcome = operation(path);
    });
    if (outcome)
        return *outcome;
    return ran ? std::make_error_code(std::errc::operation_canceled) : ran.error();
}

void CLogsViewDlg::showEvent(QShowEvent* event)
{
    // The creator sets m_runWithLogClosed after construction, so the file is read when the dialog shows.
    if (!m_bInitialised) {
        m_bInitialised = true;
        // Laid out in the font's units, it can be larger than a small or highly scaled screen.
        resize(size().boundedTo(RoomOnScreen(*this)).expandedTo(minimumSize()));
        OnInitDialog();
    }
    QDialog::showEvent(event);
    QTimer::singleShot(kFramedAfterMs, this, [this] { KeepOnScreen(*this); });
}

void CLogsViewDlg::OnInitDialog()
{
    const Result<> shown = ShowFile();
    if (shown) {
        m_edit->setFocus();
        return;
    }
    m_btnClose->setFocus();
    // A log not written yet is an empty one. Anything else is told once the dialog is up, so
    // that the message stands over the dialog it is about.
    if (shown.error() == std::errc::no_such_file_or_directory)
        return;
    QTimer::singleShot(0, this, [this, error = shown.error()] {
        if (isVisible())
            TellFileFailure(this, IDS_ERR_LOG_READ, m_path, error);
    });
}

Result<> CLogsViewDlg::ShowFile()
{
    if (!m_runWithLogClosed)
        return std::errc::no_such_file_or_directory;
    const WaitCursor wait;
    // The pieces go into the box's new text as they are read, while the log is closed: that
    // takes less time than reading the whole file into memory first would. The box shows it
    // only when all of it has come, so a read that fails part way leaves the box as it was.
    LoadIntoEdit loading(*m_edit);
    if (const std::error_code error = WithLogClosed([&](const std::string& path) {
            const Result<LogSnapshot> read = ReadLogFile(path, loading);
            if (read)
                m_snapshot = *read;
            return read.error();
        })) {
        m_snapshot = {};
        return error;
    }
    loading.Finish();
    return {};
}

std::string_view CLogsViewDlg::EditBytes() const
{
    return m_edit->Bytes();
}

LogEncoding CLogsViewDlg::Encoding() const
{
    return m_edit->Encoding();
}

void CLogsViewDlg::OnClear()
{
    if (!AskYesNo(this, IDS_ASK_CLEAR_LOG))
        return;
    m_edit->Clear();
    if (!m_runWithLogClosed)
        return;
    const std::error_code error = WithLogClosed([this](const std::string& path) {
        const Result<LogSnapshot> emptied = TruncateLogFile(path);
        if (emptied)
            m_snapshot = *emptied;
        return emptied.error();
    });
    if (error) {
        TellFileFailure(this, IDS_ERR_LOG_CLEAR, m_path, error);
        // What the file still holds, when it can be read; the failure has been told.
        static_cast<void>(ShowFile());
    }
}

void CLogsViewDlg::OnSave()
{
    if (!m_runWithLogClosed)
        return;
    const WaitCursor wait;
    const std::string_view bytes = EditBytes();
    std::string followed;
    // The box keeps the user's text when the file could not take it, so nothing typed is lost.
    const std::error_code error = WithLogClosed([&](const std::string& path) {
        Result<std::string> written = ReplaceLogFile(path, bytes, m_snapshot);
        if (written)
            followed = std::move(*written);
        return written.error();
    });
    if (error) {
        TellFileFailure(this, IDS_ERR_LOG_SAVE, m_path, error);
        return;
    }
    // The entries appended while the dialog was open now follow the box's text in the file:
    // the box takes them too, so that what it holds is what the file holds, and the next
    // Save keeps them where they are.
    m_edit->AppendBytes(followed);
}

void CLogsViewDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // The box keeps its first margins to the right and below.
    const DialogUnits du(font());
    const int right = du.X(kDialogWidth) - du.X(kEditX + kEditWidth);
    const int bottom = du.Y(kDialogHeight) - du.Y(kEditY + kEditHeight);
    const QRect box = du.Rect(kEditX, kEditY, kEditWidth, kEditHeight);
    m_editArea->setGeometry(box.left(), box.top(), qMax(0, width() - box.left() - right),
                            qMax(0, height() - box.top() - bottom));
}
