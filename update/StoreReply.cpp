#include "update/StoreReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringDecoder>

namespace lorvanta {

std::optional<QString> textFromUTF8(std::string_view bytes) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  if (decoder.hasError()) return std::nullopt;
  return text;
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
