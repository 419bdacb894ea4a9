// The system's active ANSI code page through the platform's conversions.
#include <windows.h>

#include <climits>
#include <stdexcept>

#include "win/TextCodec.h"

namespace siftwell::win::TextCodec {

namespace {
int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long for the ANSI code page conversion");
  return static_cast<int>(size);
}
}  // namespace

std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int length = CheckedLength(text.size());
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, length, out.data(), needed, nullptr, nullptr);
  return out;
}

std::u16string FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = CheckedLength(bytes.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

}  // namespace siftwell::win::TextCodec
