// The main window at rest: every component's place, the tab order, the
// parameter bars and their labels, the about box, the fixed layout.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSet>
#include <QSlider>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "app/Application.h"
#include "app/MainForm.h"
#include "app/MessageBox.h"
#include "browse/FileListBox.h"

using corvella::app::BoxRequest;
using corvella::app::TMainForm;

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;
  std::unique_ptr<TMainForm> form_;
  QList<BoxRequest> boxes_;

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* widget = form_->findChild<T*>(name);
    if (!widget) qFatal("no component named %s", name);
    return widget;
  }

 private slots:
  void init() {
    QDir::setCurrent(folder_.path());
    boxes_.clear();
    corvella::app::SetMessageBoxHandler([this](const BoxRequest& box) { boxes_.append(box); });
    form_ = std::make_unique<TMainForm>();
  }
  void cleanup() {
    form_.reset();
    corvella::app::SetMessageBoxHandler({});
  }

  void everyComponentStandsAtItsPlace() {
    struct Place {
      const char* name;
      const char* parent;
      QRect rect;
    };
    const Place places[] = {
        {"SourceGroup", "MainForm", {8, 0, 393, 161}},
        {"SourceDrive", "SourceGroup", {8, 24, 169, 22}},
        {"SourceDir", "SourceGroup", {8, 56, 169, 97}},
        {"SourceFiles", "SourceGroup", {184, 24, 201, 129}},
        {"DestinationGroup", "MainForm", {408, 0, 185, 161}},
        {"DestDrive", "DestinationGroup", {8, 24, 169, 22}},
        {"DestDir", "DestinationGroup", {8, 56, 169, 97}},
        {"ParametersGroup", "MainForm", {8, 168, 585, 97}},
        {"Bevel1", "ParametersGroup", {120, 16, 73, 33}},
        {"SilenceThresholdLabel", "ParametersGroup", {126, 23, 61, 21}},
        {"SilenceThresholdBar", "ParametersGroup", {200, 16, 377, 33}},
        {"Bevel2", "ParametersGroup", {120, 56, 73, 33}},
        {"GapThresholdLabel", "ParametersGroup", {126, 63, 61, 21}},
        {"GapThresholdBar", "ParametersGroup", {200, 56, 377, 33}},
        {"OutputGroup", "MainForm", {8, 272, 89, 57}},
        {"Mono", "OutputGroup", {16, 24, 65, 25}},
        {"Status", "MainForm", {104, 272, 489, 57}},
        {"StatusLine", "Status", {8, 24, 473, 24}},
        {"ActionsGroup", "MainForm", {8, 336, 225, 57}},
        {"CountButton", "ActionsGroup", {8, 24, 65, 25}},
        {"SplitButton", "ActionsGroup", {80, 24, 65, 25}},
        {"CancelButton", "ActionsGroup", {152, 24, 65, 25}},
        {"Logo", "MainForm", {240, 344, 41, 49}},
        {"ProgressGroup", "MainForm", {288, 336, 305, 57}},
        {"ProgressBar", "ProgressGroup", {8, 24, 289, 20}},
    };
    for (const Place& place : places) {
      QWidget* widget = Find(place.name);
      QCOMPARE(widget->parentWidget()->objectName(), QString(place.parent));
      QCOMPARE(widget->geometry(), place.rect);
    }
    // The captions size themselves to their text and keep their right edge,
    // inside the room the layout gives them.
    for (auto [name, text, left, width, parent] :
         {std::tuple{"Label1", "Noise Floor", 37, 70, "ParametersGroup"},
          std::tuple{"Label2", "Gap Threshold", 17, 90, "ParametersGroup"}}) {
      auto* label = Find<QLabel>(name);
      QCOMPARE(label->text(), QString(text));
      QCOMPARE(label->parentWidget()->objectName(), QString(parent));
      QCOMPARE(label->geometry().right(), left + width - 1);
      QVERIFY(label->width() <= width);
      QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(text));
      QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    }
    QCOMPARE(form_->findChildren<QWidget*>(QRegularExpression("^[A-Z]")).size(), 27);
  }

  void textsFitTheirBoxes() {
    for (const char* name : {"SilenceThresholdLabel", "GapThresholdLabel"}) {
      auto* label = Find<QLabel>(name);
      for (const QString& text : {QString("-90.3 dB"), QString("-40.0 dB"), QString("0.10 sec")}) {
        QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->width(), name);
      }
    }
    for (const char* name : {"CountButton", "SplitButton", "CancelButton"}) {
      auto* button = Find<QToolButton>(name);
      QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width());
    }
    auto* mono = Find<QCheckBox>("Mono");
    QVERIFY(mono->sizeHint().width() <= mono->width());
  }

  void restingStateAfterStartUp() {
    QCOMPARE(form_->windowTitle(), QString("Corvella v1.07"));
    auto* status = Find<QLineEdit>("StatusLine");
    QCOMPARE(status->text(), QString("Idle."));
    QVERIFY(!status->isEnabled());
    auto* cancel = Find<QToolButton>("CancelButton");
    QVERIFY(cancel->isCheckable());
    QVERIFY(!cancel->isChecked());
    QVERIFY(!cancel->isEnabled());
    QVERIFY(Find<QToolButton>("CountButton")->isEnabled());
    QVERIFY(Find<QToolButton>("SplitButton")->isEnabled());
    for (const char* name : {"CountButton", "SplitButton", "CancelButton", "Logo"}) {
      auto* button = Find<QToolButton>(name);
      QVERIFY(button->autoRaise());
      QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    }
    auto* progress = Find<QProgressBar>("ProgressBar");
    QCOMPARE(progress->value(), 0);
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 100);
    QVERIFY(!Find<QCheckBox>("Mono")->isChecked());
    QCOMPARE(Find<QLabel>("SilenceThresholdLabel")->text(), QString("-50.0 dB"));
    QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), QString("0.50 sec"));
    QCOMPARE(form_->engine().NoiseFloor, 104);
    QCOMPARE(form_->engine().GapThreshold, 22050);
    QCOMPARE(form_->engine().WaveHandle, nullptr);
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form_->windowFlags() & Qt::WindowMinimizeButtonHint);
  }

  void barsAreSetUpAsTheLayoutSays() {
    auto* noise = Find<QSlider>("SilenceThresholdBar");
    auto* gap = Find<QSlider>("GapThresholdBar");
    QCOMPARE(std::tuple(noise->minimum(), noise->maximum(), noise->value(), noise->singleStep(),
                        noise->pageStep(), noise->tickPosition()),
             std::tuple(1, 328, 104, 16, 32, QSlider::NoTicks));
    QCOMPARE(std::tuple(gap->minimum(), gap->maximum(), gap->value(), gap->singleStep(),
                        gap->pageStep(), gap->tickPosition()),
             std::tuple(4410, 44100, 22050, 2205, 4410, QSlider::NoTicks));
    QCOMPARE(noise->orientation(), Qt::Horizontal);
  }

  void labelsReadTheTableValues_data() {
    QTest::addColumn<QString>("bar");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    const std::pair<int, const char*> noise[] = {{1, "-90.3 dB"},  {2, "-84.3 dB"},  {16, "-66.2 dB"},
                                                 {32, "-60.2 dB"}, {100, "-50.3 dB"}, {104, "-50.0 dB"},
                                                 {327, "-40.0 dB"}, {328, "-40.0 dB"}, {25, "-62.4 dB"}};
    for (auto [p, text] : noise) {
      QTest::newRow(qPrintable(QString("noise %1").arg(p))) << "SilenceThresholdBar" << p << text;
    }
    const std::pair<int, const char*> gaps[] = {{4410, "0.10 sec"},  {4411, "0.10 sec"},
                                                {6615, "0.15 sec"},  {8820, "0.20 sec"},
                                                {22050, "0.50 sec"}, {44099, "1.00 sec"},
                                                {44100, "1.00 sec"}};
    for (auto [p, text] : gaps) {
      QTest::newRow(qPrintable(QString("gap %1").arg(p))) << "GapThresholdBar" << p << text;
    }
  }
  void labelsReadTheTableValues() {
    QFETCH(QString, bar);
    QFETCH(int, position);
    QFETCH(QString, text);
    Find<QSlider>(qPrintable(bar))->setValue(position);
    const char* label = bar == "GapThresholdBar" ? "GapThresholdLabel" : "SilenceThresholdLabel";
    QCOMPARE(Find<QLabel>(label)->text(), text);
  }

  void everyPositionGivesAnEightCharacterText() {
    QSet<QString> noiseTexts;
    for (int p = 1; p <= 328; ++p) {
      const QString text = corvella::app::NoiseFloorText(p);
      QCOMPARE(text.size(), 8);
      noiseTexts.insert(text);
    }
    QCOMPARE(noiseTexts.size(), 202);
    for (int p = 4410; p <= 44100; ++p) QCOMPARE(corvella::app::GapText(p).size(), 8);
  }

  void movingABarChangesOnlyItsLabel() {
    Find<QSlider>("SilenceThresholdBar")->setValue(300);
    Find<QSlider>("GapThresholdBar")->setValue(30000);
    QCOMPARE(form_->engine().NoiseFloor, 104);
    QCOMPARE(form_->engine().GapThreshold, 22050);
    QCOMPARE(Find<QLabel>("SilenceThresholdLabel")->text(), QString("-40.8 dB"));
    QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), QString("0.68 sec"));
  }

  void arrowAndPageKeysStepTheBars() {
    auto* noise = Find<QSlider>("SilenceThresholdBar");
    for (int i = 0; i < 14; ++i) QTest::keyClick(noise, Qt::Key_Right);
    QCOMPARE(noise->value(), 328);
    QTest::keyClick(noise, Qt::Key_Right);
    QCOMPARE(noise->value(), 328);
    noise->setValue(104);
    for (int i = 0; i < 6; ++i) QTest::keyClick(noise, Qt::Key_Left);
    QCOMPARE(noise->value(), 8);
    QTest::keyClick(noise, Qt::Key_Left);
    QCOMPARE(noise->value(), 1);
    QTest::keyClick(noise, Qt::Key_PageUp);
    QCOMPARE(noise->value(), 33);

    auto* gap = Find<QSlider>("GapThresholdBar");
    for (int i = 0; i < 10; ++i) QTest::keyClick(gap, Qt::Key_Right);
    QCOMPARE(gap->value(), 44100);
    gap->setValue(22050);
    for (int i = 0; i < 8; ++i) QTest::keyClick(gap, Qt::Key_Left);
    QCOMPARE(gap->value(), 4410);
    QTest::keyClick(gap, Qt::Key_PageUp);
    QCOMPARE(gap->value(), 8820);
    QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), QString("0.20 sec"));
  }

  void tabVisitsThePanesTheBarsAndMonoInOrder() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    const QStringList order{"SourceDrive", "SourceDir",           "SourceFiles",     "DestDrive",
                            "DestDir",     "SilenceThresholdBar", "GapThresholdBar", "Mono"};
    Find(qPrintable(order[0]))->setFocus();
    QStringList visited;
    for (int i = 0; i < order.size() + 1; ++i) {
      visited.append(QApplication::focusWidget()->objectName());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, order + QStringList{order[0]});
  }

  void aboutBoxHasFiveLines() {
    QTest::mouseClick(Find("Logo"), Qt::LeftButton);
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].caption, QString("About Corvella"));
    const QStringList lines = boxes_[0].text.split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[0].startsWith("Corvella v1.07 - "));
    QVERIFY(lines[0].size() > QString("Corvella v1.07 - ").size());
    QVERIFY(!lines[1].isEmpty());
    QVERIFY(lines[2].isEmpty());
    QVERIFY(lines[3].startsWith("https://"));
    QVERIFY(lines[4].contains('@'));
    QCOMPARE(boxes_[0].icon, corvella::app::BoxIcon::None);
  }

  void logoDrawsItsBackgroundTransparent() {
    auto* logo = Find<QToolButton>("Logo");
    QCOMPARE(logo->iconSize(), QSize(34, 34));
    const QImage picture = logo->icon().pixmap(34, 34).toImage();
    QCOMPARE(picture.size(), QSize(34, 34));
    QCOMPARE(qAlpha(picture.pixel(0, 33)), 0);                  // the pink is gone
    int opaque = 0;
    for (int y = 0; y < 34; ++y) {
      for (int x = 0; x < 34; ++x) opaque += qAlpha(picture.pixel(x, y)) == 255;
    }
    QVERIFY(opaque > 150);  // and the motif stays
    QCOMPARE(form_->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
  }

  void outerSizeAndResizingKeepTheLayout() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QTRY_COMPARE(form_->frameGeometry().size(), QSize(608, 433));
    QMap<QString, QRect> before;
    for (QWidget* w : form_->findChildren<QWidget*>(QRegularExpression("^[A-Z]"))) {
      before[w->objectName()] = w->geometry();
    }
    form_->resize(900, 700);
    form_->resize(300, 200);
    for (QWidget* w : form_->findChildren<QWidget*>(QRegularExpression("^[A-Z]"))) {
      QCOMPARE(w->geometry(), before[w->objectName()]);
    }
  }

  void errorsReadAsSentences() {
    QCOMPARE(corvella::app::ErrorText("Out of memory"), QString("Out of memory."));
    QCOMPARE(corvella::app::ErrorText("Access violation!"), QString("Access violation!"));
    QCOMPARE(corvella::app::ErrorText("Disk full."), QString("Disk full."));
    QCOMPARE(corvella::app::ErrorText("code 42"), QString("code 42."));
    QCOMPARE(corvella::app::ErrorText("(see log)"), QString("(see log)"));
    QCOMPARE(corvella::app::ErrorText(""), QString(""));
  }

  void startsInTheCurrentFolder() {
    auto* files = Find<corvella::browse::FileListBox>("SourceFiles");
    QCOMPARE(files->Directory(), QDir(folder_.path()).canonicalPath());
    QCOMPARE(files->count(), 0);
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
