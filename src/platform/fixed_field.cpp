#include "platform/fixed_field.h"

#include <algorithm>
#include <cstring>

size_t utf8PrefixLength(std::string_view utf8, size_t maxBytes) {
  if (utf8.size() <= maxBytes) return utf8.size();
  size_t cut = maxBytes;
  // Step back over continuation bytes (10xxxxxx) to the start of the character that is cut.
  while (cut > 0 && (static_cast<uint8_t>(utf8[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

size_t writeFixedField(std::span<uint8_t> field, std::string_view utf8, FieldEnd end) {
  if (field.empty()) return 0;
  std::fill(field.begin(), field.end(), uint8_t{0});
  const size_t room = end == FieldEnd::Nul ? field.size() - 1 : field.size();
  // A NUL inside the text would end the field early; keep only what comes before it.
  utf8 = utf8.substr(0, std::min(utf8.find('\0'), utf8.size()));
  const size_t length = utf8PrefixLength(utf8, room);
  std::memcpy(field.data(), utf8.data(), length);
  return length;
}

size_t writeFixedField(std::span<uint8_t> field, const QString& text, FieldEnd end) {
  const QByteArray utf8 = text.toUtf8();
  return writeFixedField(field,
                         std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())), end);
}

std::string readFixedFieldBytes(std::span<const uint8_t> field) {
  const auto nul = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), nul);
}

QString readFixedField(std::span<const uint8_t> field) {
  const std::string bytes = readFixedFieldBytes(field);
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
