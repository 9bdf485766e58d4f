#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <string_view>

namespace lorvanta {

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or code points
// past U+10FFFF).
bool isValidUTF8(std::string_view bytes);

// The top-level JSON object of `text`; an empty one when `text` is not JSON or its top
// level is not an object.
QJsonObject dictionaryFromJSONText(const QString& text);

// The "version" string of the last element of "results", or none when the reply does not
// have that shape.
std::optional<QString> storeVersionString(const QJsonObject& reply);

}  // namespace lorvanta
