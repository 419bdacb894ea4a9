// An RGB colour in the editor component's packed format (red in bits 0-7,
// green 8-15, blue 16-23). Immutable; no equality of its own.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// An argument outside its permitted range: carries the argument's name and a message.
class ArgumentOutOfRangeError : public std::out_of_range {
 public:
  ArgumentOutOfRangeError(std::string name, std::string text)
      : std::out_of_range(text + " (parameter '" + name + "')"), paramName(std::move(name)), message(std::move(text)) {}
  const std::string& ParamName() const noexcept { return paramName; }
  const std::string& Message() const noexcept { return message; }

 private:
  std::string paramName;
  std::string message;
};

class Colour {
 public:
  const int32_t Red;
  const int32_t Green;
  const int32_t Blue;

  // From a packed value; bits 24-31 are ignored.
  explicit constexpr Colour(int32_t rgb) noexcept
      : Red(rgb & 0xFF), Green((rgb >> 8) & 0xFF), Blue((rgb >> 16) & 0xFF) {}

  // Each component must lie in 0..255; the first one outside names itself in the error.
  Colour(int32_t red, int32_t green, int32_t blue)
      : Red(Checked(red, "red")), Green(Checked(green, "green")), Blue(Checked(blue, "blue")) {}

  constexpr int32_t Value() const noexcept { return Red + (Green << 8) + (Blue << 16); }

 private:
  static int32_t Checked(int32_t component, const char* name) {
    if (component < 0 || component > 255) throw ArgumentOutOfRangeError(name, "must be 0-255");
    return component;
  }
};
