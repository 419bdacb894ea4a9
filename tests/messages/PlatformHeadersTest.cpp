// The tables and Win32 in one translation unit with windows.h and Scintilla.h, whose
// macros spell many of the same names.
#include <windows.h>
#ifdef SIFTWELL_HAVE_SCINTILLA_H
#include "Scintilla.h"
#endif

#include <gtest/gtest.h>

#include <cstdint>

namespace {
// The platform headers' own values, taken while their macros still exist.
constexpr int64_t kWmUser = WM_USER;
constexpr int64_t kSifAll = SIF_ALL;
constexpr int64_t kSifDisableNoScroll = SIF_DISABLENOSCROLL;
constexpr int64_t kSbVert = SB_VERT;
constexpr int64_t kSbBoth = SB_BOTH;
constexpr int64_t kMaxPath = MAX_PATH;
constexpr int64_t kMfChecked = MF_CHECKED;
constexpr int64_t kWmCreate = WM_CREATE;
#ifdef SIFTWELL_HAVE_SCINTILLA_H
constexpr int64_t kSciGetText = SCI_GETTEXT;
constexpr int64_t kSciStart = SCI_START;
constexpr int64_t kScnFocusOut = SCN_FOCUSOUT;
constexpr int64_t kScModInsertText = SC_MOD_INSERTTEXT;
constexpr int64_t kInvalidPosition = INVALID_POSITION;  // -1 in the C header
#endif
}  // namespace

#include "npp/Tables.h"
#include "npp/Win32.h"

static_assert(Constants::WM_USER == kWmUser);
static_assert(static_cast<int64_t>(Win32::ScrollInfoMask::SIF_ALL) == kSifAll);
static_assert(static_cast<int64_t>(Win32::ScrollInfoMask::SIF_DISABLENOSCROLL) == kSifDisableNoScroll);
static_assert(static_cast<int64_t>(Win32::ScrollInfoBar::SB_VERT) == kSbVert);
static_assert(static_cast<int64_t>(Win32::ScrollInfoBar::SB_BOTH) == kSbBoth);
static_assert(Win32::MAX_PATH == kMaxPath && Win32::MF_CHECKED == kMfChecked && Win32::WM_CREATE == kWmCreate);
#ifdef SIFTWELL_HAVE_SCINTILLA_H
static_assert(static_cast<int64_t>(SciMsg::SCI_GETTEXT) == kSciGetText);
static_assert(static_cast<int64_t>(SciMsg::SCI_START) == kSciStart);
static_assert(static_cast<int64_t>(SciMsg::SCN_FOCUSOUT) == kScnFocusOut);
static_assert(static_cast<int64_t>(SciMsg::SC_MOD_INSERTTEXT) == kScModInsertText);
static_assert(static_cast<int32_t>(SciMsg::INVALID_POSITION) == kInvalidPosition);
#endif

// A platform header included late defines its macros again; including the tables once
// more clears them.
#define SIF_ALL (SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS)
#define SendMessage SendMessageW
#include "npp/Tables.h"
#include "npp/Win32.h"

namespace {

TEST(PlatformHeaders, TableNamesCompileBesideWindowsMacros) {
  EXPECT_EQ(static_cast<int64_t>(Win32::ScrollInfoMask::SIF_ALL), kSifAll);
  EXPECT_EQ(Constants::WM_USER, kWmUser);
  // Win32::SendMessage is the layer's function, not the windows.h macro: a handle that
  // names no window answers 0 and leaves the slot 0.
  int32_t out = 7;
  EXPECT_EQ(Win32::SendMessage(nullptr, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTSCINTILLA), 0,
                               Win32::Out(out)),
            0);
  EXPECT_EQ(out, 0);
}

}  // namespace
