#include "platform/message_filter.h"

#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> events;

class LoggingButton final : public QPushButton {
 public:
  using QPushButton::QPushButton;

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    events.push_back("control down");
    QPushButton::mousePressEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    events.push_back("control up");
    QPushButton::mouseReleaseEvent(e);
  }
};

class LoggingFilter final : public CMessageFilter {
 public:
  bool swallowKeys = true;
  QObject* lastTarget = nullptr;
  bool preTranslateMessage(const InputMessage& message) override {
    lastTarget = message.target;
    switch (message.kind) {
      case InputMessage::Kind::PenDown:
        events.push_back("filter down");
        return false;
      case InputMessage::Kind::PenUp:
        events.push_back("filter up");
        return false;
      case InputMessage::Kind::KeyDown:
        events.push_back("key " + std::to_string(message.key));
        return swallowKeys && (message.key == 27 || message.key == 13);
    }
    return false;
  }
};

TEST(MessageFilter, SeesPenDownAndUpOnceBeforeTheControl) {
  events.clear();
  QWidget window;
  LoggingButton button("press", &window);
  window.show();
  LoggingFilter filter;
  platform::setMessageFilter(&filter);
  QTest::mousePress(&button, Qt::LeftButton);
  QTest::mouseRelease(&button, Qt::LeftButton);
  QTest::mousePress(&button, Qt::LeftButton);  // a second press is not taken for a repeat
  QTest::mouseRelease(&button, Qt::LeftButton);
  platform::setMessageFilter(nullptr);
  EXPECT_EQ(events,
            (std::vector<std::string>{"filter down", "control down", "filter up", "control up",
                                      "filter down", "control down", "filter up", "control up"}));
  EXPECT_EQ(filter.lastTarget, &button);
}

TEST(MessageFilter, SwallowedKeysNeverReachTheWidget) {
  events.clear();
  QWidget window;
  bool clicked = false;
  QPushButton button("ok", &window);
  QObject::connect(&button, &QPushButton::clicked, [&] { clicked = true; });
  window.show();
  button.setFocus();
  LoggingFilter filter;
  platform::setMessageFilter(&filter);
  QTest::keyClick(&button, Qt::Key_Return);
  QTest::keyClick(&button, Qt::Key_Escape);
  QTest::keyClick(&button, Qt::Key_Space);  // not swallowed: the button reacts
  platform::setMessageFilter(nullptr);
  EXPECT_EQ(events,
            (std::vector<std::string>{"key 13", "key 27", "key " + std::to_string(Qt::Key_Space)}));
  EXPECT_TRUE(clicked);
}

}  // namespace
