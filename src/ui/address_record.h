#pragma once
// One 70-byte record of the address book: address, port and user ID as fixed-width, NUL-terminated,
// zero-filled 8-bit text (UTF-8). The password has no field: it is never kept in the book.
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

struct AddressRecord {
  std::array<uint8_t, 40> address{};  // offset 0
  std::array<uint8_t, 10> port{};     // offset 40
  std::array<uint8_t, 20> userId{};   // offset 50
};
static_assert(sizeof(AddressRecord) == 70, "the address book's record is exactly 70 bytes");
static_assert(offsetof(AddressRecord, port) == 40 && offsetof(AddressRecord, userId) == 50);

inline constexpr size_t kAddressRecordSize = sizeof(AddressRecord);

// A record as the dialogs see it (UTF-16 text).
struct AddressEntry {
  QString address;
  QString port;
  QString userId;
  bool operator==(const AddressEntry&) const = default;
};

// Zero-fills a record and writes each field with its terminating NUL; a text longer than its field
// (39, 9 and 19 bytes) is cut at a character boundary.
AddressRecord makeAddressRecord(const QString& address, const QString& port, const QString& userId);

// Reads each field up to its first NUL (or its end, for a record that holds no NUL there).
AddressEntry decodeAddressRecord(const AddressRecord& record);

// The address as the book would keep it: cut like makeAddressRecord cuts it.
QString storedAddressForm(const QString& address);
