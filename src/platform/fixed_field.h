#pragma once
// Fixed-width 8-bit text fields (wire bodies and the address-book file). Text is UTF-8; a field
// is zero-filled first and the text is cut at a character boundary, so nothing is ever written
// past the field and no character is split.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum class FieldEnd {
  Nul,      // at least one NUL stays at the end: at most width - 1 text bytes
  NoSpace,  // the text may fill the whole field (NUL-padded when shorter)
};

// Writes text into field; returns the number of text bytes written.
size_t writeFixedField(std::span<uint8_t> field, std::string_view utf8,
                       FieldEnd end = FieldEnd::Nul);
size_t writeFixedField(std::span<uint8_t> field, const QString& text, FieldEnd end = FieldEnd::Nul);

// Reads a field up to its first NUL or its end, whichever comes first.
std::string readFixedFieldBytes(std::span<const uint8_t> field);
QString readFixedField(std::span<const uint8_t> field);

// Length of the longest prefix of utf8 that has at most maxBytes bytes and ends on a character
// boundary (an invalid lead byte counts as a character of its own).
size_t utf8PrefixLength(std::string_view utf8, size_t maxBytes);
