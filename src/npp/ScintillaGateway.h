// ScintillaGateway: IScintillaGateway over one editor view handle.
//
// Conversions. Parameters: int sign-extended; bool 1/0; Position, Colour and KeyModifier by
// their Value; text as UTF-8 bytes plus one zero byte (address 0 for an empty text); Cells
// by the address of their array; TextRange/TextToFind by their NativePointer. Replies: bool
// is true only for exactly 1; Colour from the packed value; text results decoded as UTF-8
// (U+FFFD for invalid bytes) with trailing U+0000 removed.
//
// Buffers the editor writes or reads are never overrun:
//  - Text results: the operation first asks the editor how long its answer is (the same
//    message with lParam 0), then gives it a zeroed buffer of at least 10000 bytes and at
//    least that length plus room for the terminator, so long answers come back whole.
//    GetText and GetCurLine with a length of 0 or less return the empty text without
//    sending; a positive length limits the answer as the editor defines it.
//  - GetTextRange/GetStyledText: when the record's range is reversed or starts before 0, or
//    its text buffer is smaller than what the editor writes for that range (length + 1
//    bytes, or 2 x length + 2 for styled text; cpMax -1 means the document's end for text),
//    nothing is sent, the buffer is left as it was and the result is 0.
//  - Length-and-text messages (AddText, AppendText, ChangeInsertion, CopyText, SetStylingEx,
//    ReplaceTarget, ReplaceTargetRE, SearchInTarget, and AddStyledText with its cells): a
//    length beyond the bytes handed over is lowered to their count; a negative length
//    becomes -1 ("up to the zero byte") for the three target messages with a non-empty
//    text and 0 otherwise.
//  - MarginSetStyles/AnnotationSetStyles: the style bytes are padded with zero bytes to
//    the length of the line's margin or annotation text, which the editor reads.
//  - The RGBA image messages read width x height x 4 bytes as set by RGBAImageSetWidth and
//    RGBAImageSetHeight; the editor offers no way to ask for them, so the caller must hand
//    over that many bytes.
//
// 64-bit builds: int and Position replies that fit 32 bits, signed or unsigned, are taken
// as their low 32 bits (what a 32-bit process receives); a wider reply throws
// std::overflow_error rather than being cut. A Colour reply uses only its low 24 bits; a
// bool reply is true only when the whole reply is 1. Pointer replies are unchanged.
#pragma once

#include <optional>

#include "npp/IScintillaGateway.h"
#include "win/NativeTypes.h"

class ScintillaGateway final : public IScintillaGateway {
 public:
  // Length of a text made of the single character NUL.
  static constexpr int32_t LengthZeroTerminator = 1;
  // Smallest result buffer of a text result.
  static constexpr size_t ResultBufferSize = 10000;

  explicit ScintillaGateway(HWND view) noexcept : scintilla(view) {}

  int32_t GetSelectionLength() final;
  void AppendTextAndMoveCursor(std::u16string_view text) final;
  void InsertTextAndMoveCursor(std::u16string_view text) final;
  void SelectCurrentLine() final;
  void ClearSelectionToCursor() final;
  int32_t GetCurrentLineNumber() final;
  Win32::ScrollInfo GetScrollInfo(Win32::ScrollInfoMask mask, Win32::ScrollInfoBar scrollBar) final;

#include "npp/ScintillaGateway.ops.h"

 private:
  // UTF-8 bytes of a text plus one zero byte, alive for one message; optionally padded with
  // zero bytes to a minimum size. Address 0 for an empty text that needs no padding.
  class Utf8Text {
   public:
    explicit Utf8Text(std::u16string_view text, size_t minimumSize = 0);
    intptr_t Address() const noexcept;
    int32_t ByteCount() const noexcept { return byteCount; }

   private:
    std::string bytes;
    int32_t byteCount;
    bool padded;
  };

  // The cells of AddStyledText with the length that may be read from them.
  class CellsArgument {
   public:
    CellsArgument(const Cells& cells, int32_t length) noexcept;
    intptr_t Address() const noexcept { return address; }
    int32_t Length() const noexcept { return length; }

   private:
    intptr_t address = 0;
    int32_t length = 0;
  };

  intptr_t Send(SciMsg msg, int32_t wParam, int32_t lParam) const;
#if INTPTR_MAX > INT32_MAX
  intptr_t Send(SciMsg msg, int32_t wParam, intptr_t lParam) const;
  intptr_t Send(SciMsg msg, intptr_t wParam, int32_t lParam) const;
  intptr_t Send(SciMsg msg, intptr_t wParam, intptr_t lParam) const;
#endif

  static int32_t ToInt(intptr_t reply);
  static bool ToBool(intptr_t reply) noexcept { return reply == 1; }
  static Colour ToColour(intptr_t reply) noexcept;
  static int32_t ReadableLength(int32_t length, const Utf8Text& text, bool minusOneMeansAll) noexcept;
  static intptr_t CellsAddress(const Cells& cells) noexcept;

  std::u16string TextResult(SciMsg msg, intptr_t wParam, std::optional<int32_t> limit) const;
  intptr_t SendTextRange(SciMsg msg, TextRange& tr, bool styled) const;
  Utf8Text StylesForLineText(SciMsg textMessage, int32_t line, std::u16string_view styles) const;

  HWND scintilla;
};
