// Renders the About box, as it first appears, into the PNG file named on the command line,
// and prints where its controls lie (the picture keeps those places plain).

#include "controls/CAboutBox.h"
#include "controls/CBackdropButton.h"
#include "controls/CLinkLabel.h"

#include <QApplication>
#include <QPixmap>
#include <QTextStream>

#include <utility>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: about_screenshot <file.png>\n";
        return 2;
    }
    CAboutBox box;
    box.show();
    QApplication::processEvents();
    QTextStream out(stdout);
    const std::pair<const char*, QWidget*> controls[] = {
        {"web link", box.WebLink()}, {"mail link", box.MailLink()}, {"close", box.CloseButton()}};
    for (const auto& [name, widget] : controls) {
        const QRect r = widget->geometry();
        out << name << ": " << r.x() << ',' << r.y() << ' ' << r.width() << 'x' << r.height()
            << '\n';
    }
    out.flush();
    return box.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
