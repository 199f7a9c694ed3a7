// The main window at rest: every component's place, the tab order, the
// parameter bars and their labels, the about box, the fixed layout.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSet>
#include <QSlider>
#include <QToolButton>
#include <QtTest>
#include <charconv>
#include <clocale>
#include <cmath>

#include "app/Application.h"
#include "app/MainForm.h"
#include "app/MessageBox.h"

using corvella::app::TMainForm;

class MainWindowTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TMainForm> form_;
  QList<corvella::app::BoxRequest> boxes_;

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* widget = form_->findChild<T*>(name);
    if (!widget) qFatal("no component named %s", name);
    return widget;
  }

 private slots:
  void init() {
    corvella::app::SetMessageBoxHandler([this](const auto& box) { boxes_.append(box); });
    form_ = std::make_unique<TMainForm>();
  }
  void cleanup() { form_.reset(); }

  void everyComponentStandsAtItsPlaceAndStaysThere() {
    const std::tuple<const char*, const char*, QRect> places[] = {
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
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QTRY_COMPARE(form_->frameGeometry().size(), QSize(608, 433));
    form_->resize(900, 700);
    for (const auto& [name, parent, rect] : places) {
      QCOMPARE(Find(name)->parentWidget()->objectName(), QString(parent));
      QCOMPARE(Find(name)->geometry(), rect);
    }
    // The captions size themselves to their text, keep their right edge at
    // 107 and fit the room the layout gives them; so do the other texts.
    for (auto [name, room] : {std::pair{"Label1", 70}, {"Label2", 90}}) {
      QCOMPARE(Find(name)->geometry().right(), 106);
      QVERIFY(Find(name)->width() <= room);
    }
    for (const char* text : {"-90.3 dB", "-40.0 dB", "1.00 sec"}) {
      QVERIFY(Find("GapThresholdLabel")->fontMetrics().horizontalAdvance(text) <= 61);
    }
    QVERIFY(Find<QCheckBox>("Mono")->sizeHint().width() <= 65);
    QCOMPARE(form_->findChildren<QWidget*>(QRegularExpression("^[A-Z]")).size(), 27);
    QVERIFY(!(form_->windowFlags() & Qt::WindowMaximizeButtonHint));
  }

  void restingStateAfterStartUp() {
    QCOMPARE(form_->windowTitle(), QString("Corvella v1.07"));
    QCOMPARE(Find<QLineEdit>("StatusLine")->text(), QString("Idle."));
    QVERIFY(!Find("StatusLine")->isEnabled());
    auto* cancel = Find<QToolButton>("CancelButton");
    QVERIFY(cancel->isCheckable() && !cancel->isChecked() && !cancel->isEnabled());
    QVERIFY(Find("CountButton")->isEnabled() && Find("SplitButton")->isEnabled());
    QCOMPARE(Find<QProgressBar>("ProgressBar")->value(), 0);
    QVERIFY(!Find<QCheckBox>("Mono")->isChecked());
    QCOMPARE(Find<QLabel>("SilenceThresholdLabel")->text(), QString("-50.0 dB"));
    QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), QString("0.50 sec"));
    QCOMPARE(form_->Detection().noiseFloor, 104);
    QCOMPARE(form_->Detection().gapThreshold, 22050);
    // The Logo draws its pink background transparent and keeps its motif.
    const QImage logo = Find<QToolButton>("Logo")->icon().pixmap(34, 34).toImage();
    QCOMPARE(qAlpha(logo.pixel(0, 33)), 0);
    QVERIFY(qAlpha(logo.pixel(16, 17)) == 255);
  }

  void labelsReadTheTableValuesAndOnlyTheLabelsMove() {
    auto* noise = Find<QSlider>("SilenceThresholdBar");
    auto* gap = Find<QSlider>("GapThresholdBar");
    for (auto [p, text] : {std::pair{1, "-90.3 dB"},
                           {16, "-66.2 dB"},
                           {100, "-50.3 dB"},
                           {327, "-40.0 dB"},
                           {328, "-40.0 dB"}}) {
      noise->setValue(p);
      QCOMPARE(Find<QLabel>("SilenceThresholdLabel")->text(), QString(text));
    }
    for (auto [p, text] : {std::pair{4410, "0.10 sec"},
                           {4411, "0.10 sec"},
                           {6615, "0.15 sec"},
                           {44099, "1.00 sec"}}) {
      gap->setValue(p);
      QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), QString(text));
    }
    QCOMPARE(form_->Detection().noiseFloor,
             104);  // the bars reach the engine only when a file starts
    QSet<QString> texts;
    for (int p = 1; p <= 328; ++p) texts.insert(corvella::app::NoiseFloorText(p));
    QCOMPARE(texts.size(), 202);
  }

  void everyBarPositionReadsWithADecimalPointInAnyLocale() {
    // Run with a German locale as well, where the C library writes "-50,0".
    if (qEnvironmentVariableIsSet("CORVELLA_EXPECT_DECIMAL_COMMA")) {
      QCOMPARE(QString(std::localeconv()->decimal_point), QString(","));
    }
    auto fixed = [](double value, int decimals) {
      char text[32];
      const auto end =
          std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
      return QString::fromLatin1(text, end - text);
    };
    auto* noise = Find<QSlider>("SilenceThresholdBar");
    for (int p = noise->minimum(); p <= noise->maximum(); ++p) {
      noise->setValue(p);
      QCOMPARE(Find<QLabel>("SilenceThresholdLabel")->text(),
               fixed(20.0 * std::log10(p / 32768.0), 1) + " dB");
    }
    auto* gap = Find<QSlider>("GapThresholdBar");
    for (int p = gap->minimum(); p <= gap->maximum(); p += 7) {
      gap->setValue(p);
      QCOMPARE(Find<QLabel>("GapThresholdLabel")->text(), fixed(p / 44100.0, 2) + " sec");
    }
  }

  void arrowAndPageKeysStepTheBars() {
    auto* noise = Find<QSlider>("SilenceThresholdBar");
    for (int i = 0; i < 15; ++i) QTest::keyClick(noise, Qt::Key_Right);
    QCOMPARE(noise->value(), 328);  // 104 + 14 x 16, then the end
    noise->setValue(104);
    for (int i = 0; i < 6; ++i) QTest::keyClick(noise, Qt::Key_Left);
    QCOMPARE(noise->value(), 8);
    QTest::keyClick(noise, Qt::Key_Left);
    QCOMPARE(noise->value(), 1);
    auto* gap = Find<QSlider>("GapThresholdBar");
    for (int i = 0; i < 8; ++i) QTest::keyClick(gap, Qt::Key_Left);
    QCOMPARE(gap->value(), 4410);
    QTest::keyClick(gap, Qt::Key_PageUp);
    QCOMPARE(gap->value(), 8820);
  }

  void tabVisitsThePanesTheBarsAndMonoInOrder() {
    form_->show();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    const QStringList order{"SourceDrive",     "SourceDir", "SourceFiles",
                            "DestDrive",       "DestDir",   "SilenceThresholdBar",
                            "GapThresholdBar", "Mono",      "SourceDrive"};
    Find(qPrintable(order[0]))->setFocus();
    QStringList visited;
    for (int i = 0; i < order.size(); ++i) {
      visited.append(QApplication::focusWidget()->objectName());
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, order);
  }

  void aboutBoxAndErrorTexts() {
    QTest::mouseClick(Find("Logo"), Qt::LeftButton);
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(boxes_[0].caption, QString("About Corvella"));
    const QStringList lines = boxes_[0].text.split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[0].startsWith("Corvella v1.07 - ") && lines[2].isEmpty());
    QCOMPARE(corvella::app::ErrorText("Out of memory"), QString("Out of memory."));
    QCOMPARE(corvella::app::ErrorText("Access violation!"), QString("Access violation!"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
