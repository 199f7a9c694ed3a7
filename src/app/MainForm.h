// The main window: the source and destination panes, the two detection
// parameters, Mono, the status line, the actions and the progress bar, laid
// out at fixed pixel places. It holds the open source and the detection
// parameters, and runs the searches and the writer with its own progress
// bar, event pump and Cancel toggle.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/OuterSize.h"
#include "detect/Params.h"
#include "detect/Progress.h"
#include "wave/Error.h"
#include "wave/PartWriter.h"
#include "wave/WaveSource.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QSlider;
class QToolButton;

namespace corvella::browse {
class DirectoryListBox;
class DriveComboBox;
class FileListBox;
}  // namespace corvella::browse

namespace corvella::app {

class TMainForm : public QWidget, private detect::Progress {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The outer size of the window, frame and caption bar included.
  static constexpr int kOuterWidth = 608;
  static constexpr int kOuterHeight = 433;

  // The detection parameters as last copied from the bars.
  detect::DetectParams Detection() const;
  // True while Count or Split runs.
  bool Running() const { return running_; }

  // Components, named as in the layout.
  QGroupBox* SourceGroup;
  browse::DriveComboBox* SourceDrive;
  browse::DirectoryListBox* SourceDir;
  browse::FileListBox* SourceFiles;
  QGroupBox* DestinationGroup;
  browse::DriveComboBox* DestDrive;
  browse::DirectoryListBox* DestDir;
  QGroupBox* ParametersGroup;
  QLabel* Label1;
  QFrame* Bevel1;
  QLabel* SilenceThresholdLabel;
  QSlider* SilenceThresholdBar;
  QLabel* Label2;
  QFrame* Bevel2;
  QLabel* GapThresholdLabel;
  QSlider* GapThresholdBar;
  QGroupBox* OutputGroup;
  QCheckBox* Mono;
  QGroupBox* Status;
  QLineEdit* StatusLine;
  QGroupBox* ActionsGroup;
  QToolButton* CountButton;
  QToolButton* SplitButton;
  QToolButton* CancelButton;
  QToolButton* Logo;
  QGroupBox* ProgressGroup;
  QProgressBar* ProgressBar;

 public slots:
  void CountButtonClick();
  void SplitButtonClick();
  void SilenceThresholdBarChange();
  void GapThresholdBarChange();
  void LogoClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLayout();
  void FormCreate();
  void FormDestroy();
  void SetRunning(bool running);
  // Runs a command between the running and the resting state of the buttons.
  void RunCommand(const std::function<void()>& walk);
  // Shows the status for entry i, lets events run and takes the bars' values;
  // `name` is the entry as shown, `bytes` as the file system names it. False
  // when the source list was read anew meanwhile.
  bool BeginEntry(int i, const QString& status, QString& name, std::string& bytes);
  void ReadParameters();
  // Shows an error in the "Error" box.
  void ShowError(const wave::Error& error);
  // The destination folder as the engine takes it.
  std::string DestFolder() const;
  // The full path of the source list's entry `name`.
  std::string SourcePath(const std::string& name) const;
  // Keeps the files of the entries selected now.
  void KeepSelectedSources(wave::KeptFiles& sources) const;

  // The walk over one source file of the source list's folder: opened,
  // its parts found and, when asked, written into `destFolder` (mixed to
  // mono when Mono is ticked), every failure shown; returns the number of
  // parts, 0 when the file is refused.
  class WalkEvents;
  int ProcessParts(const std::string& fileName, const std::string& destFolder, bool write);
  int CountParts(const std::string& fileName);

  // Progress: the bar, the event pump and the Cancel toggle.
  void Report(int percent) override;
  void Pump() override;
  bool StopRequested() override;
  bool CancelDown() const;

  // The file being walked.
  std::string WaveFileName;
  // The selected sources while Split runs: no part replaces one of them.
  wave::KeptFiles keep_;
  int NoiseFloor = 0;
  int GapThreshold = 0;

  bool running_ = false;
  bool closeRequested_ = false;
  bool shown_ = false;
  OuterSize outerSize_;
};

// Formats the value labels: "%2.1f dB" of the floor as a level, "%01.2f sec"
// of the gap with every unit taken as 1/44100 second.
QString NoiseFloorText(int position);
QString GapText(int position);

}  // namespace corvella::app
