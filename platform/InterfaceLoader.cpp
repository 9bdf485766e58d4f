#include "platform/InterfaceLoader.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QSet>
#include <QUiLoader>
#include <memory>
#include <string>

#include "base/ConsoleLine.h"

namespace lorvanta {

// Properties that the interface file sets on its objects:
//   on the main window: "delegateClass", "controllerClass" (classes to create by name) and
//     "controllerOutlets" (the object names the controller must receive);
//   on a control or menu action: "action" (the action's name) and "target" ("delegate",
//     "controller", the default, or "application", whose one action "terminate" quits);
//   on a combo box: "separatorItems" (indexes of items drawn as separators; they still count).
namespace {

constexpr const char* kDelegateClass = "delegateClass";
constexpr const char* kControllerClass = "controllerClass";
constexpr const char* kControllerOutlets = "controllerOutlets";
constexpr const char* kAction = "action";
constexpr const char* kTarget = "target";
constexpr const char* kSeparatorItems = "separatorItems";

QStringList listProperty(const QObject* object, const char* name) {
  const QVariant value = object->property(name);
  if (value.typeId() == QMetaType::QStringList) return value.toStringList();
  return value.toString().split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
}

class Loading {
 public:
  Loading(LoadedInterface& result, const QString& path)
      : result_(result), file_(QFileInfo(path).fileName()) {}

  void problem(const QString& text) {
    if (result_.problems.contains(text)) return;
    result_.problems << text;
    printLine(std::string(file_.toLocal8Bit().constData()) + ": " + text.toLocal8Bit().constData(), stderr);
  }

 private:
  LoadedInterface& result_;
  QString file_;
};

void makeSeparators(QMainWindow* window) {
  for (QComboBox* box : window->findChildren<QComboBox*>()) {
    bool ok = false;
    for (const QString& text : listProperty(box, kSeparatorItems)) {
      const int index = text.toInt(&ok);
      if (!ok || index < 0 || index >= box->count()) continue;
      const QString title = box->itemText(index);
      box->removeItem(index);
      box->insertSeparator(index);
      box->setItemText(index, title);
    }
  }
}

std::unique_ptr<InterfaceTarget> createObject(const QString& className, const QString& objectName) {
  const InterfaceClassRegistry& registry = InterfaceClassRegistry::shared();
  if (className.isEmpty() || !registry.hasClass(className)) return nullptr;
  return registry.create(InterfaceCoder{className, objectName});
}

// Connects the control's natural signal to the target's action. False for a control that
// sends no actions.
bool connectAction(QObject* control, InterfaceTarget* target, const QString& action,
                   const std::weak_ptr<const bool>& alive) {
  auto send = [control, target, action, alive] {
    if (alive.expired()) return;
    target->performAction(action, control);
  };
  if (auto* a = qobject_cast<QAction*>(control)) {
    QObject::connect(a, &QAction::triggered, a, send);
  } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    QObject::connect(button, &QAbstractButton::clicked, button, send);
  } else if (auto* slider = qobject_cast<QAbstractSlider*>(control)) {
    // Values set from code come with signals blocked, so this is the user's hand: dragging
    // (with tracking), clicks on the groove, keys and the wheel.
    QObject::connect(slider, &QAbstractSlider::valueChanged, slider, send);
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    // Enter always sends; leaving the field sends only when the user changed its text since
    // the last send or the last text set from code (setText clears the modified flag).
    // Enter also ends the editing, which then finds the flag cleared and sends nothing more.
    auto sendOnce = [edit, send] {
      edit->setModified(false);
      send();
    };
    QObject::connect(edit, &QLineEdit::returnPressed, edit, sendOnce);
    QObject::connect(edit, &QLineEdit::editingFinished, edit, [edit, sendOnce] {
      if (edit->isModified()) sendOnce();
    });
  } else if (auto* box = qobject_cast<QComboBox*>(control)) {
    QObject::connect(box, &QComboBox::activated, box, send);
  } else {
    return false;
  }
  return true;
}

bool connectTerminate(QObject* control, const QString& action) {
  auto* menuAction = qobject_cast<QAction*>(control);
  auto* button = qobject_cast<QAbstractButton*>(control);
  if (action != "terminate" || (menuAction == nullptr && button == nullptr)) return false;
  auto quit = [] { QCoreApplication::quit(); };
  if (menuAction != nullptr) {
    QObject::connect(menuAction, &QAction::triggered, menuAction, quit);
  } else {
    QObject::connect(button, &QAbstractButton::clicked, button, quit);
  }
  return true;
}

}  // namespace

InterfaceClassRegistry& InterfaceClassRegistry::shared() {
  static InterfaceClassRegistry registry;
  return registry;
}

void InterfaceClassRegistry::registerClass(const QString& className, Factory factory) {
  for (auto& entry : factories_) {
    if (entry.first == className) {
      entry.second = std::move(factory);
      return;
    }
  }
  factories_.emplace_back(className, std::move(factory));
}

bool InterfaceClassRegistry::hasClass(const QString& className) const {
  for (const auto& entry : factories_) {
    if (entry.first == className) return true;
  }
  return false;
}

std::unique_ptr<InterfaceTarget> InterfaceClassRegistry::create(const InterfaceCoder& coder) const {
  for (const auto& entry : factories_) {
    if (entry.first == coder.className) return entry.second ? entry.second(coder) : nullptr;
  }
  return nullptr;
}

namespace {

// Reads the file into widgets; none, with the problem told, when it cannot be read or holds
// no main window.
std::unique_ptr<QMainWindow> loadMainWindow(const QString& path, Loading& loading) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    loading.problem(QString("cannot open the interface file %1").arg(path));
    return nullptr;
  }
  QUiLoader loader;
  loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
  std::unique_ptr<QWidget> root(loader.load(&file));
  if (!root) {
    loading.problem(QString("cannot load interface file %1: %2").arg(path, loader.errorString()));
    return nullptr;
  }
  if (qobject_cast<QMainWindow*>(root.get()) == nullptr) {
    loading.problem(QString("interface file %1 holds no main window").arg(path));
    return nullptr;
  }
  return std::unique_ptr<QMainWindow>(static_cast<QMainWindow*>(root.release()));
}

// Creates the objects the window names: the delegate first, then the window's controller.
// A controller class that the program does not register leaves the controller's outlets
// and actions unbound.
void createObjects(LoadedInterface& result, Loading& loading) {
  QMainWindow* window = result.window.get();
  const QString delegateClass = window->property(kDelegateClass).toString();
  if (!delegateClass.isEmpty()) {
    std::unique_ptr<InterfaceTarget> object = createObject(delegateClass, delegateClass);
    auto* delegate = dynamic_cast<ApplicationDelegate*>(object.get());
    if (delegate == nullptr) {
      loading.problem(QString("unknown application delegate class %1").arg(delegateClass));
    } else {
      result.delegate = delegate;
      result.objects.push_back(std::move(object));
    }
  }
  const QString controllerClass = window->property(kControllerClass).toString();
  if (std::unique_ptr<InterfaceTarget> object = createObject(controllerClass, window->objectName())) {
    result.controller = object.get();
    result.objects.push_back(std::move(object));
  }
}

// Gives the controller every named widget it accepts; tells the outlets it must have and
// did not get.
void bindOutlets(LoadedInterface& result, Loading& loading) {
  if (result.controller == nullptr) return;
  QMainWindow* window = result.window.get();
  QSet<QString> bound;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    if (name.isEmpty() || bound.contains(name)) continue;
    if (result.controller->setOutlet(name, widget)) bound.insert(name);
  }
  const QString controllerClass = window->property(kControllerClass).toString();
  for (const QString& name : listProperty(window, kControllerOutlets)) {
    if (!bound.contains(name)) loading.problem(QString("missing outlet %1 of %2").arg(name, controllerClass));
  }
}

// Connects each control and menu item that names an action to its target.
void bindActions(LoadedInterface& result, Loading& loading) {
  QSet<QString> unknownActions;
  for (QObject* control : result.window->findChildren<QObject*>()) {
    const QString action = control->property(kAction).toString();
    if (action.isEmpty()) continue;
    const QString targetName = control->property(kTarget).toString();
    if (targetName == "application") {
      if (!connectTerminate(control, action))
        loading.problem(QString("unknown action %1 of the application").arg(action));
      continue;
    }
    const bool toDelegate = targetName == "delegate";
    if (!toDelegate && !targetName.isEmpty() && targetName != "controller") {
      loading.problem(QString("unknown target %1 of %2").arg(targetName, control->objectName()));
      continue;
    }
    InterfaceTarget* target = toDelegate ? static_cast<InterfaceTarget*>(result.delegate) : result.controller;
    if (target == nullptr) continue;
    if (!target->respondsToAction(action)) {
      if (!unknownActions.contains(action)) {
        unknownActions.insert(action);
        loading.problem(QString("unknown action %1 (sent by %2)").arg(action, control->objectName()));
      }
      continue;
    }
    if (!connectAction(control, target, action, result.bindings)) {
      loading.problem(QString("control %1 cannot send action %2").arg(control->objectName(), action));
    }
  }
}

}  // namespace

LoadedInterface loadInterfaceFile(const QString& path) {
  LoadedInterface result;
  Loading loading(result, path);
  result.window = loadMainWindow(path, loading);
  if (!result.window) return result;
  result.bindings = std::make_shared<const bool>(true);
  makeSeparators(result.window.get());

  createObjects(result, loading);
  bindOutlets(result, loading);
  bindActions(result, loading);

  for (const auto& object : result.objects) object->awakeFromNib();
  if (result.controller != nullptr) result.controller->viewDidLoad();
  return result;
}

}  // namespace lorvanta
