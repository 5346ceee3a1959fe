#include "boxcloser.h"

BoxCloser::BoxCloser()
    : watcher([this](QWidget *widget) {
          auto *box = qobject_cast<QMessageBox *>(widget);
          if (!box) {
              widget->close();
              return;
          }
          boxes << SeenBox{box->windowTitle(), box->text(), box->standardButtons(), box->icon()};
          box->done(QMessageBox::Ok);
      })
{
}
