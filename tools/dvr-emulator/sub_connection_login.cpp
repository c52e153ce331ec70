#include "sub_connection_login.h"

#include "protocol/command_codes.h"
#include "reply_bodies.h"

namespace dvremu {

bool loginSubConnection(EmulatorCore& core, WireConnection& connection, ConnectionKind kind,
                        const SessionState& session) {
  connection.setKind(kind, session.id);
  if (!connection.sendLoginRequest()) return false;
  Credentials credentials;
  if (!awaitLogin(core, connection, &credentials)) return false;
  Account account;
  const auto checked = checkLogin(core, connection, credentials, &account);
  if (!checked) return false;
  uint16_t result = *checked;
  if (auto refusal = core.faults().takeRefusal(kind)) result = *refusal;
  connection.send(RSP_AUTHRESULT, authResultBody(result, result == kStatusOk && account.admin));
  const std::string what = std::string(connectionKindName(kind)) + " connection #" +
                           std::to_string(connection.id()) + " of session " +
                           std::to_string(session.id);
  if (result != kStatusOk) {
    core.stats().loginsRefused.fetch_add(1);
    core.log().info(what + std::string(": login refused with ") + std::to_string(result));
    lingerAfterRefusal(connection);
    return false;
  }
  core.stats().loginsAccepted.fetch_add(1);
  core.log().info(what + " logged in");
  return true;
}

}  // namespace dvremu
