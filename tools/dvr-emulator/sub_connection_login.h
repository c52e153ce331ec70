#pragma once
#include <memory>

#include "emulator_core.h"

namespace dvremu {

// The login of a live-stream or audio connection: REQ_AUTHLOGIN, the viewer's credentials,
// RSP_AUTHRESULT. True when accepted.
bool loginSubConnection(EmulatorCore& core, WireConnection& connection, ConnectionKind kind,
                        const SessionState& session);

}  // namespace dvremu
