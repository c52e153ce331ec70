#pragma once
// Dialog tests: a fresh book directory and a dialog host that records message boxes.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "book_fixture.h"
#include "platform/dialog_host.h"

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

  std::vector<QString> messageTexts() const {
    std::vector<QString> texts;
    for (const auto& shown : host_.messages()) texts.push_back(shown.text);
    return texts;
  }

  CRecordingDialogHost host_;
};
