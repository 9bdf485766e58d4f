#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "app/AppDelegate.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/InterfaceLoader.h"
#include "platform/MainQueue.h"
#include "platform/Translations.h"
#include "platform/Workspace.h"

namespace lorvanta {
namespace {

struct Record {
  std::map<QString, QWidget*> outlets;
  std::vector<QString> actions;  // "action sender"
  std::vector<QString> lifecycle;
};

Record& record() {
  static Record r;
  return r;
}

const QStringList kOutlets{"fVoicesPopUpButton", "fSpokenTextView", "rate_slider",           "pitch_slider",
                           "rate_textfield",     "pitch_textfield", "jd_nsprogressindicator"};
const QStringList kActions{"playTTS", "test_save", "set_rate_slider_action",
                           "set_picth_rate_textfield_action", "voicePopupSelected"};

// Stands in for the window's controller: records what the interface file binds.
class RecordingViewController : public InterfaceTarget {
 public:
  bool setOutlet(const QString& name, QWidget* widget) override {
    if (!kOutlets.contains(name)) return false;
    record().outlets[name] = widget;
    return true;
  }
  bool respondsToAction(const QString& action) const override { return kActions.contains(action); }
  void performAction(const QString& action, QObject* sender) override {
    record().actions.push_back(action + " " + sender->objectName());
  }
  void viewDidLoad() override { record().lifecycle.push_back("viewDidLoad"); }
};

// AppDelegate's answers, with the notices recorded.
class RecordingAppDelegate : public ApplicationDelegate {
 public:
  bool setOutlet(const QString&, QWidget*) override { return false; }
  bool respondsToAction(const QString& action) const override { return real.respondsToAction(action); }
  void performAction(const QString& action, QObject* sender) override { real.performAction(action, sender); }
  void applicationDidFinishLaunching() override {
    const auto windows = applicationWindows();
    const bool shown = !windows.empty() && windows.front()->isVisible();
    record().lifecycle.push_back(shown ? "didFinishLaunching after show" : "didFinishLaunching before show");
  }
  void applicationWillTerminate() override { record().lifecycle.push_back("willTerminate"); }
  bool applicationShouldTerminateAfterLastWindowClosed() override {
    return real.applicationShouldTerminateAfterLastWindowClosed();
  }
  AppDelegate real;
};

// Stands in for the user's browser: the desktop's handler of https addresses, which the
// workspace hands a URL to.
class Browser : public QObject {
  Q_OBJECT
 public:
  Browser() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open"); }
  ~Browser() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
  std::vector<QString> opened;

 public slots:
  void open(const QUrl& url) { opened.push_back(url.toString()); }
};

class MainInterfaceTest : public testing::Test {
 protected:
  void SetUp() override {
    record() = {};
    auto& registry = InterfaceClassRegistry::shared();
    registry.registerClass("AppDelegate",
                           [](const InterfaceCoder& c) { return std::make_unique<AppDelegate>(c); });
    registry.registerClass("ViewController",
                           [](const InterfaceCoder&) { return std::make_unique<RecordingViewController>(); });
  }

  static QString mainInterfacePath() { return Bundle(LORVANTA_RESOURCE_DIR).pathForResource("main.ui"); }
  Browser browser;
};

TEST_F(MainInterfaceTest, LoadsWithEveryOutletBoundAndNoProblem) {
  ASSERT_FALSE(mainInterfacePath().isEmpty());
  testing::internal::CaptureStderr();
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(loaded.window);
  EXPECT_TRUE(loaded.problems.isEmpty()) << loaded.problems.join("\n").toStdString();
  ASSERT_NE(loaded.delegate, nullptr);
  EXPECT_NE(dynamic_cast<AppDelegate*>(loaded.delegate), nullptr);
  ASSERT_NE(loaded.controller, nullptr);
  EXPECT_EQ(record().lifecycle, std::vector<QString>{"viewDidLoad"});

  ASSERT_EQ(record().outlets.size(), 7u);
  auto& o = record().outlets;
  EXPECT_NE(qobject_cast<QComboBox*>(o["fVoicesPopUpButton"]), nullptr);
  EXPECT_NE(qobject_cast<QPlainTextEdit*>(o["fSpokenTextView"]), nullptr);
  EXPECT_NE(qobject_cast<QLineEdit*>(o["rate_textfield"]), nullptr);
  EXPECT_NE(qobject_cast<QLineEdit*>(o["pitch_textfield"]), nullptr);
  auto* rate = qobject_cast<QSlider*>(o["rate_slider"]);
  auto* pitch = qobject_cast<QSlider*>(o["pitch_slider"]);
  ASSERT_TRUE(rate && pitch);
  EXPECT_EQ(rate->minimum(), 80);
  EXPECT_EQ(rate->maximum(), 450);
  EXPECT_EQ(pitch->minimum(), -2400);
  EXPECT_EQ(pitch->maximum(), 2400);
  auto* busy = qobject_cast<QProgressBar*>(o["jd_nsprogressindicator"]);
  ASSERT_NE(busy, nullptr);
  EXPECT_TRUE(busy->isHidden());
  EXPECT_EQ(busy->maximum(), 0);
}

TEST_F(MainInterfaceTest, VoicePopUpHoldsItsTwoFixedItems) {
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  auto* box = qobject_cast<QComboBox*>(record().outlets["fVoicesPopUpButton"]);
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(box->count(), 2);
  EXPECT_EQ(box->itemText(0), "System Default Voice");
  auto* model = qobject_cast<QStandardItemModel*>(box->model());
  ASSERT_NE(model, nullptr);
  EXPECT_TRUE(model->item(0)->isEnabled());
  EXPECT_FALSE(model->item(1)->isEnabled());  // not a voice: cannot be chosen
  EXPECT_EQ(box->itemText(1), QString::fromUtf8("—"));
}

// What the window shows, by where it shows it: "object" or "object#item".
std::map<QString, QString> visibleTexts(QWidget& window) {
  std::map<QString, QString> texts;
  texts["window"] = window.windowTitle();
  for (QLabel* label : window.findChildren<QLabel*>()) texts[label->objectName()] = label->text();
  for (QPushButton* button : window.findChildren<QPushButton*>())
    texts[button->objectName()] = button->text();
  for (QPlainTextEdit* edit : window.findChildren<QPlainTextEdit*>()) {
    texts[edit->objectName()] = edit->placeholderText();
  }
  for (QComboBox* box : window.findChildren<QComboBox*>()) {
    for (int i = 0; i < box->count(); ++i)
      texts[box->objectName() + '#' + QString::number(i)] = box->itemText(i);
  }
  for (QMenu* menu : window.findChildren<QMenu*>()) {
    texts[menu->objectName()] = menu->title();
    for (QAction* action : menu->actions()) {
      if (!action->isSeparator()) texts[action->objectName()] = action->text();
    }
  }
  return texts;
}

TEST_F(MainInterfaceTest, EveryVisibleTextFollowsTheUserLanguageWithEnglishForOthers) {
  struct Text {
    const char* english;
    const char* chinese;
  };
  // The product name and the mark of the item that is no voice read the same in both.
  const std::map<QString, Text> table = {
      {"window", {"Lorvanta", "Lorvanta"}},
      {"applicationMenu", {"&Lorvanta", "&Lorvanta"}},
      {"fVoicesPopUpButton#1", {"—", "—"}},
      {"fSpokenTextView", {"Type or paste the text to speak here.", "在此输入或粘贴要朗读的文字。"}},
      {"voiceLabel", {"Voice:", "声音："}},
      {"fVoicesPopUpButton#0", {"System Default Voice", "系统默认声音"}},
      {"rateLabel", {"Rate:", "语速："}},
      {"rateUnitLabel", {"words per minute", "词/分钟"}},
      {"pitchLabel", {"Pitch:", "音高："}},
      {"pitchUnitLabel", {"cents", "音分"}},
      {"saveButton", {"Save…", "保存…"}},
      {"speakButton", {"Speak", "朗读"}},
      {"aboutAction", {"About Lorvanta", "关于 Lorvanta"}},
      {"moreAppsAction", {"More Apps…", "更多应用…"}},
      {"quitAction", {"&Quit", "退出(&Q)"}},
  };
  const Bundle bundle(LORVANTA_RESOURCE_DIR);
  const auto shown = [&](const QLocale& locale) {
    installTranslations(bundle, locale);
    LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
    EXPECT_TRUE(loaded.window);
    return loaded.window ? visibleTexts(*loaded.window) : std::map<QString, QString>{};
  };
  const auto chinese = shown(QLocale(QLocale::Chinese, QLocale::China));
  // Qt's own buttons, as the save panel and the warnings show them.
  QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                           QDialogButtonBox::No | QDialogButtonBox::Save);
  QStringList chineseButtons;
  for (QAbstractButton* button : buttons.buttons()) chineseButtons << button->text();
  const auto german = shown(QLocale(QLocale::German, QLocale::Germany));
  const auto english = shown(QLocale(QLocale::English, QLocale::UnitedStates));

  ASSERT_EQ(english.size(), table.size());
  for (const auto& [where, text] : table) {
    SCOPED_TRACE(where.toStdString());
    ASSERT_TRUE(english.count(where) && chinese.count(where) && german.count(where));
    EXPECT_EQ(english.at(where), QString::fromUtf8(text.english));
    EXPECT_EQ(chinese.at(where), QString::fromUtf8(text.chinese));
    EXPECT_EQ(german.at(where), english.at(where)) << "English stands for every other language";
    EXPECT_FALSE(chinese.at(where).isEmpty());
    if (std::strcmp(text.english, text.chinese) != 0) {
      EXPECT_NE(chinese.at(where), english.at(where));
    }
  }
  for (const char* label : {"OK", "Cancel", "&Yes", "&No", "Save"}) {
    EXPECT_FALSE(chineseButtons.contains(label)) << label << " in " << chineseButtons.join(' ').toStdString();
  }
  EXPECT_TRUE(chineseButtons.contains(QString::fromUtf8("取消"))) << chineseButtons.join(' ').toStdString();
}

TEST_F(MainInterfaceTest, MenuCommandsOpenTheirPagesEachTime) {
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  ASSERT_TRUE(loaded.window);
  QAction* about = nullptr;
  QAction* shop = nullptr;
  QAction* quit = nullptr;
  for (QAction* action : loaded.window->findChildren<QAction*>()) {
    if (action->text() == "About Lorvanta") about = action;
    if (action->text() == QString::fromUtf8("More Apps…")) shop = action;
    if (action->text().remove('&') == "Quit") quit = action;
  }
  ASSERT_TRUE(about && shop && quit);
  // Reachable from the menu bar.
  QList<QAction*> inMenus;
  for (QMenu* menu : loaded.window->menuBar()->findChildren<QMenu*>()) inMenus += menu->actions();
  EXPECT_TRUE(inMenus.contains(about) && inMenus.contains(shop) && inMenus.contains(quit));

  about->trigger();
  about->trigger();
  shop->trigger();
  shop->trigger();
  const std::vector<QString> expected{kAboutPageAddress, kAboutPageAddress, kShopPageAddress,
                                      kShopPageAddress};
  EXPECT_EQ(browser.opened, expected);
  EXPECT_TRUE(record().actions.empty());
}

TEST_F(MainInterfaceTest, ControlsSendTheControllerActions) {
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  QMainWindow* w = loaded.window.get();
  auto& o = record().outlets;
  for (QPushButton* button : w->findChildren<QPushButton*>()) button->click();
  auto* rate = qobject_cast<QSlider*>(o["rate_slider"]);
  rate->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
  QCoreApplication::sendEvent(o["pitch_slider"], &right);
  emit qobject_cast<QLineEdit*>(o["rate_textfield"])->returnPressed();
  emit qobject_cast<QLineEdit*>(o["pitch_textfield"])->returnPressed();
  emit qobject_cast<QComboBox*>(o["fVoicesPopUpButton"])->activated(0);
  auto& a = record().actions;
  auto has = [&a](const QString& entry) { return std::find(a.begin(), a.end(), entry) != a.end(); };
  EXPECT_TRUE(has("test_save saveButton"));
  EXPECT_TRUE(has("playTTS speakButton"));
  EXPECT_TRUE(has("set_rate_slider_action rate_slider"));
  EXPECT_TRUE(has("set_rate_slider_action pitch_slider"));
  EXPECT_TRUE(has("set_picth_rate_textfield_action rate_textfield"));
  EXPECT_TRUE(has("set_picth_rate_textfield_action pitch_textfield"));
  EXPECT_TRUE(has("voicePopupSelected fVoicesPopUpButton"));
  EXPECT_EQ(a.size(), 7u);
}

TEST_F(MainInterfaceTest, ReturnAndEnterPressTheFocusedSpeakAndSaveButtons) {
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  for (const char* name : {"saveButton", "speakButton"}) {
    auto* button = loaded.window->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
      QKeyEvent press(QEvent::KeyPress, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
      QCoreApplication::sendEvent(button, &press);
    }
  }
  const std::vector<QString> expected{"test_save saveButton", "test_save saveButton", "playTTS speakButton",
                                      "playTTS speakButton"};
  EXPECT_EQ(record().actions, expected);
}

// However many voices there are, the open list shows at most the 20 items the file asks for.
TEST_F(MainInterfaceTest, VoiceListShowsAtMostTwentyItems) {
  LoadedInterface loaded = loadInterfaceFile(mainInterfacePath());
  loaded.window->show();
  auto* box = qobject_cast<QComboBox*>(record().outlets["fVoicesPopUpButton"]);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->maxVisibleItems(), 20);
  for (int i = 0; i < 131; ++i) box->addItem(QString("voice %1").arg(i));
  box->setCurrentIndex(66);
  box->showPopup();
  QAbstractItemView* list = box->view();
  ASSERT_TRUE(list->isVisible());
  const QRect area = list->viewport()->rect();
  const int first = list->indexAt(area.topLeft() + QPoint(1, 1)).row();
  const int last = list->indexAt(area.bottomLeft() + QPoint(1, -1)).row();
  EXPECT_GE(first, 0);
  EXPECT_LE(last - first + 1, 20) << first << ".." << last;
  box->hidePopup();
}

TEST_F(MainInterfaceTest, ClosingTheLastWindowQuitsAfterTheLaunchNotices) {
  InterfaceClassRegistry::shared().registerClass(
      "AppDelegate", [](const InterfaceCoder&) { return std::make_unique<RecordingAppDelegate>(); });
  // What the windows were once another one had come; checked after the run, so that a
  // failure cannot keep the main window open.
  std::vector<QWidget*> windows;
  QWidget* other = nullptr;
  bool mainWindowFirst = false;
  QTimer closing;
  closing.setSingleShot(true);
  QObject::connect(&closing, &QTimer::timeout, [&] {
    // Another window shown later still comes after the main window.
    auto shown = std::make_unique<QWidget>();
    shown->setWindowTitle("other");
    shown->show();
    other = shown.get();
    windows = applicationWindows();
    mainWindowFirst = !windows.empty() && qobject_cast<QMainWindow*>(windows.front()) != nullptr;
    shown.reset();
    for (QWidget* window : applicationWindows()) window->close();
  });
  closing.start(200);
  // A run that has not ended by then has failed.
  bool stuck = false;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [&stuck] {
    stuck = true;
    QCoreApplication::exit(2);
  });
  guard.start(30000);
  const int code = runMainInterface(Bundle(LORVANTA_RESOURCE_DIR));
  ASSERT_FALSE(stuck) << "the program did not quit when its last window closed";
  EXPECT_EQ(code, 0);
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_TRUE(mainWindowFirst);
  EXPECT_EQ(windows.back(), other);
  const std::vector<QString> expected{"viewDidLoad", "didFinishLaunching after show", "willTerminate"};
  EXPECT_EQ(record().lifecycle, expected);
}

TEST_F(MainInterfaceTest, MissingInterfaceFileEndsWithCodeOne) {
  QTemporaryDir empty;
  testing::internal::CaptureStderr();
  EXPECT_EQ(runMainInterface(Bundle(empty.path())), 1);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("main.ui"), std::string::npos) << err;
}

TEST(Program, WithoutItsResourcesEndsWithCodeOneAndSaysWhy) {
  const QString program = QDir(LORVANTA_RESOURCE_DIR).filePath("lorvanta");
  if (!QFile::exists(program)) GTEST_SKIP() << "the program is not built";
  QTemporaryDir dir;
  const QString copy = QDir(dir.path()).filePath("lorvanta");
  ASSERT_TRUE(QFile::copy(program, copy));
  QProcess process;
  process.start(copy, {});
  ASSERT_TRUE(process.waitForFinished(60000));
  EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(process.exitCode(), 1);
  const QString err = QString::fromLocal8Bit(process.readAllStandardError());
  EXPECT_TRUE(err.contains("main.ui")) << err.toStdString();
}

}  // namespace
}  // namespace lorvanta

#include "MainInterfaceTest.moc"
