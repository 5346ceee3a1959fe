#include "vardolux.h"

#include <QApplication>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(images);

    QApplication application(argc, argv);
    // Lets the desktop match the window to the installed vardolux.desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vardolux"));
    Vardolux window;
    window.show();
    return application.exec();
}
