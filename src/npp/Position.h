// A document position of the editor component, as an immutable value.
//
// Absence: where a position may be missing, the type is std::optional<Position>.
// std::optional's own comparison gives exactly the equality rules positions need
// (two absent positions are equal, an absent one equals no position). Arithmetic,
// ordering, Min and Max take present positions only; with an optional the caller
// has to unwrap it first, so an absent operand cannot reach them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

class Position {
 public:
  explicit constexpr Position(int32_t value) noexcept : pos(value) {}

  constexpr int32_t Value() const noexcept { return pos; }

  // 32-bit two's-complement arithmetic that wraps around.
  friend constexpr Position operator+(const Position& a, const Position& b) noexcept {
    return Position(static_cast<int32_t>(static_cast<uint32_t>(a.pos) + static_cast<uint32_t>(b.pos)));
  }
  friend constexpr Position operator-(const Position& a, const Position& b) noexcept {
    return Position(static_cast<int32_t>(static_cast<uint32_t>(a.pos) - static_cast<uint32_t>(b.pos)));
  }

  friend constexpr bool operator==(const Position& a, const Position& b) noexcept { return a.pos == b.pos; }
  // Strict orderings only: positions have no <= or >=.
  friend constexpr bool operator<(const Position& a, const Position& b) noexcept { return a.pos < b.pos; }
  friend constexpr bool operator>(const Position& a, const Position& b) noexcept { return a.pos > b.pos; }

  // On a tie both return the second argument itself.
  static constexpr const Position& Min(const Position& a, const Position& b) noexcept { return a < b ? a : b; }
  static constexpr const Position& Max(const Position& a, const Position& b) noexcept { return a > b ? a : b; }

  // The text form keeps its historical spelling.
  std::string ToString() const { return "Postion: " + std::to_string(pos); }

  constexpr bool Equals(const Position& other) const noexcept { return this == &other || pos == other.pos; }
  constexpr bool Equals(const std::optional<Position>& other) const noexcept {
    return other.has_value() && Equals(*other);
  }
  constexpr bool Equals(const Position* other) const noexcept { return other != nullptr && Equals(*other); }
  // Equality with a value of any other type is false.
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, Position> &&
             !std::is_same_v<std::remove_cvref_t<T>, std::optional<Position>> &&
             !std::is_convertible_v<T, const Position*>)
  constexpr bool Equals(const T&) const noexcept {
    return false;
  }

  constexpr int32_t GetHashCode() const noexcept { return pos; }

 private:
  int32_t pos;
};

template <>
struct std::hash<Position> {
  size_t operator()(const Position& p) const noexcept { return static_cast<size_t>(p.GetHashCode()); }
};
