// The application object: shows an error that escapes an event handler in a
// box captioned with the application title, and goes on.
#pragma once

#include <QApplication>
#include <exception>

namespace corvella::app {

// Thrown to leave a handler silently.
class Abort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// The text shown for an error: its message, with a full stop appended when
// the message is not empty and its last character sorts after ".".
QString ErrorText(const char* message);
// Shows an error in a box with a stop icon and the application title.
void ShowError(const std::exception& error);

}  // namespace corvella::app
