#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_set>

#include "npp/Cells.h"
#include "npp/CharacterRange.h"
#include "npp/Colour.h"
#include "npp/KeyModifier.h"
#include "npp/Position.h"
#include "npp/ScNotification.h"

TEST(Position, EqualValuesAreEqualEverywhere) {
  const Position a(5), b(5), c(6);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  EXPECT_TRUE(a.Equals(b));
  EXPECT_TRUE(a.Equals(std::optional<Position>(b)));
  EXPECT_EQ(a.GetHashCode(), 5);
  EXPECT_EQ(std::hash<Position>{}(a), std::hash<Position>{}(b));
  EXPECT_TRUE(a != c);
  EXPECT_FALSE(a.Equals(c));
  std::unordered_set<Position> set{a, b, c};
  EXPECT_EQ(set.size(), 2u);
}

TEST(Position, AbsentPositions) {
  const std::optional<Position> none1, none2;
  const std::optional<Position> zero = Position(0);
  EXPECT_TRUE(none1 == none2);
  EXPECT_FALSE(none1 == zero);
  EXPECT_FALSE(zero == none1);
  EXPECT_TRUE(zero != none1);
  EXPECT_FALSE(Position(0).Equals(none1));
  EXPECT_FALSE(Position(0).Equals(std::nullopt));
  EXPECT_FALSE(Position(0).Equals(static_cast<const Position*>(nullptr)));
  EXPECT_FALSE(Position(0).Equals(nullptr));
}

TEST(Position, EqualsWithAnotherTypeIsFalse) {
  EXPECT_FALSE(Position(5).Equals(5));
  EXPECT_FALSE(Position(5).Equals(std::string("5")));
  EXPECT_FALSE(Position(5).Equals(CharacterRange(5, 5)));
}

TEST(Position, MinMaxReturnTheSecondOnATie) {
  const Position p(3), q(3), r(4);
  EXPECT_EQ(&Position::Min(p, q), &q);
  EXPECT_EQ(&Position::Max(p, q), &q);
  EXPECT_EQ(&Position::Min(p, r), &p);
  EXPECT_EQ(&Position::Max(p, r), &r);
  EXPECT_EQ(&Position::Min(r, p), &p);
  EXPECT_TRUE(p < r);
  EXPECT_TRUE(r > p);
  EXPECT_FALSE(p < q);
  EXPECT_FALSE(p > q);
  EXPECT_TRUE(Position(-1) < Position(0));  // signed ordering
}

TEST(Position, ArithmeticWrapsAround) {
  EXPECT_EQ((Position(INT32_MAX) + Position(1)).Value(), INT32_MIN);
  EXPECT_EQ((Position(INT32_MIN) - Position(1)).Value(), INT32_MAX);
  EXPECT_EQ((Position(7) - Position(10)).Value(), -3);
  EXPECT_EQ((Position(7) + Position(10)).Value(), 17);
}

TEST(Position, TextForm) {
  EXPECT_EQ(Position(-1).ToString(), "Postion: -1");
  EXPECT_EQ(Position(0).ToString(), "Postion: 0");
  EXPECT_EQ(Position(INT32_MIN).ToString(), "Postion: -2147483648");
}

TEST(Colour, FromPackedValue) {
  // packed, red, green, blue, value: the high byte is dropped.
  const int32_t rows[][5] = {{0x123456, 0x56, 0x34, 0x12, 0x123456},
                             {static_cast<int32_t>(0xAB123456u), 0x56, 0x34, 0x12, 0x123456},
                             {-1, 255, 255, 255, 0x00FFFFFF}};
  for (const auto& row : rows) {
    const Colour c(row[0]);
    EXPECT_EQ(c.Red, row[1]) << row[0];
    EXPECT_EQ(c.Green, row[2]) << row[0];
    EXPECT_EQ(c.Blue, row[3]) << row[0];
    EXPECT_EQ(c.Value(), row[4]) << row[0];
  }
}

TEST(Colour, ComponentsAreChecked) {
  EXPECT_EQ(Colour(0, 0, 0).Value(), 0);
  EXPECT_EQ(Colour(255, 255, 255).Value(), 0xFFFFFF);
  EXPECT_EQ(Colour(1, 2, 3).Value(), 1 + 2 * 256 + 3 * 65536);
  auto failingArgument = [](int32_t r, int32_t g, int32_t b) -> std::string {
    try {
      Colour(r, g, b);
    } catch (const ArgumentOutOfRangeError& e) {
      EXPECT_EQ(e.Message(), "must be 0-255");
      EXPECT_NE(std::string(e.what()).find("must be 0-255"), std::string::npos);
      return e.ParamName();
    }
    return "none";
  };
  EXPECT_EQ(failingArgument(256, -1, 300), "red");
  EXPECT_EQ(failingArgument(0, 0, -1), "blue");
  EXPECT_EQ(failingArgument(0, 256, 0), "green");
  EXPECT_THROW(Colour(-1, 0, 0), std::out_of_range);
}

TEST(KeyModifier, PacksKeyAndModifier) {
  EXPECT_EQ(KeyModifier(SciMsg::SCK_DOWN, SciMsg::SCMOD_CTRL).Value(), 300 + (2 << 16));
  EXPECT_EQ(KeyModifier(static_cast<SciMsg>('A'), SciMsg::SCMOD_NORM).Value(), 'A');
  EXPECT_EQ(KeyModifier(SciMsg::SCK_END, static_cast<SciMsg>(2u | 1u)).Value(), 305 + (3 << 16));
}

TEST(CharacterRange, NativeLayoutAndNoValidation) {
  const CharacterRange zero;
  EXPECT_EQ(zero.cpMin, 0);
  EXPECT_EQ(zero.cpMax, 0);
  CharacterRange r(9, 2);  // reversed range kept as given
  EXPECT_EQ(r.cpMin, 9);
  EXPECT_EQ(r.cpMax, 2);
  CharacterRange copy = r;
  copy.cpMax = 20;
  EXPECT_EQ(r.cpMax, 2);
  EXPECT_EQ(copy.cpMax, 20);
  int32_t raw[2];
  std::memcpy(raw, &r, sizeof raw);
  EXPECT_EQ(raw[0], 9);
  EXPECT_EQ(raw[1], 2);
}

TEST(Cells, SharesTheCallersArray) {
  auto array = std::make_shared<Cells::Array>(Cells::Array{0x0141, 0x0242});
  const Cells cells(array);
  EXPECT_EQ(cells.Value().get(), array.get());
  (*array)[0] = 0x0543;
  EXPECT_EQ((*cells.Value())[0], 0x0543);
  // Memory order on little-endian targets: character, style.
  unsigned char bytes[4];
  std::memcpy(bytes, cells.Value()->data(), 4);
  EXPECT_EQ(bytes[0], 0x43);
  EXPECT_EQ(bytes[1], 0x05);
  EXPECT_EQ(bytes[2], 0x42);
  EXPECT_EQ(bytes[3], 0x02);
  EXPECT_EQ(Cells(nullptr).Value(), nullptr);
}

TEST(ScNotification, Accessors) {
  // Fill the record the way the host does: raw bytes in the native layout.
  unsigned char raw[sizeof(ScNotification)] = {};
  const int32_t position = -1;
  const int32_t character = 0x12345678;
  std::memcpy(raw + offsetof(ScNotification, position), &position, 4);
  std::memcpy(raw + offsetof(ScNotification, character), &character, 4);
  const uint32_t code = 1002;
  std::memcpy(raw + offsetof(ScNotification, Header) + offsetof(ScNotificationHeader, Code), &code, 4);
  ScNotification n;
  std::memcpy(&n, raw, sizeof n);
  EXPECT_EQ(n.Position().Value(), -1);
  EXPECT_EQ(n.Character(), static_cast<char16_t>(0x5678));
  EXPECT_EQ(n.Header.Code, 1002u);
}
