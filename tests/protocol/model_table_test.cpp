#include "protocol/model_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ModelTable, FirstMatchingRuleWins) {
  const std::pair<ModelInfo, std::vector<std::string>> cases[]{
      {{16, 48}, {"XK7P3", "9K7P3whatever", "BXF2L3"}},
      {{16, 24}, {"AK7P5", "BXF2L5"}},
      {{16, 12}, {"AK7P6", "BXF2L6x"}},
      {{16, 10}, {"AK7P8", "XK7P8"}},  // K7P8 wins over the J9x rules and everything after
      {{16, 0}, {"AK7N8"}},
      {{4, 10}, {"ABJ9C"}},
      {{4, 0}, {"ABJ9A-1"}},
      {{90, 48}, {"-W2P3"}},
      {{90, 24}, {"-W2P5"}},
      {{8, 48}, {"ZTD4X", "ZTD4X9"}},  // the ZT rules compare five characters
      {{8, 24}, {"ZTD4Y0"}},
      {{8, 12}, {"ZTD4Z"}},
      {{4, 48}, {"ZTB2X"}},
      {{4, 24}, {"ZTB2Y"}},
      {{4, 12}, {"ZTB2Z6"}},
      // Short texts, other cases and unknown models don't match; a NUL ends the text.
      {{0, 0}, {"BXF2L", "XK7P", "xk7p3", "", "UNKNOWN-MODEL", std::string("XK7\0P3", 6)}},
  };
  for (const auto& [info, ids] : cases)
    for (const auto& id : ids) EXPECT_EQ(lookupModelInfo(id), info) << id;
}

TEST(ModelTable, ReadsTheFieldOfAProductInfoBody) {
  std::vector<uint8_t> body(50, 0);
  const std::string id = "AK7P5";
  std::copy(id.begin(), id.end(), body.begin() + kModelIdentifierOffset);
  EXPECT_EQ(lookupModelInfo(std::span<const uint8_t>(body).subspan(kModelIdentifierOffset)),
            (ModelInfo{16, 24}));
  // A field without NUL ends with the body.
  std::vector<uint8_t> full(40, 'Z');
  EXPECT_EQ(lookupModelInfo(std::span<const uint8_t>(full)), (ModelInfo{0, 0}));
}

}  // namespace
