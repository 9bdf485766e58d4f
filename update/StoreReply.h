#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <string_view>

namespace lorvanta {

// The text of `bytes` when they are well-formed UTF-8 (no overlong forms, surrogates, code
// points past U+10FFFF, cut-short sequences or stray continuation bytes); none otherwise.
// A byte order mark at the start is dropped.
std::optional<QString> textFromUTF8(std::string_view bytes);

// The top-level JSON object of `text`; an empty one when `text` is not JSON or its top
// level is not an object.
QJsonObject dictionaryFromJSONText(const QString& text);

// The "version" string of the last element of "results", or none when the reply does not
// have that shape.
std::optional<QString> storeVersionString(const QJsonObject& reply);

}  // namespace lorvanta
