#include "vardolux.h"

#include <QApplication>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(images);

    QApplication application(argc, argv);
    Vardolux window;
    window.show();
    return application.exec();
}
