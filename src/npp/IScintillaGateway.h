// A typed interface over one view of the Scintilla editor component: seven composite
// operations, then one operation per editor message in the order of the editor's
// published interface (generated from data/gateway_ops.tsv).
//
// windows.h (through commdlg.h) defines FindText as a macro: include windows.h, if at all,
// before this header, which removes it. Including this header again restores that.
#undef FindText

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "npp/Cells.h"
#include "npp/CharacterRange.h"
#include "npp/Colour.h"
#include "npp/KeyModifier.h"
#include "npp/Position.h"
#include "npp/TextRecords.h"
#include "npp/Win32.h"

class IScintillaGateway {
 public:
  virtual ~IScintillaGateway() = default;

  // Composite operations.
  virtual int32_t GetSelectionLength() = 0;
  virtual void AppendTextAndMoveCursor(std::u16string_view text) = 0;
  virtual void InsertTextAndMoveCursor(std::u16string_view text) = 0;
  virtual void SelectCurrentLine() = 0;
  virtual void ClearSelectionToCursor() = 0;
  virtual int32_t GetCurrentLineNumber() = 0;
  virtual Win32::ScrollInfo GetScrollInfo(Win32::ScrollInfoMask mask, Win32::ScrollInfoBar scrollBar) = 0;

#include "npp/IScintillaGateway.ops.h"
};
