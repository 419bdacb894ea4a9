// ScintillaGateway against a real Scintilla view: at least one operation of every
// signature class, chosen for an observable effect, and the composite operations.
#include "GatewayWindows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "npp/ScintillaGateway.h"

static_assert(!std::is_abstract_v<ScintillaGateway>, "every operation of the interface is implemented");

namespace {

class EditorGateway : public ::testing::Test {
 protected:
  ScintillaView view;
  ScintillaGateway gw{view.Handle()};

  std::string Bytes() {
    const auto n = view.Send(M(SciMsg::SCI_GETLENGTH));
    std::string s(static_cast<size_t>(n) + 1, '\0');
    view.Send(M(SciMsg::SCI_GETTEXT), static_cast<WPARAM>(n + 1), reinterpret_cast<LPARAM>(s.data()));
    s.resize(static_cast<size_t>(n));
    return s;
  }
};

}  // namespace

// ---- results: nothing ----------------------------------------------------------

TEST_F(EditorGateway, TextParametersAndNoResult) {
  gw.SetText(u"h\u00e9llo");  // 0, text
  EXPECT_EQ(Bytes(), "h\xC3\xA9llo");
  gw.SetText(u"");  // an empty text travels as 0, which the editor ignores
  EXPECT_EQ(Bytes(), "h\xC3\xA9llo");
  gw.ClearAll();  // 0, 0
  EXPECT_EQ(gw.GetLength(), 0);
  gw.AddText(3, u"abcdef");  // int, text: the caller's length
  EXPECT_EQ(Bytes(), "abc");
  gw.AppendText(50, u"XY");  // a length beyond the text is cut to its bytes
  EXPECT_EQ(Bytes(), "abcXY");
  gw.AddText(-1, u"zz");  // a negative length reads nothing
  EXPECT_EQ(Bytes(), "abcXY");
  gw.InsertText(Position(1), u"--");  // Position, text
  EXPECT_EQ(Bytes(), "a--bcXY");
  gw.DeleteRange(Position(1), 2);  // Position, int
  EXPECT_EQ(Bytes(), "abcXY");
  gw.SetSel(Position(1), Position(3));  // Position, Position
  gw.ReplaceSel(u"!");
  EXPECT_EQ(Bytes(), "a!XY");
  gw.Undo();
  EXPECT_EQ(Bytes(), "abcXY");
}

TEST_F(EditorGateway, SettersWithGettersOfEachClass) {
  gw.SetMarginLeft(7);  // 0, int
  EXPECT_EQ(gw.GetMarginLeft(), 7);
  gw.SetTabWidth(6);  // int, 0
  EXPECT_EQ(gw.GetTabWidth(), 6);
  gw.StyleSetSize(3, 17);  // int, int
  EXPECT_EQ(gw.StyleGetSize(3), 17);  // int, 0 -> int
  gw.StyleSetBold(3, true);  // int, bool
  EXPECT_TRUE(gw.StyleGetBold(3));  // int, 0 -> bool
  gw.StyleSetBold(3, false);
  EXPECT_FALSE(gw.StyleGetBold(3));
  gw.StyleSetFore(3, Colour(0x12, 0x34, 0x56));  // int, Colour
  const Colour fore = gw.StyleGetFore(3);  // int, 0 -> Colour
  EXPECT_EQ(fore.Red, 0x12);
  EXPECT_EQ(fore.Green, 0x34);
  EXPECT_EQ(fore.Blue, 0x56);
  gw.SetCaretFore(Colour(0x102030));  // Colour, 0
  EXPECT_EQ(gw.GetCaretFore().Value(), 0x102030);  // 0, 0 -> Colour
  gw.SetReadOnly(true);  // bool, 0
  EXPECT_TRUE(gw.GetReadOnly());  // 0, 0 -> bool
  gw.SetText(u"x");
  EXPECT_EQ(gw.GetLength(), 0);
  gw.SetReadOnly(false);
  EXPECT_FALSE(gw.GetReadOnly());
}

TEST_F(EditorGateway, PositionsAndSelections) {
  gw.SetText(u"one\ntwo\nthree\nfour\n");
  gw.GotoPos(Position(5));  // Position, 0
  EXPECT_EQ(gw.GetCurrentPos().Value(), 5);  // 0, 0 -> Position
  EXPECT_EQ(gw.LineFromPosition(Position(5)), 1);  // Position, 0 -> int
  EXPECT_EQ(gw.GetCharAt(Position(4)), 't');
  EXPECT_EQ(gw.PositionFromLine(2).Value(), 8);  // int, 0 -> Position
  EXPECT_EQ(gw.PositionAfter(Position(3)).Value(), 4);  // Position, 0 -> Position
  EXPECT_EQ(gw.PositionRelative(Position(0), 6).Value(), 6);  // Position, int -> Position
  EXPECT_EQ(gw.WordEndPosition(Position(8), true), 13);  // Position, bool -> int
  gw.SetSelectionNCaret(0, Position(2));  // int, Position
  EXPECT_EQ(gw.GetSelectionNCaret(0).Value(), 2);
  EXPECT_EQ(gw.SetSelection(9, 11), 0);  // int, int -> int
  EXPECT_EQ(gw.GetSelectionStart().Value(), 9);
  EXPECT_EQ(gw.GetSelectionEnd().Value(), 11);
  EXPECT_EQ(gw.GetSelText(), u"hr");  // 0, buffer -> text
  EXPECT_EQ(gw.LineLength(2), 6);
  EXPECT_EQ(gw.GetLine(3), u"four\n");  // int, buffer -> text
}

TEST_F(EditorGateway, MultiByteCountsAndPointers) {
  gw.SetText(u"a\u00e9\u20acb");  // 1 + 2 + 3 + 1 bytes
  EXPECT_EQ(gw.CountCharacters(0, 7), 4);  // int, int -> int
  const intptr_t chars = gw.GetCharacterPointer();  // 0, 0 -> pointer
  ASSERT_NE(chars, 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(chars), "a\xC3\xA9", 3), 0);
  const intptr_t range = gw.GetRangePointer(6, 1);  // int, int -> pointer
  ASSERT_NE(range, 0);
  EXPECT_EQ(*reinterpret_cast<const char*>(range), 'b');
  const intptr_t doc = gw.GetDocPointer();
  ASSERT_NE(doc, 0);
  gw.AddRefDocument(0);  // 0, int: a null document is not handed on (the editor would crash)
  gw.ReleaseDocument(0);
  view.Send(M(SciMsg::SCI_ADDREFDOCUMENT), 0, doc);
  gw.SetDocPointer(0);  // 0, pointer: a fresh empty document
  EXPECT_EQ(gw.GetLength(), 0);
  gw.SetDocPointer(doc);
  EXPECT_EQ(gw.GetText(100), u"a\u00e9\u20acb");
  view.Send(M(SciMsg::SCI_RELEASEDOCUMENT), 0, doc);
}

TEST_F(EditorGateway, TargetSearchAndReplace) {
  gw.SetText(u"alpha beta gamma");
  gw.SetTargetRange(Position(0), Position(16));
  EXPECT_EQ(gw.SearchInTarget(4, u"beta"), 6);  // int, text -> int
  EXPECT_EQ(gw.GetTargetEnd().Value(), 10);
  EXPECT_EQ(gw.ReplaceTarget(-1, u"BETA!"), 5);  // -1: up to the zero byte
  EXPECT_EQ(Bytes(), "alpha BETA! gamma");
  EXPECT_EQ(gw.GetTargetText(), u"BETA!");
  gw.SetTargetRange(Position(0), Position(5));
  EXPECT_EQ(gw.ReplaceTarget(2, u"xyz"), 2);
  EXPECT_EQ(Bytes(), "xy BETA! gamma");
}

TEST_F(EditorGateway, FindTextWithTextToFind) {
  gw.SetText(u"find the needle in the haystack");
  TextToFind ft(0, 31, u"needle");
  const Position found = gw.FindText(0, ft);  // int, TextToFind -> Position
  EXPECT_EQ(found.Value(), 9);
  EXPECT_EQ(ft.chrgText().cpMin, 9);
  EXPECT_EQ(ft.chrgText().cpMax, 15);
  ft.lpstrText(u"haystack");
  EXPECT_EQ(gw.FindText(0, ft).Value(), 23);
  EXPECT_EQ(ft.chrgText().cpMax, 31);
  TextToFind missing(0, 31, u"absent");
  EXPECT_EQ(gw.FindText(0, missing).Value(), -1);
}

TEST_F(EditorGateway, TextRangeAndStyledText) {
  gw.SetText(u"0123456789");
  TextRange tr(2, 6, 5);  // 4 bytes and a zero byte
  EXPECT_EQ(gw.GetTextRange(tr), 4);  // 0, TextRange -> int
  EXPECT_EQ(tr.lpstrText(), u"2345");
  TextRange whole(0, -1, 11);
  EXPECT_EQ(gw.GetTextRange(whole), 10);
  EXPECT_EQ(whole.lpstrText(), u"0123456789");

  // Styled cells in, styled text out.
  gw.ClearAll();
  auto cells = std::make_shared<Cells::Array>(Cells::Array{0x0341, 0x0042, 0x0543});
  gw.AddStyledText(6, Cells(cells));  // int, Cells
  EXPECT_EQ(Bytes(), "ABC");
  EXPECT_EQ(gw.GetStyleAt(Position(0)), 3);
  EXPECT_EQ(gw.GetStyleAt(Position(2)), 5);
  TextRange styled(0, 3, 8);
  EXPECT_EQ(gw.GetStyledText(styled), 6);
  EXPECT_EQ(styled.lpstrText(), u"A\u0003B");  // ends at the style-0 byte of 'B'
  // Cells shorter than the caller's length: only the cells are read.
  gw.ClearAll();
  gw.AddStyledText(1000, Cells(cells));
  EXPECT_EQ(Bytes(), "ABC");
  gw.AddStyledText(4, Cells(nullptr));
  EXPECT_EQ(Bytes(), "ABC");
}

TEST_F(EditorGateway, ShortTextRangeBuffersAreNeverOverrun) {
  gw.SetText(u"0123456789");
  TextRange small(0, 8, 4);  // the editor would write 9 bytes
  const intptr_t before = small.NativePointer();
  EXPECT_EQ(gw.GetTextRange(small), 0);
  EXPECT_EQ(small.lpstrText(), u"");
  EXPECT_EQ(small.NativePointer(), before);
  TextRange reversed(6, 2, 100);
  EXPECT_EQ(gw.GetTextRange(reversed), 0);
  TextRange wholeTooSmall(0, -1, 10);  // 10 bytes plus the zero byte do not fit
  EXPECT_EQ(gw.GetTextRange(wholeTooSmall), 0);
  TextRange styledSmall(0, 4, 9);  // styled text needs 2 x 4 + 2 bytes
  EXPECT_EQ(gw.GetStyledText(styledSmall), 0);
  TextRange styledFits(0, 4, 10);
  EXPECT_EQ(gw.GetStyledText(styledFits), 8);
}

TEST_F(EditorGateway, KeyBindings) {
  gw.SetText(u"a\nb\nc\nd");
  gw.GotoPos(Position(0));
  gw.AssignCmdKey(KeyModifier(SciMsg::SCK_DOWN, SciMsg::SCMOD_NORM), M(SciMsg::SCI_DOCUMENTEND));  // KeyModifier, int
  view.Send(WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(gw.GetCurrentPos().Value(), 7);
  gw.GotoPos(Position(0));
  gw.ClearCmdKey(KeyModifier(SciMsg::SCK_DOWN, SciMsg::SCMOD_NORM));  // KeyModifier, 0
  view.Send(WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_EQ(gw.GetCurrentPos().Value(), 0);
}

TEST_F(EditorGateway, Properties) {
  // Scintilla 5 keeps properties in the lexer; with none loaded they are not stored.
  gw.SetProperty(u"siftwell.answer", u"42");  // text, text
  EXPECT_EQ(gw.GetProperty(u"siftwell.answer"), u"");  // text, buffer -> text
  EXPECT_EQ(gw.GetPropertyInt(u"siftwell.answer"), 0);  // text, 0 -> int
}

TEST_F(EditorGateway, Representations) {
  gw.SetRepresentation(u"\u00e9", u"E");
  EXPECT_EQ(gw.GetRepresentation(u"\u00e9"), u"E");
  gw.ClearRepresentation(u"\u00e9");  // text, 0
  EXPECT_EQ(gw.GetRepresentation(u"\u00e9"), u"");
}

TEST_F(EditorGateway, CurLineAndFonts) {
  gw.SetText(u"first\nsecond line\nthird");
  gw.GotoPos(Position(8));
  EXPECT_EQ(gw.GetCurLine(100), u"second line\n");  // the reply (caret offset) is dropped
  EXPECT_EQ(gw.GetCurLine(3), u"sec");
  EXPECT_EQ(gw.GetCurLine(0), u"");
  gw.StyleSetFont(4, u"Courier New");  // int, text
  EXPECT_EQ(gw.StyleGetFont(4), u"Courier New");
  EXPECT_EQ(gw.GetText(5), u"first");
  EXPECT_EQ(gw.GetText(-3), u"");
}

TEST_F(EditorGateway, PointsAndPositions) {
  gw.SetText(u"abcdef");
  const int32_t x0 = gw.PointXFromPosition(Position(0));  // 0, Position -> int
  const int32_t x3 = gw.PointXFromPosition(Position(3));
  EXPECT_GT(x3, x0);
  const int32_t y = gw.PointYFromPosition(Position(3));
  EXPECT_EQ(gw.PositionFromPoint(x3 + 1, y + 1).Value(), 3);  // int, int -> Position
}

TEST_F(EditorGateway, AnswersLongerThanTheResultBufferComeBackWhole) {
  std::u16string big(15000, u'x');
  big += u"END";
  gw.SetText(big);
  EXPECT_EQ(gw.GetText(20000), big);
  EXPECT_EQ(gw.GetText(12000), big.substr(0, 12000));
  gw.SelectAll();
  EXPECT_EQ(gw.GetSelText(), big);
  EXPECT_EQ(gw.GetCurLine(1 << 30), big);
  EXPECT_EQ(gw.GetSelectionLength(), 15003);
}

TEST_F(EditorGateway, MarginAndAnnotationStyles) {
  gw.SetText(u"line0\nline1");
  gw.AnnotationSetText(1, u"note");  // int, text
  gw.AnnotationSetStyles(1, u"\u0001\u0002");  // fewer styles than text: padded with style 0
  EXPECT_EQ(gw.AnnotationGetText(1), u"note");
  EXPECT_EQ(gw.AnnotationGetStyles(1), u"\u0001\u0002");  // trailing style-0 bytes dropped
  gw.MarginSetText(0, u"m");
  EXPECT_EQ(gw.MarginGetText(0), u"m");
}

// ---- composites ----------------------------------------------------------------

TEST_F(EditorGateway, SelectionLengthAndCursorComposites) {
  gw.SetText(u"0123456789abcdefghij");  // 20 bytes
  gw.GotoPos(Position(4));
  EXPECT_EQ(gw.GetSelectionLength(), 0);
  gw.SetSel(Position(2), Position(7));
  EXPECT_EQ(gw.GetSelectionLength(), 5);
  gw.ClearSelectionToCursor();
  EXPECT_EQ(gw.GetAnchor().Value(), 7);
  EXPECT_EQ(gw.GetCurrentPos().Value(), 7);

  gw.GotoPos(Position(10));
  gw.AppendTextAndMoveCursor(u"\u00e9");  // two bytes at the end
  EXPECT_EQ(gw.GetLength(), 22);
  EXPECT_EQ(gw.GetCurrentPos().Value(), 12);

  gw.GotoPos(Position(10));
  gw.InsertTextAndMoveCursor(u"\u00e9");
  EXPECT_EQ(gw.GetCurrentPos().Value(), 12);
  EXPECT_EQ(Bytes().substr(10, 2), "\xC3\xA9");
}

TEST_F(EditorGateway, SelectCurrentLine) {
  gw.SetText(u"l0\nl1\nl2\nline three\nl4\n");
  gw.GotoPos(Position(gw.PositionFromLine(3).Value() + 2));
  EXPECT_EQ(gw.GetCurrentLineNumber(), 3);
  gw.SelectCurrentLine();
  EXPECT_EQ(gw.GetCurrentPos().Value(), gw.PositionFromLine(3).Value());
  EXPECT_EQ(gw.GetAnchor().Value(), gw.PositionFromLine(4).Value());
  EXPECT_EQ(gw.GetSelText(), u"line three\n");
}

TEST_F(EditorGateway, ScrollInfoRecord) {
  const Win32::ScrollInfo info = gw.GetScrollInfo(Win32::ScrollInfoMask::SIF_ALL, Win32::ScrollInfoBar::SB_VERT);
  EXPECT_EQ(info.cbSize, 28u);
  EXPECT_EQ(info.fMask, 23u);
  ScintillaGateway nowhere(nullptr);  // the platform call fails: the record comes back all the same
  const Win32::ScrollInfo none = nowhere.GetScrollInfo(Win32::ScrollInfoMask::SIF_POS, Win32::ScrollInfoBar::SB_HORZ);
  EXPECT_EQ(none.cbSize, 28u);
  EXPECT_EQ(none.fMask, 4u);
  EXPECT_EQ(none.nPos, 0);
}

TEST(EditorGatewayNoWindow, EveryResultIsZeroLike) {
  ScintillaGateway gw(nullptr);
  EXPECT_EQ(gw.GetLength(), 0);
  EXPECT_FALSE(gw.GetReadOnly());
  EXPECT_EQ(gw.GetCurrentPos().Value(), 0);
  EXPECT_EQ(gw.StyleGetFore(0).Value(), 0);
  EXPECT_EQ(gw.GetDocPointer(), 0);
  EXPECT_EQ(gw.GetText(100), u"");
  EXPECT_EQ(gw.GetProperty(u"x"), u"");
}
