// Count and Split from the window: button states, status texts, result
// boxes, Cancel clicked from inside the event pump, live readings of the
// bars, Mono and the list, and the files written.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "app/MainForm.h"
#include "app/MessageBox.h"
#include "browse/DirectoryListBox.h"
#include "browse/FileListBox.h"
#include "support/WavBuilder.h"

using corvella::app::BoxRequest;
using corvella::app::TMainForm;
namespace t = corvella::test;

namespace {

using Samples = std::vector<std::int16_t>;

// `count` loud passages of `length` frames, each followed by 30000 silent
// frames (more than the default gap of 22050).
Samples Passages(int channels, int count, int length, int level = 3000) {
  Samples s;
  for (int p = 0; p < count; ++p) {
    for (int f = 0; f < length; ++f) {
      for (int c = 0; c < channels; ++c) s.push_back(static_cast<std::int16_t>(level + (f % 50) + c * 7 + p));
    }
    s.insert(s.end(), static_cast<std::size_t>(30000 * channels), 0);
  }
  return s;
}

t::Bytes Slice(const Samples& all, int channels, int start, int end) {
  return t::SampleBytes(Samples(all.begin() + start * channels, all.begin() + end * channels));
}

// Runs `action` the next time pending events are let run.
void Queue(std::function<void()> action) { QTimer::singleShot(0, std::move(action)); }

}  // namespace

class CommandsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> temp_;
  QString source_;
  QString out_;
  std::unique_ptr<TMainForm> form_;
  QList<BoxRequest> boxes_;
  QStringList boxStatus_;  // the status line while each box was shown
  QStringList statuses_;
  QStringList buttonLog_;
  std::function<void(const BoxRequest&)> onBox_;
  Samples stereo3_, mono1_;

  corvella::browse::FileListBox* Files() { return form_->SourceFiles; }
  void Select(const QStringList& names) {
    for (int i = 0; i < Files()->count(); ++i) {
      Files()->item(i)->setSelected(names.contains(Files()->item(i)->text()));
    }
  }
  QStringList Selected() {
    QStringList names;
    for (int i = 0; i < Files()->count(); ++i) {
      if (Files()->item(i)->isSelected()) names.append(Files()->item(i)->text());
    }
    return names;
  }
  QStringList BoxTexts() {
    QStringList texts;
    for (const BoxRequest& box : boxes_) texts.append(box.caption + " " + box.text);
    return texts;
  }
  QStringList OutFiles() { return QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
  t::ParsedWav Out(const QString& name) {
    return t::ParseWav(t::ReadFile((out_ + "/" + name).toStdString()));
  }
  void Click(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  // Clicks Cancel from the event pump once the progress bar passes `percent`
  // while `status` is shown.
  void CancelAt(const QString& status, int percent, int clicks = 1) {
    auto armed = std::make_shared<bool>(true);
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this,
            [this, status, percent, clicks, armed](int value) {
              if (*armed && value >= percent && form_->StatusLine->text() == status) {
                *armed = false;
                for (int i = 0; i < clicks; ++i) Queue([this] { Click(form_->CancelButton); });
              }
            });
  }
  void ExpectResting() {
    QVERIFY(!form_->CancelButton->isChecked());
    QVERIFY(!form_->CancelButton->isEnabled());
    QVERIFY(form_->CountButton->isEnabled());
    QVERIFY(form_->SplitButton->isEnabled());
    QVERIFY(!form_->Running());
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) {
      auto* widget = static_cast<QWidget*>(watched);
      buttonLog_.append(widget->objectName() + (widget->isEnabled() ? " on" : " off"));
    }
    return false;
  }

 private slots:
  void init() {
    temp_ = std::make_unique<QTemporaryDir>();
    source_ = QDir(temp_->path()).canonicalPath() + "/in";
    out_ = QDir(temp_->path()).canonicalPath() + "/out";
    QDir().mkpath(source_);
    QDir().mkpath(out_);
    stereo3_ = Passages(2, 3, 40000);
    mono1_ = Passages(1, 1, 200000);
    t::WriteFile((source_ + "/a-three.wav").toStdString(), t::SimpleWav(2, stereo3_));
    t::WriteFile((source_ + "/b-none.wav").toStdString(), t::SimpleWav(1, Samples(150000, 20)));
    t::WriteFile((source_ + "/c-one.wav").toStdString(), t::SimpleWav(1, mono1_));
    t::WriteFile((source_ + "/d-bad.wav").toStdString(), t::Bytes(64, 0));
    QDir::setCurrent(source_);

    boxes_.clear();
    boxStatus_.clear();
    statuses_.clear();
    buttonLog_.clear();
    onBox_ = nullptr;
    corvella::app::SetMessageBoxHandler([this](const BoxRequest& box) {
      boxes_.append(box);
      boxStatus_.append(form_->StatusLine->text());
      if (onBox_) onBox_(box);
    });
    form_ = std::make_unique<TMainForm>();
    form_->DestDir->SetDirectory(out_);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    connect(form_->StatusLine, &QLineEdit::textChanged, this,
            [this](const QString& text) { statuses_.append(text); });
    for (QWidget* button : {static_cast<QWidget*>(form_->CountButton),
                            static_cast<QWidget*>(form_->SplitButton),
                            static_cast<QWidget*>(form_->CancelButton)}) {
      button->installEventFilter(this);
    }
    connect(form_->CancelButton, &QToolButton::toggled, this,
            [this](bool down) { buttonLog_.append(down ? "Cancel down" : "Cancel up"); });
  }

  void cleanup() {
    form_.reset();
    temp_.reset();
    corvella::app::SetMessageBoxHandler({});
  }

  void noEntrySelected() {
    form_->StatusLine->setText("untouched");
    Click(form_->CountButton);
    QCOMPARE(boxes_.size(), 0);
    QCOMPARE(form_->StatusLine->text(), QString("untouched"));
    QCOMPARE(buttonLog_, (QStringList{"CancelButton on", "CountButton off", "SplitButton off",
                                      "CancelButton off", "CountButton on", "SplitButton on"}));
    Click(form_->SplitButton);
    QCOMPARE(form_->StatusLine->text(), QString("Idle."));
    QCOMPARE(boxes_.size(), 0);
    QVERIFY(OutFiles().isEmpty());
    ExpectResting();
  }

  void countShowsOneResultPerFileInListOrder() {
    Select({"a-three.wav", "b-none.wav", "c-one.wav"});
    Click(form_->CountButton);
    QCOMPARE(BoxTexts(), (QStringList{"Result: File \"a-three.wav\" contains 3 parts!",
                                      "Result: No parts in file \"b-none.wav\" found!",
                                      "Result: File \"c-one.wav\" contains 1 parts!"}));
    QCOMPARE(boxStatus_, (QStringList{"Counting parts in a-three.wav...",
                                      "Counting parts in b-none.wav...",
                                      "Counting parts in c-one.wav..."}));
    QCOMPARE(statuses_, (QStringList{"Counting parts in a-three.wav...", "Idle.",
                                     "Counting parts in b-none.wav...", "Idle.",
                                     "Counting parts in c-one.wav...", "Idle."}));
    QCOMPARE(Selected(), (QStringList{"a-three.wav", "b-none.wav", "c-one.wav"}));
    QVERIFY(OutFiles().isEmpty());
    QCOMPARE(form_->ProgressBar->value(), 0);
    ExpectResting();
  }

  void refusedFileGivesItsErrorThenNoParts() {
    Select({"d-bad.wav"});
    Click(form_->CountButton);
    QCOMPARE(BoxTexts(), (QStringList{"Error Not a valid WAV file!",
                                      "Result: No parts in file \"d-bad.wav\" found!"}));
  }

  void splitWritesEveryPartAndClearsTheSelection() {
    Select({"a-three.wav", "c-one.wav", "d-bad.wav"});
    Click(form_->SplitButton);
    QCOMPARE(OutFiles(), (QStringList{"a-three_001.wav", "a-three_002.wav", "a-three_003.wav",
                                      "c-one_001.wav"}));
    for (int p = 0; p < 3; ++p) {
      const int start = p * 70000;
      QCOMPARE(Out(QString("a-three_00%1.wav").arg(p + 1)).data,
               Slice(stereo3_, 2, start, start + 40000));
    }
    QCOMPARE(Out("c-one_001.wav").data, Slice(mono1_, 1, 0, 200000));
    QCOMPARE(BoxTexts(), QStringList{"Error Not a valid WAV file!"});
    QCOMPARE(Selected(), QStringList{});
    QCOMPARE(statuses_, (QStringList{"Splitting a-three.wav...", "Splitting c-one.wav...",
                                     "Splitting d-bad.wav...", "Idle."}));
    ExpectResting();
  }

  void cancelDuringCountSuppressesTheBoxesButOpensTheRest() {
    Select({"a-three.wav", "c-one.wav", "d-bad.wav"});
    CancelAt("Counting parts in a-three.wav...", 10);
    Click(form_->CountButton);
    QCOMPARE(BoxTexts(), QStringList{"Error Not a valid WAV file!"});
    QCOMPARE(statuses_, (QStringList{"Counting parts in a-three.wav...", "Idle.",
                                     "Counting parts in c-one.wav...", "Idle.",
                                     "Counting parts in d-bad.wav...", "Idle."}));
    QCOMPARE(buttonLog_.mid(buttonLog_.size() - 5),
             (QStringList{"Cancel down", "Cancel up", "CancelButton off", "CountButton on",
                          "SplitButton on"}));
    ExpectResting();
  }

  void cancelDuringSplitStopsTheFileAndASecondSplitGoesOn() {
    Select({"a-three.wav", "c-one.wav"});
    CancelAt("Splitting a-three.wav...", 40);
    Click(form_->SplitButton);
    // Part 1 ends at 40% of the file; the cut came in the search for part 2.
    QCOMPARE(OutFiles(), QStringList{"a-three_001.wav"});
    QCOMPARE(Selected(), QStringList{"c-one.wav"});
    ExpectResting();

    Click(form_->SplitButton);
    QCOMPARE(OutFiles(), (QStringList{"a-three_001.wav", "c-one_001.wav"}));
    QCOMPARE(Out("c-one_001.wav").data, Slice(mono1_, 1, 0, 200000));
    QCOMPARE(Selected(), QStringList{});
  }

  void twoCancelClicksLeaveTheToggleUp() {
    Select({"a-three.wav", "c-one.wav"});
    CancelAt("Counting parts in a-three.wav...", 0, 2);
    Click(form_->CountButton);
    QCOMPARE(BoxTexts(), (QStringList{"Result: File \"a-three.wav\" contains 3 parts!",
                                      "Result: File \"c-one.wav\" contains 1 parts!"}));
    ExpectResting();
  }

  void barMovedDuringARunCountsFromTheNextFile() {
    t::WriteFile((source_ + "/e-same.wav").toStdString(), t::SimpleWav(2, stereo3_));
    form_->SourceDir->SetDirectory(out_);
    form_->SourceDir->SetDirectory(source_);  // re-read the list
    Select({"a-three.wav", "e-same.wav"});
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this, [this](int value) {
      if (value > 50 && form_->StatusLine->text().contains("a-three")) {
        Queue([this] { form_->SilenceThresholdBar->setValue(328); });  // above every sample
      }
    });
    Click(form_->CountButton);
    QCOMPARE(form_->SilenceThresholdLabel->text(), QString("-40.0 dB"));
    QCOMPARE(BoxTexts(), (QStringList{"Result: File \"a-three.wav\" contains 3 parts!",
                                      "Result: File \"e-same.wav\" contains 3 parts!"}));
    // 328 is below the passages' level: move it further with the gap bar instead.
    form_->SilenceThresholdBar->setValue(104);
    boxes_.clear();
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this, [this](int value) {
      if (value > 50 && form_->StatusLine->text().contains("a-three")) {
        Queue([this] { form_->GapThresholdBar->setValue(44100); });  // 30000 frames no longer end a part
      }
    });
    Click(form_->CountButton);
    QCOMPARE(BoxTexts(), (QStringList{"Result: File \"a-three.wav\" contains 3 parts!",
                                      "Result: File \"e-same.wav\" contains 1 parts!"}));
    QCOMPARE(form_->engine().GapThreshold, 44100);
  }

  void monoTickedBetweenPartsChangesTheLaterParts() {
    Select({"a-three.wav"});
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this, [this] {
      if (QFile::exists(out_ + "/a-three_001.wav") && !form_->Mono->isChecked()) {
        Queue([this] { form_->Mono->setChecked(true); });
      }
    });
    Click(form_->SplitButton);
    QCOMPARE(Out("a-three_001.wav").channels, 2);
    QCOMPARE(Out("a-three_002.wav").channels, 1);
    Samples mixed;
    for (int f = 70000; f < 110000; ++f) {
      mixed.push_back(static_cast<std::int16_t>((stereo3_[2 * f] + stereo3_[2 * f + 1]) / 2));
    }
    QCOMPARE(Out("a-three_002.wav").data, t::SampleBytes(mixed));
  }

  void partsWrittenIntoTheSourceFolderDoNotJoinTheList() {
    form_->DestDir->SetDirectory(source_);
    Select({"a-three.wav", "c-one.wav"});
    const QStringList before{"a-three.wav", "b-none.wav", "c-one.wav", "d-bad.wav"};
    Click(form_->SplitButton);
    QStringList listed;
    for (int i = 0; i < Files()->count(); ++i) listed.append(Files()->item(i)->text());
    QCOMPARE(listed, before);
    QVERIFY(QFile::exists(source_ + "/a-three_003.wav"));
    QVERIFY(!QFile::exists(source_ + "/a-three_001_001.wav"));
  }

  void anotherSourceFolderChosenMidRunIsNotWalked() {
    // The other folder holds a file named like a later entry of this one.
    const QString other = QDir(temp_->path()).canonicalPath() + "/other";
    QDir().mkpath(other);
    t::WriteFile((other + "/c-one.wav").toStdString(), t::SimpleWav(1, mono1_));
    Select({"a-three.wav", "c-one.wav"});
    CancelAt("Splitting a-three.wav...", 10, 0);
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this, [this, other](int value) {
      if (value > 10 && form_->SourceFiles->Directory() != other) {
        Queue([this, other] { form_->SourceDir->SetDirectory(other); });
      }
    });
    Click(form_->SplitButton);
    QCOMPARE(form_->SourceFiles->Directory(), other);
    QCOMPARE(OutFiles(), (QStringList{"a-three_001.wav", "a-three_002.wav", "a-three_003.wav"}));
    QCOMPARE(Selected(), QStringList{});
    ExpectResting();
  }

  void aboutBoxAndCloseRequestDuringARun() {
    Select({"c-one.wav"});
    bool aboutShownWhileRunning = false;
    onBox_ = [&](const BoxRequest& box) {
      if (box.caption == "About Corvella") aboutShownWhileRunning = form_->Running();
    };
    CancelAt("Counting parts in c-one.wav...", 0, 0);
    Queue([this] { QTest::mouseClick(form_->Logo, Qt::LeftButton); });
    Queue([this] { form_->close(); });
    Click(form_->CountButton);
    QVERIFY(aboutShownWhileRunning);
    // The command ran to its end before the window went.
    QCOMPARE(BoxTexts().last(), QString("Result: File \"c-one.wav\" contains 1 parts!"));
    QTRY_VERIFY(!form_->isVisible());
  }

  void errorEscapingAWalkRestoresTheButtons() {
    Select({"c-one.wav"});
    onBox_ = [](const BoxRequest& box) {
      if (box.caption == "Result:") throw std::runtime_error("box failed");
    };
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, form_->CountButtonClick());
    ExpectResting();
    QCOMPARE(form_->StatusLine->text(), QString("Idle."));
  }
};

QTEST_MAIN(CommandsTest)
#include "commands_test.moc"
