#include "controls/AskYesNo.h"

#include "controls/Dialogs.h"
#include "storage/StringTable.h"

#include <QMessageBox>

bool AskYesNo(QWidget* parent, unsigned stringId)
{
    const std::string caption = LoadString(IDS_APP_TITLE);
    const std::string text = LoadString(stringId);
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(caption.c_str()),
                    QString::fromUtf8(text.c_str()), QMessageBox::Yes | QMessageBox::No, parent);
    // Enter answers Yes and Escape answers No, as the platform's own Yes/No box does.
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return ExecMessageBox(box) == QMessageBox::Yes;
}
