#include "app/Application.h"

#include "app/MessageBox.h"
#include "app/Title.h"

namespace corvella::app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // No display name: the toolkit would append it to every box's caption.
  setApplicationName("Corvella");
  setApplicationVersion("1.07");
  setDesktopFileName("corvella");
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const Abort&) {
    return false;
  } catch (const std::exception& error) {
    ShowError(error);
    return false;
  }
}

QString ErrorText(const char* message) {
  QString text = QString::fromLocal8Bit(message);
  if (!text.isEmpty() && text.back() > QChar('.')) text += '.';
  return text;
}

void ShowError(const std::exception& error) {
  ShowMessageBox(nullptr, ErrorText(error.what()), kApplicationTitle, BoxIcon::Stop);
}

}  // namespace corvella::app
