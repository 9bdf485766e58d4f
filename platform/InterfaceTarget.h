#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

#include "platform/ActionTable.h"

namespace lorvanta {

// An object that the main interface file creates and binds: outlets by object name,
// actions by name. Created, bound and called on the main thread.
class InterfaceTarget {
 public:
  virtual ~InterfaceTarget() = default;

  // Sets outlet `name` to `widget`; false when the target has no such outlet.
  virtual bool setOutlet(const QString& name, QWidget* widget) = 0;
  // Both usually answer from an ActionTable of the target's class.
  virtual bool respondsToAction(const QString& action) const = 0;
  // Runs action `action` (a known one) with the control or menu item that sent it.
  virtual void performAction(const QString& action, QObject* sender) = 0;

  // After every outlet and action of the file is bound.
  virtual void awakeFromNib() {}
  // After awakeFromNib, for the controller of a window whose view has loaded.
  virtual void viewDidLoad() {}
};

// The application delegate's questions and notices.
class ApplicationDelegate : public InterfaceTarget {
 public:
  virtual void applicationDidFinishLaunching() {}
  virtual void applicationWillTerminate() {}
  virtual bool applicationSupportsSecureRestorableState() { return false; }
  virtual bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
};

}  // namespace lorvanta
