#include "dialogs/CDListDlg.h"

#include "dialogs/DialogTexts.h"
#include "dialogs/DialogUnits.h"
#include "dialogs/LogText.h"
#include "storage/CDisabledList.h"

#include <QGroupBox>
#include <QIcon>
#include <QListWidget>
#include <QPushButton>

namespace {

// An entry as one line of the box. Entries are bytes from a file that may have been edited by
// hand: UTF-8 when they are valid UTF-8, otherwise one character per byte, and control bytes
// (a CR LF between two names, say) shown as "?" so that each entry stays on its own line.
QString EntryText(const std::string& entry)
{
    QString text = DecodeUtf8OrLatin1(entry);
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'?';
    }
    return text;
}

} // namespace

CDListDlg::CDListDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(DialogText(IDS_DLG_DISABLED_LIST_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/dialogs/dialogs/icon143.svg")));

    // Created first so that it lies beneath the controls it frames.
    m_frame = new QGroupBox(this);
    m_btnClose = new QPushButton(DialogText(IDS_DLG_CLOSE), this);
    m_btnDelete = new QPushButton(DialogText(IDS_DLG_DELETE), this);
    m_listBox = new QListWidget(this);

    m_btnClose->setDefault(true);
    m_listBox->setSortingEnabled(false);
    m_listBox->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_listBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    const DialogUnits du(font());
    m_frame->setGeometry(du.Rect(5, 1, 226, 193));
    m_btnClose->setGeometry(du.Rect(175, 11, 50, 14));
    m_btnDelete->setGeometry(du.Rect(175, 31, 50, 14));
    m_listBox->setGeometry(du.Rect(12, 11, 158, 178));
    setFixedSize(du.Size(236, 199));
    // A fixed dialog: a caption with its close box, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    // Focus order: Close first, as it is the first control that takes the focus.
    setTabOrder(m_btnClose, m_btnDelete);
    setTabOrder(m_btnDelete, m_listBox);

    connect(m_btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_btnDelete, &QPushButton::clicked, this, &CDListDlg::OnDelete);
    connect(m_listBox, &QListWidget::itemSelectionChanged, this, &CDListDlg::OnSelChange);
}

void CDListDlg::showEvent(QShowEvent* event)
{
    // The creator sets m_entries after construction, so the list is read when the dialog shows.
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CDListDlg::OnInitDialog()
{
    {
        const QSignalBlocker blocker(m_listBox);
        for (const std::string& entry : m_entries)
            m_listBox->addItem(EntryText(entry));
        // No line is current, so the first click on a line is a selection change.
        m_listBox->setCurrentRow(-1);
    }
    m_btnDelete->setEnabled(false);
    m_btnClose->setFocus();
}

void CDListDlg::OnSelChange()
{
    // Never disabled again while the dialog is open.
    m_btnDelete->setEnabled(true);
}

void CDListDlg::OnDelete()
{
    const QModelIndexList selected = m_listBox->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    const int i = selected.first().row();
    {
        // Only the box changes here; no selection is left behind, so Delete needs a new choice.
        const QSignalBlocker blocker(m_listBox);
        delete m_listBox->takeItem(i);
        m_listBox->setCurrentRow(-1);
        m_listBox->clearSelection();
    }
    if (static_cast<std::size_t>(i) >= m_entries.size())
        return;
    m_entries.erase(m_entries.begin() + i);
    if (m_removeAt)
        m_removeAt(static_cast<std::size_t>(i));
}
