#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <map>
#include <vector>

#include "platform/InterfaceLoader.h"

namespace lorvanta {
namespace {

const QString kData = LORVANTA_TEST_DATA_DIR;

struct Journal {
  std::vector<std::string> events;
  std::map<QString, QWidget*> outlets;
};

Journal& journal() {
  static Journal j;
  return j;
}

class RecordingController : public InterfaceTarget {
 public:
  bool setOutlet(const QString& name, QWidget* widget) override {
    if (name != "known_field") return false;
    journal().outlets[name] = widget;
    return true;
  }
  bool respondsToAction(const QString& action) const override {
    return action == "fieldAction" || action == "choose" || action == "slide";
  }
  void performAction(const QString& action, QObject* sender) override {
    journal().events.push_back("controller " + action.toStdString() + " " +
                               sender->objectName().toStdString());
  }
  void awakeFromNib() override { journal().events.push_back("controller awakeFromNib"); }
  void viewDidLoad() override { journal().events.push_back("controller viewDidLoad"); }
};

class RecordingDelegate : public ApplicationDelegate {
 public:
  bool setOutlet(const QString&, QWidget*) override { return false; }
  bool respondsToAction(const QString& action) const override { return action == "command"; }
  void performAction(const QString& action, QObject* sender) override {
    journal().events.push_back("delegate " + action.toStdString() + " " + sender->objectName().toStdString());
  }
  void awakeFromNib() override { journal().events.push_back("delegate awakeFromNib"); }
};

class InterfaceLoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    journal() = {};
    auto& registry = InterfaceClassRegistry::shared();
    registry.registerClass("RecordingController",
                           [](const InterfaceCoder&) { return std::make_unique<RecordingController>(); });
    registry.registerClass("RecordingDelegate",
                           [](const InterfaceCoder&) { return std::make_unique<RecordingDelegate>(); });
  }
};

TEST_F(InterfaceLoaderTest, ReportsEachUnknownActionAndMissingOutletOnceByName) {
  testing::internal::CaptureStderr();
  LoadedInterface loaded = loadInterfaceFile(kData + "/broken.ui");
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(loaded.window);
  ASSERT_NE(loaded.controller, nullptr);
  ASSERT_NE(loaded.delegate, nullptr);
  ASSERT_EQ(loaded.objects.size(), 2u);
  EXPECT_EQ(loaded.objects[0].get(), loaded.delegate);

  EXPECT_EQ(loaded.problems.size(), 3) << loaded.problems.join("\n").toStdString();
  auto count = [&err](const std::string& word) {
    size_t n = 0;
    for (size_t at = err.find(word); at != std::string::npos; at = err.find(word, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("noSuchAction"), 1u) << err;
  EXPECT_EQ(count("absent_outlet"), 1u) << err;
  EXPECT_EQ(count("unknownDelegateAction"), 1u) << err;
  EXPECT_EQ(count("known_field"), 0u) << err;

  // Bound first, then awakeFromNib on each object (delegate first), then viewDidLoad.
  EXPECT_EQ(journal().outlets["known_field"], loaded.window->findChild<QLineEdit*>("known_field"));
  const std::vector<std::string> start{"delegate awakeFromNib", "controller awakeFromNib",
                                       "controller viewDidLoad"};
  EXPECT_EQ(journal().events, start);
}

TEST_F(InterfaceLoaderTest, ControlsSendTheirActionsToTheirTargets) {
  LoadedInterface loaded = loadInterfaceFile(kData + "/broken.ui");
  ASSERT_TRUE(loaded.window);
  journal().events.clear();
  QMainWindow* w = loaded.window.get();

  emit w->findChild<QLineEdit*>("known_field")->returnPressed();
  w->findChild<QAction*>("menuCommand")->trigger();
  auto* slider = w->findChild<QSlider*>("slider");
  slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  w->findChild<QPushButton*>("firstButton")->click();  // unknown action: not connected
  auto* popUp = w->findChild<QComboBox*>("popUp");
  emit popUp->activated(2);
  popUp->setCurrentIndex(0);  // from code: no action
  const std::vector<std::string> expected{"controller fieldAction known_field",
                                          "delegate command menuCommand", "controller slide slider",
                                          "controller choose popUp"};
  EXPECT_EQ(journal().events, expected);
}

TEST_F(InterfaceLoaderTest, AFieldSendsOnEnterOrWhenLeftAfterAnEdit) {
  enum class Step { Type, SetFromCode, Enter, Leave };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    size_t sent;
  };
  const Case cases[] = {
      {"left without an edit", {Step::Leave}, 0},
      {"left after an edit", {Step::Type, Step::Leave}, 1},
      {"Enter without an edit", {Step::Enter}, 1},
      {"Enter after an edit, then left", {Step::Type, Step::Enter, Step::Leave}, 1},
      {"left after a text set from code", {Step::SetFromCode, Step::Leave}, 0},
      {"two edits, each left", {Step::Type, Step::Leave, Step::Type, Step::Leave}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::internal::CaptureStderr();  // the file's own faults are another test's
    LoadedInterface loaded = loadInterfaceFile(kData + "/broken.ui");
    testing::internal::GetCapturedStderr();
    ASSERT_TRUE(loaded.window);
    journal().events.clear();
    QMainWindow* w = loaded.window.get();
    auto* field = w->findChild<QLineEdit*>("known_field");
    auto* other = w->findChild<QSlider*>("slider");
    w->show();
    QApplication::setActiveWindow(w);
    for (Step step : c.steps) {
      if (!field->hasFocus()) field->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(field->hasFocus());
      if (step == Step::Type) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
        QCoreApplication::sendEvent(field, &key);
      } else if (step == Step::SetFromCode) {
        field->setText(QStringLiteral("180.0"));
      } else if (step == Step::Enter) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(field, &key);
      } else {
        other->setFocus(Qt::TabFocusReason);
      }
    }
    const std::vector<std::string> expected(c.sent, "controller fieldAction known_field");
    EXPECT_EQ(journal().events, expected);
  }
}

TEST_F(InterfaceLoaderTest, SeparatorItemCountsButCannotBeChosen) {
  LoadedInterface loaded = loadInterfaceFile(kData + "/broken.ui");
  auto* popUp = loaded.window->findChild<QComboBox*>("popUp");
  ASSERT_EQ(popUp->count(), 3);
  EXPECT_EQ(popUp->itemText(2), "Third");
  auto* model = qobject_cast<QStandardItemModel*>(popUp->model());
  ASSERT_NE(model, nullptr);
  EXPECT_FALSE(model->item(1)->isEnabled());
  EXPECT_FALSE(model->item(1)->isSelectable());
}

TEST_F(InterfaceLoaderTest, ActionsStopWhenTheInterfaceIsGone) {
  LoadedInterface loaded = loadInterfaceFile(kData + "/broken.ui");
  QPointer<QAction> command = loaded.window->findChild<QAction*>("menuCommand");
  journal().events.clear();
  // Dropping the bindings first models the order in which a LoadedInterface dies.
  loaded.bindings.reset();
  command->trigger();
  EXPECT_TRUE(journal().events.empty());
}

TEST_F(InterfaceLoaderTest, ControllerClassNotInThisProgramIsNoProblem) {
  testing::internal::CaptureStderr();
  LoadedInterface loaded = loadInterfaceFile(kData + "/nocontroller.ui");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(loaded.window);
  EXPECT_EQ(loaded.controller, nullptr);
  EXPECT_TRUE(loaded.problems.isEmpty());
  loaded.window->findChild<QPushButton*>("button")->click();
}

TEST_F(InterfaceLoaderTest, FilesThatCannotBeLoadedAreReported) {
  for (const QString& name : {QString("does-not-exist.ui"), QString("notawindow.ui")}) {
    testing::internal::CaptureStderr();
    LoadedInterface loaded = loadInterfaceFile(kData + "/" + name);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(loaded.window) << name.toStdString();
    EXPECT_EQ(loaded.problems.size(), 1);
    EXPECT_NE(err.find(name.toStdString()), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace lorvanta
