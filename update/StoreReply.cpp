#include "update/StoreReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace lorvanta {

bool isValidUTF8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      ++p;
      continue;
    }
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;   // overlong
      if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;   // overlong
      if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
      return false;
    }
    if (end - p < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (int i = 2; i < length; ++i) {
      if (p[i] < 0x80 || p[i] > 0xBF) return false;
    }
    p += length;
  }
  return true;
}

QJsonObject dictionaryFromJSONText(const QString& text) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return {};
  return document.object();
}

std::optional<QString> storeVersionString(const QJsonObject& reply) {
  const QJsonValue results = reply.value(QLatin1String("results"));
  if (!results.isArray()) return std::nullopt;
  const QJsonArray array = results.toArray();
  if (array.isEmpty()) return std::nullopt;
  const QJsonValue last = array.last();
  if (!last.isObject()) return std::nullopt;
  const QJsonValue version = last.toObject().value(QLatin1String("version"));
  if (!version.isString()) return std::nullopt;
  return version.toString();
}

}  // namespace lorvanta
