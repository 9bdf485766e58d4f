#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "platform/InterfaceTarget.h"

namespace lorvanta {

// What an interface file asks a class factory for (the "coder").
struct InterfaceCoder {
  QString className;
  QString objectName;
};

// Classes that interface files may create, by name.
class InterfaceClassRegistry {
 public:
  using Factory = std::function<std::unique_ptr<InterfaceTarget>(const InterfaceCoder&)>;

  static InterfaceClassRegistry& shared();
  void registerClass(const QString& className, Factory factory);
  bool hasClass(const QString& className) const;
  std::unique_ptr<InterfaceTarget> create(const InterfaceCoder& coder) const;

 private:
  std::vector<std::pair<QString, Factory>> factories_;
};

// A loaded interface file: the main window, and the objects it created (delegate first if
// any, then the window's controller), owned for the window's life.
struct LoadedInterface {
  std::unique_ptr<QMainWindow> window;
  std::vector<std::unique_ptr<InterfaceTarget>> objects;
  InterfaceTarget* controller = nullptr;    // the window's controller, or none
  ApplicationDelegate* delegate = nullptr;  // the application delegate, or none
  QStringList problems;                     // unknown actions, missing outlets
  // Keeps the bound actions live; they send nothing once the loaded interface is gone.
  std::shared_ptr<const bool> bindings;
};

// Loads a Qt Designer file with QUiLoader, creates the objects it names through the
// registry, binds outlets and actions, then sends awakeFromNib and viewDidLoad.
// Problems are written once each to standard error and listed in `problems`.
LoadedInterface loadInterfaceFile(const QString& path);

}  // namespace lorvanta
