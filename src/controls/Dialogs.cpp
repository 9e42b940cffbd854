#include "controls/Dialogs.h"

#include <QWidget>

void MakeWindowModal(QWidget& dialog)
{
    // Set before exec(), which would otherwise make it modal to the whole program.
    dialog.setWindowModality(Qt::WindowModal);
}
