#include "controls/TellFailure.h"

#include "controls/Dialogs.h"
#include "platform/FileIo.h"
#include "storage/StringTable.h"

#include <QMessageBox>

void TellFileFailure(QWidget* parent, unsigned stringId, const std::string& path, std::error_code error)
{
    if (!error)
        return;
    const std::string text = LoadString(stringId) + "\n" + DescribeFileError(path, error);
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(LoadString(IDS_APP_TITLE)),
                    QString::fromStdString(text), QMessageBox::Ok, parent);
    ExecMessageBox(box);
}
