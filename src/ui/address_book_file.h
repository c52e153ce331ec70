#pragma once
// The address book file: record 0 is the last-used connection, records 1..n the known addresses in
// the order they were first stored. Every update writes the new book to the temporary file, makes
// it durable and renames it over the book, so the old book survives any failure or crash.
//
// Several viewers may share one data directory: an update holds the writers' lock file from
// reading the old book to renaming the new one, so updates never share the temporary file and
// none is lost. Readers need no lock; they see the old book or the new one, never a mix. The lock
// and temporary files live beside the book's real file: when the book is a symbolic link, its
// target is rewritten (keeping its permission bits) and the link stays.
//
// UI thread only (the dialogs call these from their handlers).
#include <QString>

#include <cstddef>
#include <optional>
#include <vector>

#include "ui/address_record.h"
#include "ui/book_file_ops.h"

namespace addressbook {

inline constexpr char kBookFileName[] = "PelloxView.pvx";
inline constexpr char kTempFileName[] = "PelloxView.tmp";
inline constexpr char kLockFileName[] = "PelloxView.lock";
// loadEntries stops here, so a huge or foreign file can't exhaust memory; updates still copy
// every record.
inline constexpr size_t kMaxLoadedRecords = 10000;

// Full paths in the data directory.
QString bookPath();
QString tempPath();
QString lockPath();

// The records in file order; empty when the book is missing or can't be opened, only those before
// a read error when one occurs. A trailing partial record is ignored.
std::vector<AddressEntry> loadEntries();

// The first record, counting from record 0, whose address equals the given one exactly.
std::optional<AddressEntry> findEntry(const QString& address);

// Makes the entry the last-used one (record 0) and appends its address to the list when it isn't
// listed yet; a listed entry keeps its old port and user ID. A missing book counts as empty.
// False when the book was left as it was: the lock couldn't be had, the book exists but can't be
// read to its end, or a write step failed.
bool storeEntry(const QString& address, const QString& port, const QString& userId,
                IBookFileOps& ops = realBookFileOps());

// Removes every record with the address. When the last-used entry goes, the first remaining record
// is written twice and becomes the new last-used entry. False when the book is missing, the lock
// couldn't be had, the book can't be read to its end, or a write step failed; the book is then
// unchanged.
bool removeEntry(const QString& address, IBookFileOps& ops = realBookFileOps());

}  // namespace addressbook
