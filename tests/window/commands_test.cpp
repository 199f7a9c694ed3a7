// Count and Split from the window: button states, status texts, result
// boxes, Cancel clicked from inside the event pump, live readings of the
// bars, Mono and the list, and the files written.
#include <sys/stat.h>
#include <unistd.h>
#include <QCheckBox>
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
#include "browse/Folder.h"
#include "support/WavBuilder.h"

using corvella::app::BoxRequest;
namespace t = corvella::test;

// `count` loud passages of 40000 frames, each followed by 30000 silent ones.
static t::Samples Passages(int channels, int count) {
  t::Samples s;
  for (int p = 0; p < count; ++p) {
    for (int f = 0; f < 40000 * channels; ++f)
      s.push_back(static_cast<std::int16_t>(3000 + f % 50 + p));
    s.insert(s.end(), static_cast<std::size_t>(30000 * channels), 0);
  }
  return s;
}

class CommandsTest : public QObject {
  Q_OBJECT
  std::unique_ptr<QTemporaryDir> temp_;
  QString source_, out_;
  std::unique_ptr<corvella::app::TMainForm> form_;
  QStringList boxes_, statuses_, buttons_;
  std::function<void(const BoxRequest&)> onBox_;
  const t::Samples stereo3_ = Passages(2, 3);

  void Select(const QStringList& names) {
    for (int i = 0; i < form_->SourceFiles->count(); ++i) {
      form_->SourceFiles->item(i)->setSelected(names.contains(form_->SourceFiles->item(i)->text()));
    }
  }
  QStringList Selected() {
    QStringList names;
    for (auto* item : form_->SourceFiles->selectedItems()) names.append(item->text());
    std::sort(names.begin(), names.end());
    return names;
  }
  QStringList Written() { return QDir(out_).entryList(QDir::Files, QDir::Name); }
  std::string Out(const QString& name) { return (out_ + "/" + name).toStdString(); }
  // Runs `action` from the event pump once the progress bar passes `percent`
  // while `status` is shown, once.
  void WhenProgress(const QString& status, int percent, std::function<void()> action) {
    auto armed = std::make_shared<bool>(true);
    connect(form_->ProgressBar, &QProgressBar::valueChanged, this, [=, this](int value) {
      if (*armed && value >= percent && form_->StatusLine->text() == status) {
        *armed = false;
        QTimer::singleShot(0, action);
      }
    });
  }
  void ClickCancel() { QTest::mouseClick(form_->CancelButton, Qt::LeftButton); }
  void ExpectResting() {
    QVERIFY(!form_->CancelButton->isChecked() && !form_->CancelButton->isEnabled() &&
            form_->CountButton->isEnabled() && form_->SplitButton->isEnabled());
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) {
      buttons_.append(watched->objectName() +
                      (static_cast<QWidget*>(watched)->isEnabled() ? " on" : " off"));
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
    for (const auto& [name, file] : {std::pair{"a-three", t::SimpleWav(2, stereo3_)},
                                     {"b-none", t::SimpleWav(1, t::Samples(150000, 20))},
                                     {"c-one", t::SimpleWav(1, Passages(1, 1))},
                                     {"d-bad", t::Bytes(64, 0)}}) {
      t::WriteFile((source_ + "/" + name + ".wav").toStdString(), file);
    }
    QDir::setCurrent(source_);
    boxes_.clear();
    onBox_ = nullptr;
    corvella::app::SetMessageBoxHandler([this](const BoxRequest& box) {
      boxes_.append(box.caption + " " + box.text + " @ " + form_->StatusLine->text());
      if (onBox_) onBox_(box);
    });
    form_ = std::make_unique<corvella::app::TMainForm>();
    form_->DestDir->SetDirectory(out_);
    form_->show();
    statuses_.clear();
    buttons_.clear();
    connect(form_->StatusLine, &QLineEdit::textChanged, this,
            [this](const QString& s) { statuses_.append(s); });
    for (QWidget* b : {form_->CountButton, form_->SplitButton, form_->CancelButton})
      b->installEventFilter(this);
    connect(form_->CancelButton, &QToolButton::toggled, this,
            [this](bool down) { buttons_.append(down ? "down" : "up"); });
  }
  void cleanup() {
    form_.reset();
    temp_.reset();
  }

  void noEntrySelectedOnlySwitchesTheButtons() {
    form_->StatusLine->setText("untouched");
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QCOMPARE(form_->StatusLine->text(), QString("untouched"));
    QCOMPARE(buttons_, (QStringList{"CancelButton on", "CountButton off", "SplitButton off",
                                    "CancelButton off", "CountButton on", "SplitButton on"}));
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(form_->StatusLine->text(), QString("Idle."));
    QVERIFY(boxes_.isEmpty() && Written().isEmpty());
  }

  void countShowsOneResultPerFileInListOrder() {
    Select({"a-three.wav", "b-none.wav", "c-one.wav", "d-bad.wav"});
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QCOMPARE(
        boxes_,
        (QStringList{
            "Result: File \"a-three.wav\" contains 3 parts! @ Counting parts in a-three.wav...",
            "Result: No parts in file \"b-none.wav\" found! @ Counting parts in b-none.wav...",
            "Result: File \"c-one.wav\" contains 1 parts! @ Counting parts in c-one.wav...",
            "Error Not a valid WAV file! @ Counting parts in d-bad.wav...",
            "Result: No parts in file \"d-bad.wav\" found! @ Counting parts in d-bad.wav..."}));
    QCOMPARE(statuses_.mid(0, 4), (QStringList{"Counting parts in a-three.wav...", "Idle.",
                                               "Counting parts in b-none.wav...", "Idle."}));
    QCOMPARE(Selected().size(), 4);
    QVERIFY(Written().isEmpty());
  }

  void splitWritesEveryPartAndClearsTheSelection() {
    form_->DestDir->SetDirectory(source_);  // parts written here do not join the list
    Select({"a-three.wav", "c-one.wav"});
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(form_->SourceFiles->count(), 4);
    for (int p = 0; p < 3; ++p) {
      QCOMPARE(t::PartData((source_ + QString("/a-three_00%1.wav").arg(p + 1)).toStdString()),
               t::SampleBytes(t::Samples(stereo3_.begin() + 140000 * p,
                                         stereo3_.begin() + 140000 * p + 80000)));
    }
    QVERIFY(Selected().isEmpty());
    QCOMPARE(statuses_,
             (QStringList{"Splitting a-three.wav...", "Splitting c-one.wav...", "Idle."}));
    ExpectResting();
  }

  void cancelDuringCountSuppressesTheBoxesButOpensTheRest() {
    Select({"a-three.wav", "c-one.wav", "d-bad.wav"});
    WhenProgress("Counting parts in a-three.wav...", 10, [this] { ClickCancel(); });
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QCOMPARE(boxes_, QStringList{"Error Not a valid WAV file! @ Counting parts in d-bad.wav..."});
    QCOMPARE(buttons_.mid(buttons_.size() - 5),
             (QStringList{"down", "up", "CancelButton off", "CountButton on", "SplitButton on"}));
    // Two clicks before the scan tests the toggle: nothing stops.
    boxes_.clear();
    WhenProgress("Counting parts in a-three.wav...", 0, [this] { ClickCancel(), ClickCancel(); });
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 4);
    QVERIFY(boxes_[0].startsWith("Result: File \"a-three.wav\" contains 3 parts!"));
    ExpectResting();
  }

  void cancelDuringSplitStopsTheFileAndASecondSplitGoesOn() {
    Select({"a-three.wav", "c-one.wav"});
    WhenProgress("Splitting a-three.wav...", 40, [this] { ClickCancel(); });
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(Written(), QStringList{"a-three_001.wav"});
    QCOMPARE(Selected(), QStringList{"c-one.wav"});
    ExpectResting();
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(Written(), (QStringList{"a-three_001.wav", "c-one_001.wav"}));
  }

  void barsAndMonoAreReadLiveForTheNextFileOrPart() {
    t::WriteFile((source_ + "/e-same.wav").toStdString(), t::SimpleWav(2, stereo3_));
    form_->SourceDir->SetDirectory(out_);
    form_->SourceDir->SetDirectory(source_);  // read the list again
    Select({"a-three.wav", "e-same.wav"});
    WhenProgress("Counting parts in a-three.wav...", 50,
                 [this] { form_->GapThresholdBar->setValue(44100); });
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QVERIFY(boxes_[0].startsWith("Result: File \"a-three.wav\" contains 3 parts!"));
    QVERIFY(boxes_[1].startsWith("Result: File \"e-same.wav\" contains 1 parts!"));

    form_->GapThresholdBar->setValue(22050);
    Select({"a-three.wav"});
    WhenProgress("Splitting a-three.wav...", 31, [this] { form_->Mono->setChecked(true); });
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(t::PartChannels(Out("a-three_001.wav")), 2);
    QCOMPARE(t::PartChannels(Out("a-three_003.wav")), 1);
  }

  void aSelectedSourceIsNeverReplacedByAPart() {
    const t::Bytes five = t::SimpleWav(1, Passages(1, 5));
    t::WriteFile((source_ + "/a-three_001.wav").toStdString(), five);
    form_->SourceDir->SetDirectory(out_);
    form_->SourceDir->SetDirectory(source_);  // read the list again
    form_->DestDir->SetDirectory(source_);
    Select({"a-three.wav", "a-three_001.wav"});
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(boxes_, QStringList{"Error Unable to create output file! @ Splitting a-three.wav..."});
    QCOMPARE(t::ReadFile((source_ + "/a-three_001.wav").toStdString()), five);
    QVERIFY(QFile::exists(source_ + "/a-three_002.wav") &&
            QFile::exists(source_ + "/a-three_001_005.wav"));
  }

  void namesThatAreNotUtf8AreListedAndOpenedByTheirBytes() {
    const QByteArray source = QFile::encodeName(source_);
    QVERIFY(::mkdir(source + "/dir\xE9", 0700) == 0);
    t::WriteFile((source + "/caf\xE9.wav").toStdString(), t::SimpleWav(1, Passages(1, 2)));
    form_->SourceDir->SetDirectory(out_);
    form_->SourceDir->SetDirectory(source_);                         // read the list again
    const QString shown = QString::fromUtf8("caf\xEF\xBF\xBD.wav");  // with U+FFFD
    QVERIFY(!form_->SourceFiles->findItems(shown, Qt::MatchExactly).isEmpty());
    Select({shown});
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QCOMPARE(boxes_, QStringList{"Result: File \"" + shown +
                                 "\" contains 2 parts! @ Counting parts in " + shown + "..."});
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    const QByteArray out = QFile::encodeName(out_);
    QVERIFY(::access(out + "/caf\xE9_001.wav", F_OK) == 0 &&
            ::access(out + "/caf\xE9_002.wav", F_OK) == 0);
    // The folder is listed too, and entered by its bytes.
    auto folders =
        form_->SourceDir->findItems(QString::fromUtf8("dir\xEF\xBF\xBD"), Qt::MatchEndsWith);
    QCOMPARE(folders.size(), 1);
    emit form_->SourceDir->itemDoubleClicked(folders[0]);
    QCOMPARE(form_->SourceDir->Path(), source + "/dir\xE9");
    QCOMPARE(corvella::browse::CurrentFolder(), source + "/dir\xE9");
  }

  void anotherSourceFolderChosenMidRunIsNotWalked() {
    const QString other = QDir(temp_->path()).canonicalPath() + "/other";
    QDir().mkpath(other);
    t::WriteFile((other + "/c-one.wav").toStdString(), t::SimpleWav(1, Passages(1, 1)));
    Select({"a-three.wav", "c-one.wav"});
    WhenProgress("Splitting a-three.wav...", 10,
                 [=, this] { form_->SourceDir->SetDirectory(other); });
    QTest::mouseClick(form_->SplitButton, Qt::LeftButton);
    QCOMPARE(Written(), (QStringList{"a-three_001.wav", "a-three_002.wav", "a-three_003.wav"}));
    ExpectResting();
  }

  void aboutBoxAndCloseDuringARunAndAnErrorEscaping() {
    Select({"c-one.wav"});
    bool aboutWhileRunning = false;
    onBox_ = [&](const BoxRequest& box) {
      aboutWhileRunning |= box.caption == "About Corvella" && form_->Running();
    };
    WhenProgress("Counting parts in c-one.wav...", 0, [this] {
      QTest::mouseClick(form_->Logo, Qt::LeftButton);
      form_->close();
    });
    QTest::mouseClick(form_->CountButton, Qt::LeftButton);
    QVERIFY(aboutWhileRunning);
    QVERIFY(boxes_.last().startsWith(
        "Result: File \"c-one.wav\" contains 1 parts!"));  // ran to its end
    QTRY_VERIFY(!form_->isVisible());

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
