// The save road, through the real save panel: offline render of the temporary file into
// the chosen WAV file.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FixtureVoiceSynthesizer.h"
#include "ProgressDialogDriver.h"
#include "SavePanelDriver.h"
#include "SmallDisk.h"
#include "ToneSynthesizer.h"
#include "WarningDriver.h"

namespace lorvanta {
namespace {

using roadtest::ConsoleCapture;
using roadtest::readSound;
using roadtest::spinFor;
using roadtest::spinUntil;
using roadtest::ToneState;

class SaveRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    roadtest::quietRatingPrompt();
    load(roadtest::toneServices(tone_));
  }

  void load(StudioServices services) {
    controller_ = std::make_unique<ViewController>(std::nullopt, nullptr, std::move(services));
    window_.bind(*controller_);
    controller_->awakeFromNib();
    controller_->viewDidLoad();
    window_.text->setPlainText("Text to save.");
  }

  // Presses Save, answers the panel with `path` (empty: cancel) and waits for the save to end.
  // Returns what the request wrote to the console after the click.
  // `afterClick` runs once the click has been handled, before the event loop runs.
  std::string save(const QString& path, const std::function<void()>& afterClick = {}) {
    const int reportsBefore = static_cast<int>(tone_->reports.size());
    controller_->performAction("test_save", nullptr);
    if (afterClick) afterClick();
    panel_ = roadtest::answerSavePanels(path);
    warnings_ = roadtest::answerWarnings();
    progress_ = roadtest::watchProgressDialogs(cancelRender_);
    ConsoleCapture errors(STDERR_FILENO);
    ConsoleCapture console;
    const bool ended = spinUntil(
        [&] {
          const bool reported = usesTone_ ? static_cast<int>(tone_->reports.size()) > reportsBefore
                                          : controller_->jd_nsprogressindicator.isHidden();
          return reported && panel_->panels == 1 && !QApplication::activeModalWidget();
        },
        60.0);
    spinFor(0.05);
    console.restore();
    errors.restore();
    errors_ = errors.text();
    EXPECT_TRUE(ended);
    return console.text();
  }

  // The one warning the last save showed, also written to stderr; empty when none.
  QString warning() const { return roadtest::toldWarning(*warnings_, errors_, &window_.root); }

  // Every entry of a folder, hidden ones too.
  static QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
  }

  // Writes an old sound file of 30,000 frames at `path` and returns its bytes; empty on failure.
  static QByteArray writeOldSound(const QString& path) {
    ToneState old;
    old.frames = 30000;
    if (!roadtest::writeTone(path.toStdString(), old)) return {};
    return fileBytes(path);
  }

  static QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  std::string line(const QString& path) const {
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString() + "\n";
  }

  void expectEngineBackInRealTime() const {
    EXPECT_FALSE(controller_->audioEngine->isRunning());
    EXPECT_FALSE(controller_->audioEngine->isInManualRenderingMode());
    EXPECT_FALSE(controller_->playerNode->isPlaying());
  }

  std::string temporaryPath() const { return controller_->aiff_tem_URL->toLocalFile().toStdString(); }

  QTemporaryDir folder_;
  std::shared_ptr<ToneState> tone_ = std::make_shared<ToneState>();
  bool usesTone_ = true;
  voicetest::FixtureWindow window_;
  std::unique_ptr<ViewController> controller_;
  std::shared_ptr<roadtest::PanelSeen> panel_;
  std::shared_ptr<QList<roadtest::WarningSeen>> warnings_;
  std::shared_ptr<roadtest::ProgressSeen> progress_;
  bool cancelRender_ = false;
  std::string errors_;
};

TEST_F(SaveRoadTest, CancelChangesNothingAndPrintsNothing) {
  EXPECT_EQ(save(QString()), "");
  EXPECT_EQ(panel_->panels, 1);
  EXPECT_TRUE(QDir(folder_.path()).isEmpty());
  expectEngineBackInRealTime();
  // The panel offers WAV only, may create folders.
  EXPECT_EQ(panel_->nameFilters.size(), 1);
  EXPECT_TRUE(panel_->nameFilters.value(0).contains("*.wav"));
  EXPECT_EQ(panel_->defaultSuffix, "wav");
  EXPECT_TRUE(panel_->acceptSave);
  EXPECT_FALSE(panel_->readOnly);
}

TEST_F(SaveRoadTest, SavedFileHoldsEveryFrameOfTheTemporaryFileUnchangedAtPitchZero) {
  // Passes of 8096 frames, the last one the remainder.
  const struct {
    int64_t frames;
    std::vector<uint32_t> passes;
  } cases[] = {
      {0, {}},
      {8096, {8096}},
      {8097, {8096, 1}},
      {20000, {8096, 8096, 3808}},
  };
  std::vector<uint32_t> passes;
  controller_->audioEngine->setRenderPassObserver([&](uint32_t frames) { passes.push_back(frames); });
  for (const auto& [frames, expectedPasses] : cases) {
    SCOPED_TRACE(frames);
    tone_->frames = frames;
    passes.clear();
    const QString path = folder_.filePath(QString("tone-%1.wav").arg(frames));
    EXPECT_EQ(save(path), line(path) + line(path));
    EXPECT_EQ(passes, expectedPasses);

    const roadtest::SoundData source = readSound(temporaryPath());
    const roadtest::SoundData saved = readSound(path.toStdString());
    ASSERT_TRUE(source.opened && saved.opened);
    EXPECT_EQ(saved.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_EQ(saved.info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    EXPECT_EQ(saved.info.samplerate, source.info.samplerate);
    EXPECT_EQ(saved.info.channels, 1);
    EXPECT_EQ(saved.info.frames, frames);
    EXPECT_TRUE(saved.samples == source.samples);
    EXPECT_EQ(warning(), QString());
    // Done in a moment: no progress dialog.
    EXPECT_FALSE(progress_->shown);
    expectEngineBackInRealTime();
  }
  // Nothing but the saved files, no file of the way there.
  EXPECT_EQ(entries(folder_.path()),
            (QStringList{"tone-0.wav", "tone-20000.wav", "tone-8096.wav", "tone-8097.wav"}));
}

TEST_F(SaveRoadTest, AnOctaveUpKeepsTheLengthAndDoublesTheFrequency) {
  tone_->frames = 44100;
  controller_->pitch = 1200.0f;
  const QString path = folder_.filePath("up.wav");
  save(path);
  const roadtest::SoundData saved = readSound(path.toStdString());
  ASSERT_TRUE(saved.opened);
  EXPECT_EQ(saved.info.frames, 44100);
  // Away from the edges, where the unit settles.
  const double frequency = roadtest::zeroCrossingFrequency(saved.samples, 8000, 36000, saved.info.samplerate);
  EXPECT_NEAR(frequency, 2 * tone_->frequency, 5.0);
  EXPECT_GT(roadtest::rms(saved.samples, 8000, 36000), 0.2);
  expectEngineBackInRealTime();
}

TEST_F(SaveRoadTest, EspeakSpeechIsSavedShiftedWithTheSameLength) {
  StudioServices services;
  services.makeOutputDevice = [] { return std::make_unique<roadtest::FastOutputDevice>(); };
  load(std::move(services));
  usesTone_ = false;
  window_.text->setPlainText("The quick brown fox jumps over the lazy dog.");
  controller_->pitch = 1200.0f;
  const QString path = folder_.filePath("speech.wav");
  EXPECT_EQ(save(path), line(path) + line(path));

  const roadtest::SoundData source = readSound(temporaryPath());
  const roadtest::SoundData saved = readSound(path.toStdString());
  ASSERT_TRUE(source.opened && saved.opened);
  ASSERT_GT(source.info.frames, 10000);
  EXPECT_EQ(saved.info.frames, source.info.frames);
  const size_t n = source.samples.size();
  EXPECT_GT(roadtest::rms(saved.samples, 0, n), 0.25 * roadtest::rms(source.samples, 0, n));
  EXPECT_FALSE(saved.samples == source.samples);
}

TEST_F(SaveRoadTest, AnExistingDestinationIsReplaced) {
  const QString path = folder_.filePath("old.wav");
  {
    ToneState longer;
    longer.frames = 100000;
    ASSERT_TRUE(roadtest::writeTone(path.toStdString(), longer));
  }
  save(path);
  EXPECT_EQ(panel_->replaceQuestions, 1);
  EXPECT_EQ(warning(), QString());
  const roadtest::SoundData saved = readSound(path.toStdString());
  ASSERT_TRUE(saved.opened);
  EXPECT_EQ(saved.info.frames, tone_->frames);
  EXPECT_EQ(saved.info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
  EXPECT_EQ(entries(folder_.path()), QStringList{"old.wav"});
}

TEST_F(SaveRoadTest, ASaveKeepsLinksAndTheModeOfTheFileItReplaces) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const QString target = folder_.filePath("target.wav");
  const struct {
    QString typed;    // into the panel
    QString written;  // the file that must hold the new speech
    bool existing;    // a file was there before
    mode_t mode;      // of the file before, and what the saved one must have
  } cases[] = {
      {folder_.filePath("new.wav"), folder_.filePath("new.wav"), false, 0666 & ~mask},
      {folder_.filePath("private.wav"), folder_.filePath("private.wav"), true, 0640},
      {folder_.filePath("link.wav"), target, true, 0604},
  };
  ASSERT_EQ(::symlink("target.wav", folder_.filePath("link.wav").toLocal8Bit().constData()), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    const QByteArray written = c.written.toLocal8Bit();
    if (c.existing) {
      ToneState old;
      old.frames = 100;
      ASSERT_TRUE(roadtest::writeTone(c.written.toStdString(), old));
      ASSERT_EQ(::chmod(written.constData(), c.mode), 0);
      // Root may give it away: the saved file stays with its owner and group.
      if (::geteuid() == 0) {
        ASSERT_EQ(::chown(written.constData(), 4321, 4321), 0);
      }
    }
    EXPECT_EQ(save(c.typed), line(c.typed) + line(c.typed));
    EXPECT_EQ(warning(), QString());
    EXPECT_EQ(readSound(c.written.toStdString()).info.frames, tone_->frames);
    struct stat status {};
    ASSERT_EQ(::stat(written.constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.mode);
    if (c.existing && ::geteuid() == 0) {
      EXPECT_EQ(status.st_uid, 4321u);
      EXPECT_EQ(status.st_gid, 4321u);
    }
  }
  EXPECT_EQ(QFileInfo(folder_.filePath("link.wav")).symLinkTarget(), target);
  EXPECT_EQ(entries(folder_.path()), (QStringList{"link.wav", "new.wav", "private.wav", "target.wav"}));
}

TEST_F(SaveRoadTest, APlaceThatCannotTakeTheFileLeavesNothingAndIsTold) {
  // Root may write into any folder of its own; /proc takes no new files from anybody.
  QString locked = QStringLiteral("/proc");
  if (::geteuid() != 0) {
    locked = folder_.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  }
  ASSERT_TRUE(QDir().mkpath(folder_.filePath("taken.mp3.wav")));
  const struct {
    QString typed;        // into the panel
    QString destination;  // what the panel made of it
    QString reason;       // empty: whatever the system says
  } cases[] = {
      {locked + "/lost.wav", locked + "/lost.wav", QString()},
      {folder_.filePath("missing/lost.wav"), folder_.filePath("missing/lost.wav"),
       "No such file or directory"},
      // The panel adds the extension and so names the folder (after asking to replace it).
      {folder_.filePath("taken.mp3"), folder_.filePath("taken.mp3.wav"), "Is a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    EXPECT_EQ(save(c.typed), line(c.destination) + line(c.destination));
    const QString name = QFileInfo(c.destination).fileName();
    const QString text = warning();
    EXPECT_TRUE(text.startsWith("The speech could not be saved to '" + name + "': ")) << text.toStdString();
    if (!c.reason.isEmpty()) {
      EXPECT_EQ(text, "The speech could not be saved to '" + name + "': " + c.reason + ".");
    }
    expectEngineBackInRealTime();
  }
  EXPECT_FALSE(QFileInfo::exists(locked + "/lost.wav"));
  EXPECT_TRUE(QFileInfo(folder_.filePath("taken.mp3.wav")).isDir());
  // No partial file anywhere.
  const QStringList left =
      ::geteuid() == 0 ? QStringList{"taken.mp3.wav"} : QStringList{"locked", "taken.mp3.wav"};
  EXPECT_EQ(entries(folder_.path()), left);
  EXPECT_TRUE(entries(folder_.filePath("taken.mp3.wav")).isEmpty());

  const QString good = folder_.filePath("after.wav");
  save(good);
  EXPECT_EQ(warning(), QString());
  EXPECT_EQ(readSound(good.toStdString()).info.frames, tone_->frames);
}

// Limits the size of the files this process writes while it lives: a write past the limit
// fails with EFBIG (the signal it would also raise is ignored meanwhile). Needs no root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = std::min(bytes, saved_.rlim_max);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = SIG_DFL;
};

// A write that fails part way through the speech: the old file stays as it was, no
// partial file stays beside it, and the failure is told.
TEST_F(SaveRoadTest, AFailedWriteLeavesTheOldFileByteForByteAndIsTold) {
  const struct {
    const char* fault;
    bool fullDisk;  // otherwise a file-size limit
    QString reason;
  } cases[] = {
      {"file-size limit", false, "File too large"},
      {"full disk", true, "No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    std::optional<testing_disk::SmallDisk> disk;
    QString folder = folder_.filePath(c.fault);
    if (c.fullDisk) {
      disk.emplace();
      if (!disk->mounted()) {
        std::printf("skipped the full disk: no tmpfs can be mounted here\n");
        continue;
      }
      folder = QString::fromStdString(disk->path());
    }
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/old.wav";
    const QByteArray before = writeOldSound(path);
    ASSERT_FALSE(before.isEmpty());

    // Ten seconds of 16-bit sound need 441,000 bytes; about 200,000 may be written.
    tone_->frames = 220500;
    std::optional<FileSizeLimit> limit;
    // Set once the temporary file is written: only the save runs into it.
    const auto afterClick = [&] {
      if (!c.fullDisk) limit.emplace(200000);
    };
    EXPECT_EQ(save(path, afterClick), line(path) + line(path));
    limit.reset();
    EXPECT_EQ(warning(), "The speech could not be saved to 'old.wav': " + c.reason + ".");
    EXPECT_TRUE(fileBytes(path) == before);
    EXPECT_EQ(entries(folder), QStringList{"old.wav"});
    expectEngineBackInRealTime();

    // What fits replaces it.
    tone_->frames = 20000;
    save(path);
    EXPECT_EQ(warning(), QString());
    EXPECT_EQ(readSound(path.toStdString()).info.frames, 20000);
    EXPECT_EQ(entries(folder), QStringList{"old.wav"});
  }
}

TEST_F(SaveRoadTest, AFileTheEngineCannotRenderLeavesAnExistingDestinationAlone) {
  const QString path = folder_.filePath("kept.wav");
  {
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
    kept.write("kept");
  }
  tone_->channels = 9;  // more than the engine renders
  EXPECT_EQ(save(path), line(path)) << "only the panel's line: the save ends before the second";
  EXPECT_TRUE(warning().startsWith("The speech could not be saved to 'kept.wav': "));
  QFile kept(path);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), "kept");
  expectEngineBackInRealTime();

  tone_->channels = 1;
  const QString good = folder_.filePath("after.wav");
  save(good);
  EXPECT_EQ(readSound(good.toStdString()).info.frames, tone_->frames);
}

TEST_F(SaveRoadTest, ALongRenderShowsItsProgressAndCancelLeavesTheDestinationByteForByte) {
  const QString path = folder_.filePath("kept.wav");
  const QByteArray before = writeOldSound(path);
  ASSERT_FALSE(before.isEmpty());

  // An hour of sound an octave up: seconds of rendering, far more than half a second.
  tone_->frames = 80'000'000;
  controller_->pitch = 1200.0f;
  cancelRender_ = true;
  EXPECT_EQ(save(path), line(path) + line(path));

  EXPECT_TRUE(progress_->shown);
  EXPECT_TRUE(progress_->cancelled);
  EXPECT_EQ(progress_->title, "kept.wav");
  EXPECT_TRUE(progress_->label.contains("kept.wav")) << progress_->label.toStdString();
  // It blocks the window, and nothing else takes input.
  EXPECT_TRUE(progress_->windowModal);
  EXPECT_TRUE(progress_->activeModal);
  EXPECT_EQ(progress_->window, &window_.root);
  EXPECT_GT(progress_->value, 0);
  EXPECT_LT(progress_->value, progress_->maximum);

  // A cancelled save is no failure to tell; the old file stays as it was.
  EXPECT_EQ(warning(), QString());
  EXPECT_TRUE(fileBytes(path) == before);
  EXPECT_EQ(entries(folder_.path()), QStringList{"kept.wav"});
  EXPECT_FALSE(QApplication::overrideCursor());
  expectEngineBackInRealTime();
}

TEST_F(SaveRoadTest, ASaveDuringPlaybackStopsItAndPlaysNothing) {
  window_.text->setPlainText("long");
  tone_->frames = 22050 * 60;
  controller_->performAction("playTTS", nullptr);
  ASSERT_TRUE(spinUntil([&] { return controller_->playerNode->isPlaying(); }));

  tone_->frames = 20000;
  const QString path = folder_.filePath("during.wav");
  const std::string out = save(path);
  EXPECT_EQ(out, line(path) + line(path));
  EXPECT_EQ(readSound(path.toStdString()).info.frames, 20000);
  expectEngineBackInRealTime();
}

}  // namespace
}  // namespace lorvanta
