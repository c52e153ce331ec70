#include "platform/user_message.h"

#include <QtGlobal>

#include <atomic>

namespace {
std::atomic<platform::UserMessageHandler> installed{nullptr};
}

namespace platform {

void setUserMessageHandler(UserMessageHandler handler) {
  installed.store(handler);
}

void showUserMessage(const QString& text, MessageIcon icon) {
  const UserMessageHandler handler = installed.load();
  if (handler != nullptr) {
    handler(text, icon);
    return;
  }
  qWarning("%s", qUtf8Printable(text));
}

}  // namespace platform
