// The main window: the source and destination panes, the two detection
// parameters, Mono, the status line, the actions and the progress bar, laid
// out at fixed pixel places. It owns the engine and serves its host interface.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "engine/Engine.h"
#include "engine/EngineHost.h"

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

class TMainForm : public QWidget, private EngineHost {
  Q_OBJECT

 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The outer size of the window, frame and caption bar included.
  static constexpr int kOuterWidth = 608;
  static constexpr int kOuterHeight = 433;

  Engine& engine() { return *engine_; }
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
  void FitOuterSize();
  void SetRunning(bool running);
  // Runs a command between the running and the resting state of the buttons.
  void RunCommand(const std::function<void()>& walk);
  // Shows the status for entry i, lets events run and takes the bars' values;
  // false when the source list was read anew meanwhile.
  bool BeginEntry(int i, const QString& status, QString& name);
  void ReadParameters();

  // EngineHost
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  bool CancelDown() override;
  bool MonoChecked() override;
  std::string SourceFolder() override;
  std::string DestFolder() override;

  std::unique_ptr<Engine> engine_;
  bool running_ = false;
  bool closeRequested_ = false;
  bool shown_ = false;
};

// Formats the value labels: "%2.1f dB" of the floor as a level, "%01.2f sec"
// of the gap with every unit taken as 1/44100 second.
QString NoiseFloorText(int position);
QString GapText(int position);

}  // namespace corvella::app
