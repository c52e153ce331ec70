#include "protocol/model_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ModelTable, FirstMatchingRuleWins) {
  EXPECT_EQ(lookupModelInfo("XK7P3"), (ModelInfo{16, 48}));
  EXPECT_EQ(lookupModelInfo("9K7P3whatever"), (ModelInfo{16, 48}));
  EXPECT_EQ(lookupModelInfo("AK7P5"), (ModelInfo{16, 24}));
  EXPECT_EQ(lookupModelInfo("AK7P6"), (ModelInfo{16, 12}));
  EXPECT_EQ(lookupModelInfo("AK7P8"), (ModelInfo{16, 10}));
  EXPECT_EQ(lookupModelInfo("AK7N8"), (ModelInfo{16, 0}));
  EXPECT_EQ(lookupModelInfo("ABJ9C"), (ModelInfo{4, 10}));
  EXPECT_EQ(lookupModelInfo("ABJ9A-1"), (ModelInfo{4, 0}));
  EXPECT_EQ(lookupModelInfo("-W2P3"), (ModelInfo{90, 48}));
  EXPECT_EQ(lookupModelInfo("-W2P5"), (ModelInfo{90, 24}));
  EXPECT_EQ(lookupModelInfo("BXF2L3"), (ModelInfo{16, 48}));
  EXPECT_EQ(lookupModelInfo("BXF2L5"), (ModelInfo{16, 24}));
  EXPECT_EQ(lookupModelInfo("BXF2L6x"), (ModelInfo{16, 12}));
  EXPECT_EQ(lookupModelInfo("ZTB2Z6"), (ModelInfo{4, 12}));
}

TEST(ModelTable, ZtRulesCompareFiveCharacters) {
  EXPECT_EQ(lookupModelInfo("ZTD4X"), (ModelInfo{8, 48}));
  EXPECT_EQ(lookupModelInfo("ZTD4X9"), (ModelInfo{8, 48}));
  EXPECT_EQ(lookupModelInfo("ZTD4Y0"), (ModelInfo{8, 24}));
  EXPECT_EQ(lookupModelInfo("ZTD4Z"), (ModelInfo{8, 12}));
  EXPECT_EQ(lookupModelInfo("ZTB2X"), (ModelInfo{4, 48}));
  EXPECT_EQ(lookupModelInfo("ZTB2Y"), (ModelInfo{4, 24}));
}

TEST(ModelTable, EarlierRuleBeatsALaterOneAndShortTextsDontMatch) {
  // t1..t4 = K7P8 wins over the J9x rules and over everything after.
  EXPECT_EQ(lookupModelInfo("XK7P8"), (ModelInfo{16, 10}));
  EXPECT_EQ(lookupModelInfo("BXF2L"), (ModelInfo{0, 0}));  // ends inside rule 10's range
  EXPECT_EQ(lookupModelInfo("XK7P"), (ModelInfo{0, 0}));
  EXPECT_EQ(lookupModelInfo("xk7p3"), (ModelInfo{0, 0}));  // case matters
  EXPECT_EQ(lookupModelInfo(""), (ModelInfo{0, 0}));
  EXPECT_EQ(lookupModelInfo("UNKNOWN-MODEL"), (ModelInfo{0, 0}));
  EXPECT_EQ(lookupModelInfo(std::string("XK7\0P3", 6)), (ModelInfo{0, 0}));  // NUL ends the text
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
