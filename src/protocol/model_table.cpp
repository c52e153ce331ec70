#include "protocol/model_table.h"

#include <algorithm>
#include <array>

namespace {

struct ModelRule {
  size_t firstChar;  // index of the first compared character
  size_t count;      // characters compared
  std::string_view code;
  ModelInfo result;
};

// Tried in order; the first match wins. The ZT rules compare only five of their six characters.
constexpr std::array<ModelRule, 18> kRules{{
    {1, 4, "K7P3", {16, 48}},
    {1, 4, "K7P5", {16, 24}},
    {1, 4, "K7P6", {16, 12}},
    {1, 4, "K7P8", {16, 10}},
    {1, 4, "K7N8", {16, 0}},
    {2, 3, "J9C", {4, 10}},
    {2, 3, "J9A", {4, 0}},
    {1, 4, "W2P3", {90, 48}},
    {1, 4, "W2P5", {90, 24}},
    {0, 6, "BXF2L3", {16, 48}},
    {0, 6, "BXF2L5", {16, 24}},
    {0, 6, "BXF2L6", {16, 12}},
    {0, 5, "ZTD4X3", {8, 48}},
    {0, 5, "ZTD4Y5", {8, 24}},
    {0, 5, "ZTD4Z6", {8, 12}},
    {0, 5, "ZTB2X3", {4, 48}},
    {0, 5, "ZTB2Y5", {4, 24}},
    {0, 5, "ZTB2Z6", {4, 12}},
}};

}  // namespace

ModelInfo lookupModelInfo(std::string_view identifier) {
  identifier = identifier.substr(0, std::min(identifier.find('\0'), identifier.size()));
  for (const ModelRule& rule : kRules) {
    if (identifier.size() < rule.firstChar + rule.count) continue;  // ends inside the range
    if (identifier.substr(rule.firstChar, rule.count) == rule.code.substr(0, rule.count))
      return rule.result;
  }
  return ModelInfo{};
}

ModelInfo lookupModelInfo(std::span<const uint8_t> identifierField) {
  return lookupModelInfo(std::string_view(reinterpret_cast<const char*>(identifierField.data()),
                                          identifierField.size()));
}
