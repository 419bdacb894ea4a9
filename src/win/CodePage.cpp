#include "win/CodePage.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>

#include "text/Utf8.h"

namespace siftwell::win {
namespace {

constexpr std::size_t kMaxPiece = INT_MAX / 4;  // room for any expansion of one piece

// The same for text in `codePage`: scans characters from the start of the
// piece, which is a boundary. 0 when the code page cannot be cut safely.
std::size_t CodePageCut(std::string_view bytes, uint32_t codePage, std::size_t limit) {
  if (bytes.size() <= limit) return bytes.size();
  if (codePage == CP_UTF8) return utf8::BoundaryBefore(bytes, limit);
  CPINFO info{};
  if (!GetCPInfo(codePage, &info)) return 0;
  if (info.MaxCharSize == 1) return limit;
  if (info.MaxCharSize != 2) return 0;
  std::size_t i = 0;
  while (i < limit) {
    const std::size_t width = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return i;
}

// The platform's two calls, for one piece that fits an int. False on failure.
bool ToWide(uint32_t codePage, std::string_view piece, std::wstring& out) {
  out.clear();
  if (piece.empty()) return true;
  const int inLength = static_cast<int>(piece.size());
  const int n = MultiByteToWideChar(codePage, 0, piece.data(), inLength, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(codePage, 0, piece.data(), inLength, out.data(), n) == n;
}

// `exact`: no best-fit stand-ins; a character the code page lacks fails.
bool FromWide(uint32_t codePage, std::wstring_view piece, std::string& out, bool exact) {
  out.clear();
  if (piece.empty()) return true;
  const int inLength = static_cast<int>(piece.size());
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : (exact ? WC_NO_BEST_FIT_CHARS : 0);
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 || !exact ? nullptr : &usedDefault;
  const int n = WideCharToMultiByte(codePage, flags, piece.data(), inLength, nullptr, 0, nullptr, used);
  if (n <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(codePage, flags, piece.data(), inLength, out.data(), n, nullptr, used) == n &&
         !usedDefault;
}

bool Append(std::string& out, std::string_view more) {
  try {
    out.append(more);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

}  // namespace

ConversionFailure CodePageToUtf8(std::string_view bytes, uint32_t codePage, std::string& out,
                                 const StopRequested& stop, std::size_t piece) {
  piece = std::clamp<std::size_t>(piece, 2, kMaxPiece);
  std::wstring wide;
  std::string back, utf8;
  while (!bytes.empty()) {
    if (stop && stop()) return ConversionFailure::Stopped;
    const std::size_t cut = CodePageCut(bytes, codePage, piece);
    if (cut == 0) return ConversionFailure::TooLarge;
    const std::string_view part = bytes.substr(0, cut);
    if (!ToWide(codePage, part, wide)) return ConversionFailure::Failed;
    // A byte without a character of its own would come back as another byte.
    if (!FromWide(codePage, wide, back, false)) return ConversionFailure::Failed;
    if (back != part) return ConversionFailure::NotRepresentable;
    if (!FromWide(CP_UTF8, wide, utf8, true)) return ConversionFailure::Failed;
    if (!Append(out, utf8)) return ConversionFailure::Failed;
    bytes.remove_prefix(cut);
  }
  return ConversionFailure::None;
}

ConversionFailure Utf8ToCodePage(std::string_view text, uint32_t codePage, std::string& out,
                                 const StopRequested& stop, std::size_t piece) {
  piece = std::clamp<std::size_t>(piece, 4, kMaxPiece);
  std::wstring wide;
  std::string bytes;
  while (!text.empty()) {
    if (stop && stop()) return ConversionFailure::Stopped;
    const std::size_t cut = utf8::BoundaryBefore(text, piece);
    if (!ToWide(CP_UTF8, text.substr(0, cut), wide)) return ConversionFailure::Failed;
    if (!FromWide(codePage, wide, bytes, true)) {
      // Tell a missing character from a refusal of the platform.
      return Unrepresentable(wide, codePage).empty() ? ConversionFailure::Failed
                                                     : ConversionFailure::NotRepresentable;
    }
    if (!Append(out, bytes)) return ConversionFailure::Failed;
    text.remove_prefix(cut);
  }
  return ConversionFailure::None;
}

bool WideToUtf8(std::wstring_view text, std::string& out) {
  out.clear();
  for (std::size_t at = 0; at < text.size();) {
    std::size_t cut = std::min(text.size() - at, kMaxPiece);
    if (at + cut < text.size() && IS_HIGH_SURROGATE(text[at + cut - 1])) --cut;  // keep a pair together
    std::string part;
    if (!FromWide(CP_UTF8, text.substr(at, cut), part, true)) return false;
    out += part;
    at += cut;
  }
  return true;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out, part;
  while (!text.empty()) {
    const std::size_t cut = utf8::BoundaryBefore(text, kMaxPiece);
    if (!ToWide(CP_UTF8, text.substr(0, cut), part)) break;
    out += part;
    text.remove_prefix(cut);
  }
  return out;
}

std::wstring Unrepresentable(std::wstring_view text, uint32_t codePage) {
  std::wstring missing;
  std::string ignored;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t width = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() ? 2 : 1;
    const std::wstring_view character = text.substr(i, width);
    if (!FromWide(codePage, character, ignored, true) && missing.find(character) == std::wstring::npos)
      missing += character;
    i += width;
  }
  return missing;
}

}  // namespace siftwell::win
