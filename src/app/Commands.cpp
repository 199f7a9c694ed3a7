// The Count and Split commands: walk the selected entries of the source list
// in order and hand each to the part walk, keeping the window responsive.
// The source reader, the searches and the writer are reached through the
// window's own operations, which show the "Error" box where one applies.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "app/MainForm.h"
#include "app/MessageBox.h"
#include "batch/OutputName.h"
#include "batch/PartWalk.h"
#include "browse/DirectoryListBox.h"
#include "browse/FileListBox.h"
#include "wave/PartWriter.h"

namespace corvella::app {
bool TMainForm::OpenWave(const std::string& fileName) {
  WaveFileName = fileName;
  wave::OpenedWave opened =
      wave::OpenWave(wave::PlatformFiles(), SourcePath(fileName), wave::Acceptance::Plain16);
  if (!opened.source) {
    ShowError(opened.error);
    return false;
  }
  WaveHandle = std::move(opened.source);
  scanner_ = std::make_unique<detect::Scanner>(*WaveHandle, Detection(),
                                               static_cast<detect::Progress&>(*this));
  return true;
}

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

void TMainForm::CloseWave() {
  scanner_.reset();
  WaveHandle.reset();
}

std::int64_t TMainForm::FindPartStart(std::int64_t begin, bool& endOfData) {
  return scanner_->FindPartStart(begin, endOfData);
}

std::int64_t TMainForm::FindPartEnd(std::int64_t start, std::int64_t& scanPosition,
                                    bool& endOfData) {
  return scanner_->FindPartEnd(start, scanPosition, endOfData);
}

bool TMainForm::WritePart(std::int64_t startFrame, std::int64_t endFrame,
                          const std::string& fileName) {
  // The destination folder is looked up afresh for every part.
  const auto slash = fileName.find_last_of(batch::kPathSeparators);
  const std::string folderPath = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
  wave::Error error;
  std::unique_ptr<wave::Folder> folder =
      wave::Folder::Open(wave::PlatformFiles(), folderPath, error);
  if (folder) {
    wave::WriteOptions options;
    options.mono = Mono->isChecked();  // once per part, so its header and its samples agree
    options.keep = &keep_;
    error = wave::WritePart(*WaveHandle, startFrame, endFrame, *folder, name, options);
  }
  if (error) ShowError(error);
  return !error;
}

int TMainForm::ProcessParts(const std::string& fileName, const std::string& destFolder,
                            bool write) {
  if (!OpenWave(fileName)) return 0;
  batch::WalkResult walk;
  try {
    walk = batch::WalkParts(*scanner_, [&](const detect::PartSpan& part, int number) {
      if (write)
        WritePart(part.start, part.end, batch::BuildOutputPath(destFolder, WaveFileName, number));
    });
  } catch (...) {
    CloseWave();  // never leave the source locked behind an escaping error
    throw;
  }
  CloseWave();
  if (walk.readFailed) ShowError(wave::ErrorCode::UnableToRead);
  return walk.parts;
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
