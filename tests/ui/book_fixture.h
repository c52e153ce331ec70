#pragma once
// A fresh data directory per test, the raw bytes of the book, file calls that fail on purpose, and
// dialogs that record their message boxes.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

#include "platform/data_directory.h"
#include "platform/dialog_host.h"
#include "ui/address_book_file.h"
#include "ui/book_file_ops.h"

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
inline const QByteArray k5 = recordBytes("10.0.0.5", "9000", "admin");
inline const QByteArray k5New = recordBytes("10.0.0.5", "9100", "admin");
inline const QByteArray k7 = recordBytes("10.0.0.7", "9000", "admin");
inline const QByteArray k9 = recordBytes("10.0.0.9", "80", "guest");

enum class Step { Lock, Read, Create, Mode, Write, Flush, Close, Rename };

// The real calls, with one step failing. The failing write is the second one and writes half its
// bytes first, as a full disk does; the failing read is the second one too (a bad sector past
// record 0). With `crash` set, a failure also skips the cleanup, as if the process had died there.
class FaultyFileOps final : public IBookFileOps {
 public:
  explicit FaultyFileOps(Step failing, bool crash = false) : failing_(failing), crash_(crash) {}
  int lockExclusive(const std::string& path) override {
    return fails(Step::Lock) ? -1 : real().lockExclusive(path);
  }
  int openForReading(const std::string& path, bool& missing) override {
    return real().openForReading(path, missing);
  }
  ssize_t read(int fd, uint8_t* data, size_t size) override {
    if (failing_ == Step::Read && ++reads_ == 2 && fails(Step::Read)) return -1;
    return real().read(fd, data, size);
  }
  int createEmpty(const std::string& path) override {
    return fails(Step::Create) ? -1 : real().createEmpty(path);
  }
  bool copyMode(int fromFd, int toFd) override {
    return !fails(Step::Mode) && real().copyMode(fromFd, toFd);
  }
  bool write(int fd, const uint8_t* data, size_t size) override {
    if (failing_ != Step::Write || ++writes_ != 2) return real().write(fd, data, size);
    real().write(fd, data, size / 2);
    return !fails(Step::Write);
  }
  bool flush(int fd) override { return !fails(Step::Flush) && real().flush(fd); }
  bool close(int fd) override { return real().close(fd) && !fails(Step::Close); }
  bool rename(const std::string& from, const std::string& to) override {
    return !fails(Step::Rename) && real().rename(from, to);
  }
  void remove(const std::string& path) override {
    if (!crashed_) real().remove(path);
  }

 private:
  static IBookFileOps& real() { return realBookFileOps(); }
  bool fails(Step step) {
    if (step == failing_) crashed_ = crash_;
    return step == failing_;
  }
  Step failing_;
  bool crash_;
  bool crashed_ = false;
  int writes_ = 0;
  int reads_ = 0;
};

class BookFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    platform::setDataDirectoryOverride(dir_.path());
  }
  void TearDown() override { platform::setDataDirectoryOverride(QString()); }

  static bool exists(const QString& path) { return QFile::exists(path); }
  static void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }
  static QByteArray book() {
    QFile file(addressbook::bookPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  static void setBook(const QByteArray& bytes) { writeAll(addressbook::bookPath(), bytes); }

  QTemporaryDir dir_;
};

class DialogFixture : public BookFixture {
 protected:
  void SetUp() override {
    BookFixture::SetUp();
    platform::setDialogHost(&host_);
  }
  void TearDown() override {
    platform::setDialogHost(nullptr);
    BookFixture::TearDown();
  }

  // Shows the dialog (which fills it from the book) and waits until it can take keyboard input.
  static void showAndActivate(QWidget& dialog) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  static void typeInto(QLineEdit* edit, const QString& text) {
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  // The texts of the dialog's children of one type, in the order they were made.
  template <typename T>
  static QStringList textsOf(const QWidget& dialog) {
    QStringList texts;
    for (const T* child : dialog.findChildren<T*>()) texts << child->text();
    return texts;
  }
  // Checks that exactly `count` boxes were shown so far, the last one with this text.
  void expectBoxes(size_t count, const QString& lastText) const {
    const auto shown = host_.messages();
    ASSERT_EQ(shown.size(), count);
    if (count == 0) return;
    EXPECT_EQ(shown.back().text, lastText);
    EXPECT_EQ(shown.back().icon, MessageIcon::Information);
  }

  CRecordingDialogHost host_;
};
