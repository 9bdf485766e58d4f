#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
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
