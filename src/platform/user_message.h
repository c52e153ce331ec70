#pragma once
// A message for the user (a box in a windowed program), reachable from code that knows no
// windows. The window layer installs the handler that shows it; without one it is logged.
#include <QString>

enum class MessageIcon { Information, Exclamation };

namespace platform {

using UserMessageHandler = void (*)(const QString& text, MessageIcon icon);

// Any thread. nullptr removes the handler.
void setUserMessageHandler(UserMessageHandler handler);

// Any thread: hands the text to the installed handler, or logs it when there is none.
void showUserMessage(const QString& text, MessageIcon icon = MessageIcon::Information);

}  // namespace platform
