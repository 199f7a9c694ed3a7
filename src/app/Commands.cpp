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

void TMainForm::CountButtonClick() {
  SetRunning(true);
  try {
    for (int i = 0; i < SourceFiles->count(); ++i) {
      if (!SourceFiles->item(i)->isSelected()) continue;
      const int listing = SourceFiles->Generation();
      const QString name = SourceFiles->item(i)->text();
      StatusLine->setText("Counting parts in " + name + "...");
      ProcessMessages();
      ReadParameters();
      // The user chose another source folder meanwhile: this entry is gone.
      if (SourceFiles->Generation() != listing) continue;
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
  } catch (...) {
    SetRunning(false);
    StatusLine->setText("Idle.");
    throw;
  }
  SetRunning(false);
}

void TMainForm::SplitButtonClick() {
  SetRunning(true);
  try {
    for (int i = 0; i < SourceFiles->count() && !CancelDown(); ++i) {
      if (!SourceFiles->item(i)->isSelected()) continue;
      const int listing = SourceFiles->Generation();
      const QString name = SourceFiles->item(i)->text();
      StatusLine->setText("Splitting " + name + "...");
      ProcessMessages();
      ReadParameters();
      if (SourceFiles->Generation() != listing) continue;
      engine_->ProcessParts(Encoded(name), DestFolder(), true);
      if (SourceFiles->Generation() == listing) SourceFiles->item(i)->setSelected(false);
    }
  } catch (...) {
    SetRunning(false);
    StatusLine->setText("Idle.");
    throw;
  }
  SetRunning(false);
  StatusLine->setText("Idle.");
}

}  // namespace corvella::app
