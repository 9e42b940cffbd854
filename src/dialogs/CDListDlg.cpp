#include "dialogs/CDListDlg.h"

#include "controls/DialogUnits.h"
#include "controls/Dialogs.h"
#include "controls/TellFailure.h"
#include "controls/Texts.h"
#include "dialogs/LogText.h"
#include "platform/ProcessServices.h"
#include "storage/CDisabledList.h"
#include "storage/StringTable.h"

#include <QAbstractListModel>
#include <QGroupBox>
#include <QIcon>
#include <QItemSelectionModel>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include <string>
#include <utility>
#include <vector>

namespace {

// The dialog's size in dialog units, and the least it is made on a small screen.
constexpr int kDialogWidth = 236, kDialogHeight = 199;
constexpr int kSmallestWidth = 140, kSmallestHeight = 80;
// How long the window manager takes to frame a window that shows, before its real frame is
// known.
constexpr int kFramedAfterMs = 100;

// An entry as one line of the box. Entries are bytes from a file that may have been edited by
// hand: UTF-8 when they are valid UTF-8, otherwise one character per byte, and control bytes
// (a CR LF between two names, say) shown as "?" so that each entry stays on its own line.
QString EntryText(const std::string& entry)
{
    // Control bytes are single bytes in either encoding: replaced first, they decode as '?'.
    return DecodeUtf8OrLatin1(platform::WithoutControlBytes(entry));
}

} // namespace

// The lines of the box: a copy of the entries, turned into text only for the lines on screen,
// so a list of a million names shows at once.
class DisabledEntriesModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void SetEntries(std::vector<std::string> entries)
    {
        beginResetModel();
        m_entries = std::move(entries);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() ||
            static_cast<std::size_t>(index.row()) >= m_entries.size())
            return {};
        return EntryText(m_entries[static_cast<std::size_t>(index.row())]);
    }
    const std::string& At(std::size_t row) const { return m_entries[row]; }

private:
    std::vector<std::string> m_entries;
};

CDListDlg::CDListDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(Text(IDS_DLG_DISABLED_LIST_TITLE));
    MakeWindowModal(*this);
    setWindowIcon(QIcon(QStringLiteral(":/dialogs/dialogs/icon143.svg")));

    // Created first so that it lies beneath the controls it frames.
    m_frame = new QGroupBox(this);
    m_btnClose = new QPushButton(Text(IDS_DLG_CLOSE), this);
    m_btnDelete = new QPushButton(Text(IDS_DLG_DELETE), this);
    m_listBox = new QListView(this);
    m_model = new DisabledEntriesModel(this);
    m_listBox->setModel(m_model);

    m_btnClose->setDefault(true);
    // Every line is as high as the first: the view never measures the others.
    m_listBox->setUniformItemSizes(true);
    m_listBox->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listBox->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    const DialogUnits du(font());
    setFixedSize(du.Size(kDialogWidth, kDialogHeight));
    // A fixed dialog: a caption with its close box, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    // Focus order: Close first, as it is the first control that takes the focus.
    setTabOrder(m_btnClose, m_btnDelete);
    setTabOrder(m_btnDelete, m_listBox);

    connect(m_btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnDelete, &QPushButton::clicked, this, &CDListDlg::OnDelete);
    connect(m_listBox->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CDListDlg::OnSelChange);
}

void CDListDlg::showEvent(QShowEvent* event)
{
    // The creator sets m_entries after construction, so the list is read when the dialog shows.
    if (!m_bInitialised) {
        m_bInitialised = true;
        // On a screen too small for it (a large font or scale), the list gets what there is.
        const DialogUnits du(font());
        const QSize fitting = du.Size(kDialogWidth, kDialogHeight)
                                  .boundedTo(RoomOnScreen(*this))
                                  .expandedTo(du.Size(kSmallestWidth, kSmallestHeight));
        setFixedSize(fitting);
        OnInitDialog();
    }
    QDialog::showEvent(event);
    QTimer::singleShot(kFramedAfterMs, this, [this] { KeepOnScreen(*this); });
}

void CDListDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // Laid out from the right and bottom edges as the dialog's units place the controls at its
    // full size, which it has unless the screen is too small for it.
    const DialogUnits du(font());
    const int right = width() - du.X(kDialogWidth);
    const int bottom = height() - du.Y(kDialogHeight);
    const QRect frame = du.Rect(5, 1, 226, 193);
    m_frame->setGeometry(frame.adjusted(0, 0, right, bottom));
    m_listBox->setGeometry(du.Rect(12, 11, 158, 178).adjusted(0, 0, right, bottom));
    m_btnClose->setGeometry(du.Rect(175, 11, 50, 14).translated(right, 0));
    m_btnDelete->setGeometry(du.Rect(175, 31, 50, 14).translated(right, 0));
}

void CDListDlg::OnInitDialog()
{
    if (!m_readEntries)
        return;
    ShowEntries();
    m_btnDelete->setEnabled(false);
    m_btnClose->setFocus();
}

void CDListDlg::ShowEntries()
{
    std::vector<std::string> entries = m_readEntries ? m_readEntries() : std::vector<std::string>();
    // No line is current, so the first click on a line is a selection change.
    const QSignalBlocker blocker(m_listBox->selectionModel());
    m_model->SetEntries(std::move(entries));
    m_listBox->setCurrentIndex({});
}

void CDListDlg::OnSelChange()
{
    // Never disabled again while the dialog is open.
    m_btnDelete->setEnabled(true);
}

void CDListDlg::OnDelete()
{
    const QModelIndexList selected = m_listBox->selectionModel()->selectedIndexes();
    if (selected.isEmpty() || !m_removeAt)
        return;
    const auto i = static_cast<std::size_t>(selected.first().row());
    const Result<> removed = m_removeAt(i, m_model->At(i));
    // The lines show the list as the file holds it now; no selection is left behind, so
    // Delete needs a new choice.
    ShowEntries();
    TellFileFailure(this, IDS_ERR_LIST_DELETE, m_path, removed.error());
}
