#include "app/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QScreen>
#include <QSlider>
#include <QStyleFactory>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "app/MessageBox.h"
#include "messages/Messages.h"
#include "app/Title.h"
#include "browse/DirectoryListBox.h"
#include "browse/DriveComboBox.h"
#include "browse/FileListBox.h"
#include "detect/Units.h"

// Resources of a static library must be registered by name, outside any namespace.
static void LoadPictures() {
  Q_INIT_RESOURCE(corvella);
}

namespace corvella::app {
namespace {

// Group boxes with their caption set into the top edge of an etched frame.
constexpr char kGroupBoxLook[] =
    "QGroupBox { border: 2px groove palette(mid); border-radius: 0px; margin-top: 7px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
    " left: 6px; padding: 0px 2px 0px 2px; }";

// The layout's face where it is installed; otherwise Liberation Sans, which
// has the same widths as the usual sans-serif of the desktops the layout was
// drawn on and fits every caption; DejaVu Sans as a last resort.
QFont WindowFont() {
  const QStringList installed = QFontDatabase::families();
  QString family = "DejaVu Sans";
  for (const char* wanted : {"MS Sans Serif", "Liberation Sans"}) {
    if (installed.contains(wanted)) {
      family = wanted;
      break;
    }
  }
  QFont font(family);
  font.setPixelSize(13);
  font.setStyleStrategy(QFont::PreferDefault);
  return font;
}

// Track bars with a 20-pixel thumb whatever the style.
class TrackBarStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    if (metric == PM_SliderLength) return 20;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

template <typename Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* caption, int left, int top,
                 int width, int height) {
  auto* group = Place(new QGroupBox(caption, parent), name, left, top, width, height);
  group->setStyleSheet(kGroupBoxLook);
  return group;
}

// A flat push button that takes no keyboard focus and raises its border
// only while the mouse is over it.
QToolButton* SpeedButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                         int width, int height) {
  auto* button = Place(new QToolButton(parent), name, left, top, width, height);
  button->setText(caption);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  return button;
}

QFrame* Bevel(QWidget* parent, const char* name, int left, int top) {
  auto* bevel = Place(new QFrame(parent), name, left, top, 73, 33);
  bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return bevel;
}

// A caption that sizes itself to its text and keeps its right edge.
QLabel* RightAlignedCaption(QWidget* parent, const char* name, const char* text, int right,
                            int top) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  const int width = label->fontMetrics().horizontalAdvance(text);
  label->setGeometry(right - width, top, width, 16);
  return label;
}

QLabel* ValueLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Place(new QLabel(text, parent), name, left, top, 61, 21);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

QSlider* TrackBar(QWidget* parent, const char* name, int top, int minimum, int maximum,
                  int position, int line, int page, QStyle* style) {
  auto* bar = Place(new QSlider(Qt::Horizontal, parent), name, 200, top, 377, 33);
  bar->setStyle(style);
  bar->setRange(minimum, maximum);
  bar->setValue(position);
  bar->setSingleStep(line);
  bar->setPageStep(page);
  bar->setTickInterval(line);
  bar->setTickPosition(QSlider::NoTicks);
  bar->setFocusPolicy(Qt::StrongFocus);
  return bar;
}

}  // namespace

QString NoiseFloorText(int position) {
  return QString::number(detect::AmplitudeDb(position), 'f', 1) + " dB";
}

QString GapText(int position) {
  return QString::number(detect::GapSeconds(position), 'f', 2) + " sec";
}

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      outerSize_(*this, QSize(kOuterWidth, kOuterHeight)) {
  LoadPictures();
  setObjectName("MainForm");
  setWindowTitle("MainForm");
  // Every component takes the window's font; set for the whole application so
  // that styled components and message boxes take it too.
  QApplication::setFont(WindowFont());
  setFont(WindowFont());
  setWindowIcon(QIcon(":/corvella/corvella-icon.xpm"));
  resize(kOuterWidth, kOuterHeight);  // no frame known yet; fitted when first shown
  BuildLayout();
  FormCreate();
}

TMainForm::~TMainForm() {
  FormDestroy();
}

void TMainForm::BuildLayout() {
  SourceGroup = Group(this, "SourceGroup", "Source", 8, 0, 393, 161);
  SourceDrive = Place(new browse::DriveComboBox(SourceGroup), "SourceDrive", 8, 24, 169, 22);
  SourceDir = Place(new browse::DirectoryListBox(SourceGroup), "SourceDir", 8, 56, 169, 97);
  SourceFiles = Place(new browse::FileListBox(SourceGroup), "SourceFiles", 184, 24, 201, 129);
  SourceDrive->SetDirList(SourceDir);
  SourceDir->SetFileList(SourceFiles);

  DestinationGroup = Group(this, "DestinationGroup", "Destination", 408, 0, 185, 161);
  DestDrive = Place(new browse::DriveComboBox(DestinationGroup), "DestDrive", 8, 24, 169, 22);
  DestDir = Place(new browse::DirectoryListBox(DestinationGroup), "DestDir", 8, 56, 169, 97);
  DestDrive->SetDirList(DestDir);

  ParametersGroup = Group(this, "ParametersGroup", "Parameters", 8, 168, 585, 97);
  auto* trackStyle = new TrackBarStyle(QStyleFactory::create(QApplication::style()->name()));
  trackStyle->setParent(this);
  Label1 = RightAlignedCaption(ParametersGroup, "Label1", "Noise Floor", 37 + 70, 23);
  Bevel1 = Bevel(ParametersGroup, "Bevel1", 120, 16);
  SilenceThresholdLabel = ValueLabel(ParametersGroup, "SilenceThresholdLabel", "-50.0 dB", 126, 23);
  SilenceThresholdBar =
      TrackBar(ParametersGroup, "SilenceThresholdBar", 16, 1, 328, 104, 16, 32, trackStyle);
  Label2 = RightAlignedCaption(ParametersGroup, "Label2", "Gap Threshold", 17 + 90, 63);
  Bevel2 = Bevel(ParametersGroup, "Bevel2", 120, 56);
  GapThresholdLabel = ValueLabel(ParametersGroup, "GapThresholdLabel", "0.5 sec", 126, 63);
  GapThresholdBar =
      TrackBar(ParametersGroup, "GapThresholdBar", 56, 4410, 44100, 22050, 2205, 4410, trackStyle);
  connect(SilenceThresholdBar, &QSlider::valueChanged, this, &TMainForm::SilenceThresholdBarChange);
  connect(GapThresholdBar, &QSlider::valueChanged, this, &TMainForm::GapThresholdBarChange);

  OutputGroup = Group(this, "OutputGroup", "Output", 8, 272, 89, 57);
  Mono = Place(new QCheckBox("Mono", OutputGroup), "Mono", 16, 24, 65, 25);

  Status = Group(this, "Status", "Status", 104, 272, 489, 57);
  StatusLine = Place(new QLineEdit("Idle.", Status), "StatusLine", 8, 24, 473, 24);
  StatusLine->setEnabled(false);
  StatusLine->setFocusPolicy(Qt::NoFocus);

  ActionsGroup = Group(this, "ActionsGroup", "Actions", 8, 336, 225, 57);
  CountButton = SpeedButton(ActionsGroup, "CountButton", "Count", 8, 24, 65, 25);
  SplitButton = SpeedButton(ActionsGroup, "SplitButton", "Split", 80, 24, 65, 25);
  CancelButton = SpeedButton(ActionsGroup, "CancelButton", "Cancel", 152, 24, 65, 25);
  CancelButton->setCheckable(true);  // a click toggles it down and up again
  CancelButton->setEnabled(false);
  connect(CountButton, &QToolButton::clicked, this, &TMainForm::CountButtonClick);
  connect(SplitButton, &QToolButton::clicked, this, &TMainForm::SplitButtonClick);

  Logo = Place(new QToolButton(this), "Logo", 240, 344, 41, 49);
  Logo->setAutoRaise(true);
  Logo->setFocusPolicy(Qt::NoFocus);
  QPixmap picture(":/corvella/corvella-logo.xpm");
  // The colour of the lower-left pixel is the picture's background: drawn transparent.
  const QColor background = picture.toImage().pixelColor(0, picture.height() - 1);
  picture.setMask(picture.createMaskFromColor(background, Qt::MaskInColor));
  Logo->setIcon(QIcon(picture));
  Logo->setIconSize(picture.size());
  connect(Logo, &QToolButton::clicked, this, &TMainForm::LogoClick);

  ProgressGroup = Group(this, "ProgressGroup", "Progress", 288, 336, 305, 57);
  ProgressBar = Place(new QProgressBar(ProgressGroup), "ProgressBar", 8, 24, 289, 20);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);
  ProgressBar->setFocusPolicy(Qt::NoFocus);

  // Keyboard focus runs through the panes, the bars and Mono, in that order.
  QWidget* order[] = {SourceDrive, SourceDir,           SourceFiles,     DestDrive,
                      DestDir,     SilenceThresholdBar, GapThresholdBar, Mono};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
}

void TMainForm::FormCreate() {
  setWindowTitle(kApplicationTitle);
  WaveFileName.clear();
  NoiseFloor = SilenceThresholdBar->value();
  SilenceThresholdBarChange();
  GapThreshold = GapThresholdBar->value();
  GapThresholdBarChange();
}

void TMainForm::FormDestroy() {
  // A source is open only within one walk, which has ended by now.
}

void TMainForm::SilenceThresholdBarChange() {
  SilenceThresholdLabel->setText(NoiseFloorText(SilenceThresholdBar->value()));
}

void TMainForm::GapThresholdBarChange() {
  GapThresholdLabel->setText(GapText(GapThresholdBar->value()));
}

void TMainForm::LogoClick() {
  ShowMessageBox(nullptr,
                 "Corvella v1.07 - (c) 2026 the Corvella developers\n"
                 "Free software: use, copy and change it under the terms of the MIT licence.\n"
                 "\n"
                 "https://corvella.example.org\n"
                 "corvella@example.org",
                 "About Corvella");
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  outerSize_.Fit();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // A running command is not stopped by a close request: the window closes
  // once the command has returned.
  if (running_) {
    closeRequested_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TMainForm::ReadParameters() {
  NoiseFloor = SilenceThresholdBar->value();
  GapThreshold = GapThresholdBar->value();
}

detect::DetectParams TMainForm::Detection() const {
  detect::DetectParams params;
  params.noiseFloor = NoiseFloor;
  params.gapThreshold = GapThreshold;
  return params;
}

void TMainForm::ShowError(const wave::Error& error) {
  ShowMessageBox(this, QString::fromStdString(messages::MessageOf(error)), "Error");
}

void TMainForm::Report(int percent) {
  ProgressBar->setValue(std::clamp(percent, 0, 100));
}

void TMainForm::Pump() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool TMainForm::StopRequested() {
  return CancelDown();
}

bool TMainForm::CancelDown() const {
  return CancelButton->isChecked();
}

std::string TMainForm::DestFolder() const {
  return DestDir->Path().toStdString();
}

}  // namespace corvella::app
