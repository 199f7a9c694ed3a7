// Every message box of the program goes through this one seam, so tests can
// answer boxes without a modal loop.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace corvella::app {

enum class BoxIcon { None, Stop };

struct BoxRequest {
  QWidget* parent;
  QString text;
  QString caption;
  BoxIcon icon;
};

using MessageBoxHandler = std::function<void(const BoxRequest&)>;

// Replaces the real modal box; an empty handler puts the real one back.
void SetMessageBoxHandler(MessageBoxHandler handler);
// Shows a modal box with one OK button and returns when it is dismissed.
void ShowMessageBox(QWidget* parent, const QString& text, const QString& caption,
                    BoxIcon icon = BoxIcon::None);

}  // namespace corvella::app
