#pragma once
// A fresh data directory per test and helpers that work on the raw bytes of the book.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

#include "platform/data_directory.h"
#include "ui/address_book_file.h"

// 70 bytes of one record, built by hand: each field zero-padded at its offset.
inline QByteArray recordBytes(const std::string& address, const std::string& port,
                              const std::string& userId) {
  QByteArray bytes(70, '\0');
  const auto put = [&bytes](qsizetype offset, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) bytes[offset + static_cast<qsizetype>(i)] = text[i];
  };
  put(0, address);
  put(40, port);
  put(50, userId);
  return bytes;
}

class BookFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    platform::setDataDirectoryOverride(dir_.path());
  }
  void TearDown() override { platform::setDataDirectoryOverride(QString()); }

  static QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static bool exists(const QString& path) { return QFile::exists(path); }
  static void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  QByteArray book() const { return readAll(addressbook::bookPath()); }
  void setBook(const QByteArray& bytes) const { writeAll(addressbook::bookPath(), bytes); }

  QTemporaryDir dir_;
};
