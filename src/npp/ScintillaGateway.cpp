#include "npp/ScintillaGateway.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "win/TextCodec.h"

namespace {

// Plain signed 32-bit arithmetic that wraps around.
int32_t Add32(int32_t a, int32_t b) noexcept {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t ByteCountOf(std::u16string_view text) {
  const size_t n = siftwell::win::TextCodec::ToUtf8(text).size();
  if (n > static_cast<size_t>(INT32_MAX)) throw std::length_error("text too long for the editor");
  return static_cast<int32_t>(n);
}

}  // namespace

// ---- argument helpers ----------------------------------------------------------

ScintillaGateway::Utf8Text::Utf8Text(std::u16string_view text, size_t minimumSize)
    : bytes(siftwell::win::TextCodec::ToUtf8(text)), byteCount(0), padded(minimumSize > 0) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) throw std::length_error("text too long for the editor");
  byteCount = static_cast<int32_t>(bytes.size());
  if (bytes.size() < minimumSize) bytes.resize(minimumSize, '\0');  // c_str() adds the zero byte
}

intptr_t ScintillaGateway::Utf8Text::Address() const noexcept {
  return byteCount == 0 && !padded ? 0 : reinterpret_cast<intptr_t>(bytes.c_str());
}

ScintillaGateway::CellsArgument::CellsArgument(const Cells& cells, int32_t requested) noexcept {
  const auto& array = cells.Value();
  if (!array || array->empty() || requested <= 0) return;
  const size_t available = array->size() * sizeof(uint16_t);
  address = reinterpret_cast<intptr_t>(array->data());
  length = static_cast<size_t>(requested) > available ? static_cast<int32_t>(std::min<size_t>(available, INT32_MAX))
                                                     : requested;
}

intptr_t ScintillaGateway::CellsAddress(const Cells& cells) noexcept {
  const auto& array = cells.Value();
  return array && !array->empty() ? reinterpret_cast<intptr_t>(array->data()) : 0;
}

int32_t ScintillaGateway::ReadableLength(int32_t length, const Utf8Text& text, bool minusOneMeansAll) noexcept {
  if (length < 0) return minusOneMeansAll && text.ByteCount() > 0 ? -1 : 0;
  return std::min(length, text.ByteCount());
}

// ---- sending and replies -------------------------------------------------------

intptr_t ScintillaGateway::Send(SciMsg msg, int32_t wParam, int32_t lParam) const {
  return Win32::SendMessage(scintilla, msg, wParam, lParam);
}
#if INTPTR_MAX > INT32_MAX
intptr_t ScintillaGateway::Send(SciMsg msg, int32_t wParam, intptr_t lParam) const {
  return Win32::SendMessage(scintilla, msg, wParam, lParam);
}
intptr_t ScintillaGateway::Send(SciMsg msg, intptr_t wParam, int32_t lParam) const {
  return Win32::SendMessage(scintilla, msg, wParam, lParam);
}
intptr_t ScintillaGateway::Send(SciMsg msg, intptr_t wParam, intptr_t lParam) const {
  return Win32::SendMessage(scintilla, msg, wParam, lParam);
}
#endif

int32_t ScintillaGateway::ToInt(intptr_t reply) {
#if INTPTR_MAX > INT32_MAX
  if (reply < INT32_MIN || reply > static_cast<intptr_t>(UINT32_MAX))
    throw std::overflow_error("editor reply does not fit 32 bits");
#endif
  return static_cast<int32_t>(static_cast<uint32_t>(reply));
}

Colour ScintillaGateway::ToColour(intptr_t reply) noexcept {
  return Colour(static_cast<int32_t>(static_cast<uint32_t>(reply)));
}

std::u16string ScintillaGateway::TextResult(SciMsg msg, intptr_t wParam, std::optional<int32_t> limit) const {
  if (limit && *limit <= 0) return {};
  // The editor answers its length when given no buffer; size the buffer for it.
  const intptr_t needed = Send(msg, wParam, int32_t{0});
  size_t size = ResultBufferSize;
  if (needed > 0) {
    size_t want = static_cast<size_t>(needed);
    if (limit) want = std::min(want, static_cast<size_t>(*limit));
    size = std::max(size, want + 2);
  }
  std::vector<char> buffer(size, '\0');
  Send(msg, wParam, reinterpret_cast<intptr_t>(buffer.data()));
  std::u16string text = siftwell::win::TextCodec::FromUtf8(std::string_view(buffer.data(), buffer.size()));
  const size_t end = text.find_last_not_of(u'\0');
  text.resize(end == std::u16string::npos ? 0 : end + 1);
  return text;
}

intptr_t ScintillaGateway::SendTextRange(SciMsg msg, TextRange& tr, bool styled) const {
  const CharacterRange range = tr.chrg();
  int64_t cpMax = range.cpMax;
  if (!styled && cpMax == -1) cpMax = ToInt(Send(SciMsg::SCI_GETLENGTH, int32_t{0}, int32_t{0}));
  const int64_t length = cpMax - range.cpMin;
  const int64_t written = styled ? 2 * length + 2 : length + 1;
  if (range.cpMin < 0 || length < 0 || written > tr.Capacity()) return 0;
  return Send(msg, int32_t{0}, tr.NativePointer());
}

ScintillaGateway::Utf8Text ScintillaGateway::StylesForLineText(SciMsg textMessage, int32_t line,
                                                               std::u16string_view styles) const {
  const intptr_t textLength = Send(textMessage, line, int32_t{0});
  return Utf8Text(styles, textLength > 0 ? static_cast<size_t>(textLength) + 1 : 0);
}

// ---- composite operations ------------------------------------------------------

int32_t ScintillaGateway::GetSelectionLength() {
  const int32_t reply = ToInt(Send(SciMsg::SCI_GETSELTEXT, int32_t{0}, int32_t{0}));
  // Editors of the interface this gateway was made for count the terminating NUL in that
  // reply; later ones (Scintilla 5) do not. SCI_GETTEXT without a buffer follows the same
  // convention, so comparing it with the plain text length tells which one applies.
  const intptr_t textReply = Send(SciMsg::SCI_GETTEXT, int32_t{0}, int32_t{0});
  const intptr_t textLength = Send(SciMsg::SCI_GETTEXTLENGTH, int32_t{0}, int32_t{0});
  const bool countsTerminator = textReply == textLength + 1;
  return countsTerminator ? Add32(reply, -LengthZeroTerminator) : reply;
}

void ScintillaGateway::AppendTextAndMoveCursor(std::u16string_view text) {
  const int32_t n = ByteCountOf(text);
  AppendText(n, text);
  const Position p = GetCurrentPos();
  GotoPos(Position(Add32(p.Value(), n)));
}

void ScintillaGateway::InsertTextAndMoveCursor(std::u16string_view text) {
  const int32_t n = ByteCountOf(text);
  const Position p = GetCurrentPos();
  InsertText(p, text);
  GotoPos(Position(Add32(p.Value(), n)));
}

void ScintillaGateway::SelectCurrentLine() {
  const int32_t line = GetCurrentLineNumber();
  const Position a = PositionFromLine(line);
  const Position b = PositionFromLine(Add32(line, 1));
  SetSelection(a.Value(), b.Value());
}

void ScintillaGateway::ClearSelectionToCursor() {
  const int32_t p = GetCurrentPos().Value();
  SetSelection(p, p);
}

int32_t ScintillaGateway::GetCurrentLineNumber() { return LineFromPosition(GetCurrentPos()); }

Win32::ScrollInfo ScintillaGateway::GetScrollInfo(Win32::ScrollInfoMask mask, Win32::ScrollInfoBar scrollBar) {
  Win32::ScrollInfo info{};
  info.cbSize = sizeof(Win32::ScrollInfo);
  info.fMask = static_cast<uint32_t>(mask);
  Win32::GetScrollInfo(scintilla, scrollBar, info);
  return info;
}
