// The Count and Split commands: walk the selected entries of the source list
// in order and hand each to the engine, keeping the window responsive.
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "app/MainForm.h"
#include "app/MessageBox.h"
#include "browse/DirectoryListBox.h"
#include "browse/FileListBox.h"

namespace corvella::app {
namespace {

std::string Encoded(const QString& name) { return QFile::encodeName(name).toStdString(); }

}  // namespace

void TMainForm::SetRunning(bool running) {
  if (running) {
    CancelButton->setEnabled(true);
    CountButton->setEnabled(false);
    SplitButton->setEnabled(false);
  } else {
    CancelButton->setChecked(false);
    CancelButton->setEnabled(false);
    CountButton->setEnabled(true);
    SplitButton->setEnabled(true);
  }
  running_ = running;
  if (!running && closeRequested_) {
    closeRequested_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void TMainForm::RunCommand(const std::function<void()>& walk) {
  SetRunning(true);
  try {
    walk();
  } catch (...) {  // an escaping error still leaves the buttons at rest
    SetRunning(false);
    StatusLine->setText("Idle.");
    throw;
  }
  SetRunning(false);
}

bool TMainForm::BeginEntry(int i, const QString& status, QString& name) {
  const int listing = SourceFiles->Generation();
  name = SourceFiles->item(i)->text();
  StatusLine->setText(status + name + "...");
  ProcessMessages();
  ReadParameters();
  // The user chose another source folder meanwhile: this entry is gone.
  return SourceFiles->Generation() == listing;
}

void TMainForm::CountButtonClick() {
  RunCommand([this] {
    for (int i = 0; i < SourceFiles->count(); ++i) {
      QString name;
      if (!SourceFiles->item(i)->isSelected() || !BeginEntry(i, "Counting parts in ", name)) continue;
      const int parts = engine_->CountParts(Encoded(name));
      if (!CancelDown()) {
        const QString text = parts < 1 ? "No parts in file \"" + name + "\" found!"
                                       : "File \"" + name + "\" contains " +
                                             QString::number(parts) + " parts!";
        ShowMessageBox(this, text, "Result:");
        ProcessMessages();
      }
      StatusLine->setText("Idle.");
    }
  });
}

void TMainForm::SplitButtonClick() {
  RunCommand([this] {
    for (int i = 0; i < SourceFiles->count() && !CancelDown(); ++i) {
      QString name;
      if (!SourceFiles->item(i)->isSelected() || !BeginEntry(i, "Splitting ", name)) continue;
      const int listing = SourceFiles->Generation();
      engine_->ProcessParts(Encoded(name), DestFolder(), true);
      if (SourceFiles->Generation() == listing) SourceFiles->item(i)->setSelected(false);
    }
  });
  StatusLine->setText("Idle.");
}

}  // namespace corvella::app
