// Keep and Remove against a real Scintilla view.
#include "filter/EditorFilter.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "messages/Tables.h"
#include "messages/Win32.h"

extern "C" int Scintilla_RegisterClasses(void* hInstance);

namespace {

using siftwell::filter::Operation;
using siftwell::filter::RunOnView;

class EditorFilter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Scintilla_RegisterClasses(GetModuleHandleW(nullptr)); }

  void SetUp() override {
    view_ = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 400, 300, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(view_, nullptr);
  }
  void TearDown() override { DestroyWindow(view_); }

  intptr_t Send(SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
    return SendMessageW(view_, static_cast<UINT>(msg), static_cast<WPARAM>(wParam), lParam);
  }
  // Sets the document to exactly these bytes, then forgets the undo history.
  void Load(const std::string& bytes) {
    Send(SciMsg::SCI_CLEARALL);
    Send(SciMsg::SCI_APPENDTEXT, static_cast<intptr_t>(bytes.size()), reinterpret_cast<intptr_t>(bytes.data()));
    Send(SciMsg::SCI_EMPTYUNDOBUFFER);
  }
  std::string Document() { return siftwell::filter::GetDocumentTextBytes(view_); }
  void UndoOnce() { Send(SciMsg::SCI_UNDO); }

  HWND view_ = nullptr;
};

TEST_F(EditorFilter, KeepAndRemoveReplaceTheDocumentAsOneUndoStep) {
  Load("a1b22c333");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"\\d+", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "1\r\n22\r\n333\r\n");
  UndoOnce();
  EXPECT_EQ(Document(), "a1b22c333");

  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d+", L"ignored"), std::nullopt);
  EXPECT_EQ(Document(), "abc");
  UndoOnce();
  EXPECT_EQ(Document(), "a1b22c333");
}

TEST_F(EditorFilter, NulBytesAreDocumentBytes) {
  const std::string withNuls("a\0b1\0c2\0\0", 9);
  Load(withNuls);
  ASSERT_EQ(Document(), withNuls);

  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d", L""), std::nullopt);
  EXPECT_EQ(Document(), std::string("a\0b\0c\0\0", 7));
  UndoOnce();
  EXPECT_EQ(Document(), withNuls);

  // A kept NUL survives the write too.
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"b1\\x00", L"|"), std::nullopt);
  EXPECT_EQ(Document(), std::string("b1\0|", 4));
  UndoOnce();
  EXPECT_EQ(Document(), withNuls);
}

// Code page 0 is the system's ANSI code page (Scintilla takes no other
// single-byte code page number).
TEST_F(EditorFilter, AnsiDocumentKeepsItsBytes) {
  char e[4] = {}, i[4] = {};
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, 0, L"\u00E9\u00EF", 1, e, 3, nullptr, &lossy);
  WideCharToMultiByte(CP_ACP, 0, L"\u00EF", 1, i, 3, nullptr, &lossy);
  if (lossy || std::string(e).size() != 1) GTEST_SKIP() << "ANSI code page " << GetACP() << " has no e-acute";
  const std::string E(e), I(i);

  Send(SciMsg::SCI_SETCODEPAGE, 0);
  ASSERT_EQ(Send(SciMsg::SCI_GETCODEPAGE), 0);
  Load("caf" + E + " 12 na" + I + "ve");
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d+ ", L""), std::nullopt);
  EXPECT_EQ(Document(), "caf" + E + " na" + I + "ve");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"\\w+", L"\\t"), std::nullopt);
  EXPECT_EQ(Document(), "caf" + E + "\tna" + I + "ve\t");
  // The pattern is text, not bytes: an e-acute typed in the field finds the ANSI one.
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\u00E9", L""), std::nullopt);
  EXPECT_EQ(Document(), "caf\tna" + I + "ve\t");
}

TEST_F(EditorFilter, UnconvertibleAnsiDocumentIsRefusedUntouched) {
  Send(SciMsg::SCI_SETCODEPAGE, 932);  // Shift-JIS: a lone lead byte has no character
  const std::string bytes = "abc 1 \x81";
  Load(bytes);
  const auto message = RunOnView(view_, Operation::Remove, L"\\d", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find(L"932"), std::wstring::npos);
  EXPECT_EQ(Document(), bytes);
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
}

TEST_F(EditorFilter, InvalidUtf8IsKeptByteForByte) {
  Load("a\xFF" "1b\xC3" "2\xE2\x82");
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d", L""), std::nullopt);
  EXPECT_EQ(Document(), "a\xFF" "b\xC3\xE2\x82");
}

TEST_F(EditorFilter, RejectedOrEmptyPatternLeavesDocumentAndHistoryAlone) {
  Load("some text (1)");
  const auto message = RunOnView(view_, Operation::Keep, L"(", L"\\n");
  ASSERT_TRUE(message.has_value());
  EXPECT_FALSE(message->empty());
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "some text (1)");
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
}

TEST_F(EditorFilter, RunawayPatternGivesUpWithoutTouchingTheDocument) {
  const std::string text = std::string(40, 'a') + "!";
  Load(text);
  const auto message = RunOnView(view_, Operation::Remove, L"(a+)+$", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Document(), text);
}

TEST_F(EditorFilter, KeepWithNoMatchEmptiesTheDocument) {
  Load("abc");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"^", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "");
  UndoOnce();
  EXPECT_EQ(Document(), "abc");
}

}  // namespace
