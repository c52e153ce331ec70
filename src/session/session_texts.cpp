#include "session/session_texts.h"

#include "platform/string_table.h"

namespace session_text {

std::string format(std::string_view pattern, std::string_view name) {
  std::string text(pattern);
  const size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, name);
  return text;
}

std::string errorText(std::string_view replyName) {
  return "Error : " + std::string(replyName);
}

std::string loginRefusal(int16_t status) {
  switch (status) {
    case 2:
      return strings::load(strings::kSameUserLoggedIn).toStdString();
    case 2049:
      return strings::load(strings::kAdminLoggedIn).toStdString();
    case 2050:
      return strings::load(strings::kTooManyUsers).toStdString();
    case 2051:
      return strings::load(strings::kAccountRefused).toStdString();
    case 2052:
      return strings::load(strings::kInvalidPassword).toStdString();
    case 2053:
      return {};
    case 2054:
      return strings::load(strings::kLocalConnecting).toStdString();
    case 2055:
      return strings::load(strings::kUserInSetup).toStdString();
    default:
      return "Auth Error";
  }
}

}  // namespace session_text
