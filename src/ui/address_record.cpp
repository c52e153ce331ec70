#include "ui/address_record.h"

#include "platform/fixed_field.h"

AddressRecord makeAddressRecord(const QString& address, const QString& port,
                                const QString& userId) {
  AddressRecord record;
  writeFixedField(record.address, address, FieldEnd::Nul);
  writeFixedField(record.port, port, FieldEnd::Nul);
  writeFixedField(record.userId, userId, FieldEnd::Nul);
  return record;
}

AddressEntry decodeAddressRecord(const AddressRecord& record) {
  return {readFixedField(record.address), readFixedField(record.port),
          readFixedField(record.userId)};
}

QString storedAddressForm(const QString& address) {
  std::array<uint8_t, 40> field{};
  writeFixedField(field, address, FieldEnd::Nul);
  return readFixedField(field);
}
