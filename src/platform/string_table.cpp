#include "platform/string_table.h"

namespace strings {

QString load(uint32_t id) {
  switch (id) {
    case kAdminLoggedIn:
      return QStringLiteral("A user with their administrator authority has already logged in.");
    case kTooManyUsers:
      return QStringLiteral(
          "Exceeded the maximum number of users who can be logged in. You cannot log in.");
    case kAccountRefused:
      return QStringLiteral("Cannot log on to DVR with current account.");
    case kInvalidPassword:
      // The wording is the DVR product's own, spelling included.
      return QStringLiteral("Invaild password. Please check it again.");
    case kLocalConnecting:
      return QStringLiteral("The dvr of local is connecting already.");
    case kUserInSetup:
      return QStringLiteral("The user has entered the DVR setup.");
    case kSameUserLoggedIn:
      return QStringLiteral("Already logged in with the same user name. Please check it again.");
    case kInvalidDomain:
      return QStringLiteral("Invalid domain address. Unable to convert IP address.");
    default:
      return {};
  }
}

}  // namespace strings
