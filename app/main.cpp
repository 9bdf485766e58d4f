#include <memory>

#include "app/AppDelegate.h"
#include "platform/Application.h"
#include "platform/InterfaceLoader.h"
#include "studio/ViewController.h"

int main(int argc, char** argv) {
  auto& registry = lorvanta::InterfaceClassRegistry::shared();
  registry.registerClass("AppDelegate", [](const lorvanta::InterfaceCoder& coder) {
    return std::make_unique<lorvanta::AppDelegate>(coder);
  });
  registry.registerClass("ViewController", [](const lorvanta::InterfaceCoder& coder) {
    return std::make_unique<lorvanta::ViewController>(coder);
  });
  return lorvanta::applicationMain(argc, argv);
}
