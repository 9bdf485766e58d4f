#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "platform/SavePanel.h"

namespace lorvanta {
namespace {

// Runs `drive` on the save panel once it is up, from inside its modal loop.
void whenPanelShows(std::function<void(QFileDialog*)> drive) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, drive] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    poll->deleteLater();
    poll->stop();
    drive(dialog);
  });
  poll->start(10);
}

TEST(SavePanel, TypedNameGetsTheAllowedExtension) {
  QTemporaryDir dir;
  struct Case {
    const char* typed;
    bool allowsOther;
    const char* saved;
  };
  const Case cases[] = {
      {"speech", false, "speech.wav"},     {"speech.wav", false, "speech.wav"},
      {"speech.WAV", false, "speech.WAV"}, {"speech.mp3", false, "speech.mp3.wav"},
      {"speech.mp3", true, "speech.mp3"},
  };
  for (const Case& c : cases) {
    SavePanel panel;
    panel.setAllowedFileTypes({"wav"});
    panel.setCanCreateDirectories(true);
    panel.setAllowsOtherFileTypes(c.allowsOther);
    QString filters;
    whenPanelShows([&](QFileDialog* dialog) {
      EXPECT_EQ(dialog->objectName(), "SavePanel");
      EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
      EXPECT_FALSE(dialog->testOption(QFileDialog::ReadOnly));
      filters = dialog->nameFilters().join(";");
      dialog->setDirectory(dir.path());
      // Typed into the name field, as a user does.
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      if (name == nullptr) {
        ADD_FAILURE() << "no file name field";
        dialog->reject();
        return;
      }
      name->setText(c.typed);
      static_cast<QDialog*>(dialog)->accept();  // as the Save button does
    });
    ASSERT_EQ(panel.runModal(), SavePanel::kOK) << c.typed;
    EXPECT_TRUE(filters.contains("*.wav")) << filters.toStdString();
    ASSERT_TRUE(panel.URL().has_value());
    EXPECT_EQ(panel.URL()->toLocalFile(), QDir(dir.path()).filePath(c.saved)) << c.typed;
  }
}

// Types `name` into the panel's name field in `directory` and presses Save.
void typeAndSave(QFileDialog* dialog, const QString& directory, const QString& name) {
  dialog->setDirectory(directory);
  auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(field, nullptr);
  field->setText(name);
  static_cast<QDialog*>(dialog)->accept();
}

// Answers the replace question, once it is up, with `button`, then runs `then`.
void whenReplaceQuestionShows(QMessageBox::StandardButton button, bool* asked, std::function<void()> then) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, button, asked, then] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->objectName() != "ReplaceQuestion" || !box->isVisible()) return;
    poll->deleteLater();
    poll->stop();
    *asked = true;
    box->button(button)->click();
    then();
  });
  poll->start(10);
}

TEST(SavePanel, AFileThatExistsOnlyWithTheAddedExtensionIsReplacedOnlyWhenTheUserSaysSo) {
  QTemporaryDir dir;
  const QString existing = QDir(dir.path()).filePath("speech.mp3.wav");
  {
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("kept");
  }
  for (const bool replace : {false, true}) {
    SavePanel panel;
    panel.setAllowedFileTypes({"wav"});
    panel.setAllowsOtherFileTypes(false);
    bool asked = false;
    int shown = 0;
    std::function<void(QFileDialog*)> drive = [&](QFileDialog* dialog) {
      ++shown;
      if (shown == 1) {
        // After "No" the panel comes back; the user then cancels it.
        whenReplaceQuestionShows(replace ? QMessageBox::Yes : QMessageBox::No, &asked, [&] {
          if (!replace) whenPanelShows(drive);
        });
        typeAndSave(dialog, dir.path(), "speech.mp3");
      } else {
        dialog->reject();
      }
    };
    whenPanelShows(drive);
    const int response = panel.runModal();
    EXPECT_TRUE(asked);
    if (replace) {
      EXPECT_EQ(response, SavePanel::kOK);
      ASSERT_TRUE(panel.URL().has_value());
      EXPECT_EQ(panel.URL()->toLocalFile(), existing);
    } else {
      EXPECT_EQ(response, SavePanel::kCancel);
      EXPECT_EQ(shown, 2);
      EXPECT_FALSE(panel.URL().has_value());
    }
  }
}

// The launch's first panel opens in the music folder (at home without one), later ones in
// the folder of the last save; each suggests "Speech.wav", its name selected for typing over.
// (The panels of the tests before made no file, which counts as no save.)
TEST(SavePanel, StartsInTheMusicFolderThenWhereTheLastSaveWent) {
  QTemporaryDir home;
  const QByteArray savedHome = qgetenv("HOME");
  qputenv("HOME", home.path().toLocal8Bit());
  const QDir homeDir(home.path());
  const QString userDirs = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("user-dirs.dirs");

  struct Seen {
    QString folder, name, selected;
  };
  // Opens a panel and records it, then saves as "first" in `saveIn`, or cancels.
  auto open = [](const QString& saveIn) {
    Seen seen;
    whenPanelShows([&](QFileDialog* dialog) {
      seen.folder = dialog->directory().absolutePath();
      if (auto* field = dialog->findChild<QLineEdit*>("fileNameEdit")) {
        seen.name = field->text();
        seen.selected = field->selectedText();
      }
      if (saveIn.isEmpty()) {
        dialog->reject();
      } else {
        typeAndSave(dialog, saveIn, "first");
      }
    });
    SavePanel panel;
    panel.setAllowedFileTypes({"wav"});
    panel.runModal();
    return seen;
  };

  const Seen atHome = open({});
  EXPECT_EQ(atHome.folder, home.path());
  EXPECT_EQ(atHome.name, "Speech.wav");
  EXPECT_EQ(atHome.selected, "Speech");

  ASSERT_TRUE(homeDir.mkdir("Music"));
  EXPECT_EQ(open({}).folder, homeDir.filePath("Music"));

  // The music folder the user's folder settings name.
  ASSERT_TRUE(homeDir.mkdir("Musik"));
  {
    QFile file(userDirs);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
  }
  EXPECT_EQ(open({}).folder, homeDir.filePath("Musik"));
  QFile::remove(userDirs);

  // A place chosen where no file was then made (the save failed) changes nothing.
  ASSERT_TRUE(homeDir.mkdir("failed"));
  open(homeDir.filePath("failed"));
  EXPECT_EQ(open({}).folder, homeDir.filePath("Music"));

  ASSERT_TRUE(homeDir.mkdir("out"));
  open(homeDir.filePath("out"));
  {
    QFile saved(homeDir.filePath("out/first.wav"));  // as the save makes it
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
  }
  const Seen second = open({});
  EXPECT_EQ(second.folder, homeDir.filePath("out"));
  EXPECT_EQ(second.name, "Speech.wav");
  EXPECT_EQ(second.selected, "Speech");

  // The last save's folder gone: as at the first save.
  ASSERT_TRUE(QDir(homeDir.filePath("out")).removeRecursively());
  EXPECT_EQ(open({}).folder, homeDir.filePath("Music"));

  qputenv("HOME", savedHome);
}

TEST(SavePanel, CancelGivesZeroAndNoURL) {
  SavePanel panel;
  panel.setAllowedFileTypes({"wav"});
  whenPanelShows([](QFileDialog* dialog) {
    EXPECT_TRUE(dialog->testOption(QFileDialog::ReadOnly));  // no new folders by default
    dialog->reject();
  });
  EXPECT_EQ(panel.runModal(), SavePanel::kCancel);
  EXPECT_FALSE(panel.URL().has_value());
}

}  // namespace
}  // namespace lorvanta
