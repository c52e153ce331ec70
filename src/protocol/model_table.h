#pragma once
// The DVR model table: turns the model identifier of RSP_INFOPRODUCTINFO into the pair of values
// stored with the connection. (0, 0) means an unknown model.
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/connection_state.h"

// identifier: the text as it stands, ending at its first NUL or at the end of the view.
ModelInfo lookupModelInfo(std::string_view identifier);

// The identifier field of an RSP_INFOPRODUCTINFO body (from offset 10 to the body's end).
ModelInfo lookupModelInfo(std::span<const uint8_t> identifierField);

// Offset of the identifier in the RSP_INFOPRODUCTINFO body.
inline constexpr size_t kModelIdentifierOffset = 10;
