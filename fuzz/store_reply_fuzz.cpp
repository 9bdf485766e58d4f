// Fuzz target: a lookup reply's bytes through the same steps the update check takes
// (UTF-8 decoding, JSON dictionary, store version, version number and its text form).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/NumberText.h"
#include "update/StoreReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<QString> decoded = lorvanta::textFromUTF8(bytes);
  if (!decoded) return 0;
  const QString& text = *decoded;
  // A valid text survives the round trip unchanged, but for a leading byte order mark,
  // which the decoder drops.
  std::string_view expected = bytes;
  if (expected.substr(0, 3) == "\xEF\xBB\xBF") expected.remove_prefix(3);
  if (text.toUtf8() != QByteArray(expected.data(), static_cast<qsizetype>(expected.size()))) std::abort();
  const QJsonObject reply = lorvanta::dictionaryFromJSONText(text);
  const std::optional<QString> version = lorvanta::storeVersionString(reply);
  if (!version) return 0;
  const std::optional<float> number = lorvanta::parseWholeDecimal(version->toStdString());
  if (!number) return 0;
  const std::string shown = lorvanta::floatTextForm(*number);
  // The text form reads back as the same number (not-a-number aside).
  const std::optional<float> again = lorvanta::parseWholeDecimal(shown);
  if (*number == *number && (!again || *again != *number)) std::abort();
  return 0;
}
