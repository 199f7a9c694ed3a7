// The Count and Split commands: walk the selected entries of the source list
// in order and hand each to the part walk, keeping the window responsive.
// The walk is the engine's, the one every front end shares; the window
// shows each failure it tells in the "Error" box.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "app/MainForm.h"
#include "app/MessageBox.h"
#include "batch/OutputName.h"
#include "browse/DirectoryListBox.h"
#include "browse/FileListBox.h"
#include "split/Walk.h"
#include "wave/PartWriter.h"

namespace corvella::app {
std::string TMainForm::SourcePath(const std::string& name) const {
  return batch::JoinPath(SourceFiles->Path().toStdString(), name);
}

void TMainForm::KeepSelectedSources(wave::KeptFiles& sources) const {
  sources.Clear();
  for (const QListWidgetItem* item : SourceFiles->selectedItems()) {
    const std::string name = item->data(Qt::UserRole).toByteArray().toStdString();
    const wave::FileId id = wave::PlatformFiles().InspectPath(SourcePath(name)).id;
    if (id.Known()) sources.Add(id, "a source of this run");
  }
}

// What the walk tells the window: each failure in its "Error" box, and how
// each part is written, read from Mono once per part so that its header and
// its samples agree.
class TMainForm::WalkEvents final : public split::WalkListener {
 public:
  explicit WalkEvents(TMainForm& form) : form_(form) {}
  void Failed(const wave::Error& error) override { form_.ShowError(error); }
  wave::WriteOptions PartOptions() override {
    wave::WriteOptions options;
    options.mono = form_.Mono->isChecked();
    options.keep = &form_.keep_;
    return options;
  }

 private:
  TMainForm& form_;
};

int TMainForm::ProcessParts(const std::string& fileName, const std::string& destFolder,
                            bool write) {
  WaveFileName = fileName;
  split::WalkRequest request;
  request.acceptance = wave::Acceptance::Plain16;
  request.detect = Detection();
  request.write = write;
  request.destination = destFolder;
  WalkEvents events(*this);
  return split::WalkRecording(wave::PlatformFiles(), SourcePath(fileName), request,
                              static_cast<detect::Progress&>(*this), events);
}

int TMainForm::CountParts(const std::string& fileName) {
  return ProcessParts(fileName, "", false);
}

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

bool TMainForm::BeginEntry(int i, const QString& status, QString& name, std::string& bytes) {
  const int listing = SourceFiles->Generation();
  name = SourceFiles->item(i)->text();
  bytes = SourceFiles->NameAt(i).toStdString();
  StatusLine->setText(status + name + "...");
  Pump();
  ReadParameters();
  // The user chose another source folder meanwhile: this entry is gone.
  return SourceFiles->Generation() == listing;
}

void TMainForm::CountButtonClick() {
  RunCommand([this] {
    for (int i = 0; i < SourceFiles->count(); ++i) {
      QString name;
      std::string bytes;
      if (!SourceFiles->item(i)->isSelected() ||
          !BeginEntry(i, "Counting parts in ", name, bytes)) {
        continue;
      }
      const int parts = CountParts(bytes);
      if (!CancelDown()) {
        const QString text =
            parts < 1 ? "No parts in file \"" + name + "\" found!"
                      : "File \"" + name + "\" contains " + QString::number(parts) + " parts!";
        ShowMessageBox(this, text, "Result:");
        Pump();
      }
      StatusLine->setText("Idle.");
    }
  });
}

void TMainForm::SplitButtonClick() {
  RunCommand([this] {
    for (int i = 0; i < SourceFiles->count() && !CancelDown(); ++i) {
      QString name;
      std::string bytes;
      if (!SourceFiles->item(i)->isSelected() || !BeginEntry(i, "Splitting ", name, bytes))
        continue;
      const int listing = SourceFiles->Generation();
      KeepSelectedSources(keep_);
      ProcessParts(bytes, DestFolder(), true);
      keep_.Clear();
      if (SourceFiles->Generation() == listing) SourceFiles->item(i)->setSelected(false);
    }
  });
  StatusLine->setText("Idle.");
}

}  // namespace corvella::app
