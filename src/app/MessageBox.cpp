#include "app/MessageBox.h"

#include <QMessageBox>

namespace corvella::app {
namespace {

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
  Handler() = std::move(handler);
}

void ShowMessageBox(QWidget* parent, const QString& text, const QString& caption, BoxIcon icon) {
  if (Handler()) {
    Handler()({parent, text, caption, icon});
    return;
  }
  QMessageBox box(icon == BoxIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon, caption,
                  text, QMessageBox::Ok, parent);
  box.setObjectName("MessageBox");
  box.exec();
}

}  // namespace corvella::app
