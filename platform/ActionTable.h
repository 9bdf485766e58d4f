#pragma once

#include <QLatin1String>
#include <QObject>
#include <QString>
#include <cstddef>
#include <span>

namespace lorvanta {

// The actions an interface target answers, by name, each with the method it runs: how
// respondsToAction and performAction find their work.
template <typename Target>
class ActionTable {
 public:
  using Method = void (Target::*)(QObject* sender);
  struct Entry {
    const char* name;
    Method method;
  };

  template <std::size_t N>
  constexpr explicit ActionTable(const Entry (&entries)[N]) : entries_(entries) {}

  bool contains(const QString& action) const { return find(action) != nullptr; }

  // Runs `action` on `target` with `sender`; false when the table has no such action.
  bool perform(Target& target, const QString& action, QObject* sender) const {
    const Entry* entry = find(action);
    if (entry == nullptr) return false;
    (target.*(entry->method))(sender);
    return true;
  }

 private:
  const Entry* find(const QString& action) const {
    for (const Entry& entry : entries_) {
      if (action == QLatin1String(entry.name)) return &entry;
    }
    return nullptr;
  }

  std::span<const Entry> entries_;
};

}  // namespace lorvanta
