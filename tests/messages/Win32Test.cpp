// The sending forms and platform bindings of Win32 against real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "npp/Win32.h"

namespace {

constexpr uint32_t kMsg = Constants::WM_USER + 100;
constexpr wchar_t kReceiverClass[] = L"SiftwellMessagesTestReceiver";

// What the receiving window procedure does with each private message.
std::function<LRESULT(UINT, WPARAM, LPARAM)> g_receive;

LRESULT CALLBACK ReceiverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= static_cast<UINT>(Constants::WM_USER) && g_receive) return g_receive(msg, wParam, lParam);
  return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

struct Seen {
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

// A Unicode window (as the host's are), parented to HWND_MESSAGE: no display needed.
class Receiver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ReceiverProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kReceiverClass;
    ::RegisterClassW(&wc);
  }
  void SetUp() override {
    hwnd_ = ::CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    g_receive = nullptr;
    ::DestroyWindow(hwnd_);
  }
  // The receiver records its arguments and answers `result`.
  void Record(LRESULT result = 0) {
    g_receive = [this, result](UINT m, WPARAM w, LPARAM l) {
      seen_ = Seen{m, w, l};
      return result;
    };
  }

  HWND hwnd_ = nullptr;
  Seen seen_;
};

// --- slots (forms 4 and 14, slot binding) ---

// The receiver notes what the slot held on entry and writes `value` as a T into it (nothing
// without a value).
template <class T>
void WriteSlot(std::optional<T> value, intptr_t* onEntry = nullptr) {
  g_receive = [value, onEntry](UINT, WPARAM, LPARAM l) {
    if (onEntry != nullptr) *onEntry = *reinterpret_cast<intptr_t*>(l);
    if (value) *reinterpret_cast<T*>(l) = *value;
    return LRESULT{0};
  };
}

TEST_F(Receiver, Form4And14TakeWhatTheReceiverWritesAndZeroWhenItWritesNothing) {
  intptr_t slotOnEntry = -1;
  WriteSlot<int>(std::nullopt, &slotOnEntry);
  int32_t out = 7;
  Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(out));
  EXPECT_EQ(out, 0);
  EXPECT_EQ(slotOnEntry, 0) << "the caller's old value must not travel";
  // The host writes a 4-byte int into the slot, as for NPPM_GETCURRENTSCINTILLA.
  WriteSlot<int>(1);
  Win32::SendMessage(hwnd_, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTSCINTILLA), 0, Win32::Out(out));
  EXPECT_EQ(out, 1);
  WriteSlot<intptr_t>(-5);
  Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(out));
  EXPECT_EQ(out, -5);
  // Form 14 overwrites the language without sending it.
  slotOnEntry = -1;
  WriteSlot<int>(static_cast<int>(LangType::L_JSON), &slotOnEntry);
  LangType lang = LangType::L_PHP;
  Win32::SendMessage(hwnd_, static_cast<uint32_t>(NppMsg::NPPM_GETCURRENTLANGTYPE), 0, Win32::Out(lang));
  EXPECT_EQ(lang, LangType::L_JSON);
  EXPECT_EQ(slotOnEntry, 0);
  WriteSlot<int>(std::nullopt);
  Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(lang));
  EXPECT_EQ(lang, LangType::L_TEXT);
  // The slot binding carries a full pointer.
  static int target = 0;
  WriteSlot<intptr_t>(reinterpret_cast<intptr_t>(&target));
  intptr_t slot = 0;
  Win32::SendMessage(hwnd_, kMsg, intptr_t{0}, Win32::Out(slot));
  EXPECT_EQ(slot, reinterpret_cast<intptr_t>(&target));
}

TEST_F(Receiver, Form4SlotOutsideInt32) {
#if INTPTR_MAX > INT32_MAX
  for (intptr_t tooWide : {intptr_t{1} << 32, intptr_t{INT32_MIN} - 1, INTPTR_MAX}) {
    WriteSlot<intptr_t>(tooWide);
    int32_t out = 3;
    EXPECT_THROW(Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(out)), std::overflow_error) << tooWide;
    LangType lang = LangType::L_C;
    EXPECT_THROW(Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(lang)), std::overflow_error) << tooWide;
  }
#else
  // 4-byte slots: every bit pattern is a 32-bit value and is taken unchanged.
  WriteSlot<uint32_t>(0x80000000u);
  int32_t out = 3;
  Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(out));
  EXPECT_EQ(out, INT32_MIN);
#endif
}

TEST_F(Receiver, HandleOfNoWindowAnswersZero) {
  HWND gone = ::CreateWindowExW(0, kReceiverClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
  ::DestroyWindow(gone);
  int32_t out = 7;
  EXPECT_EQ(Win32::SendMessage(gone, kMsg, 0, Win32::Out(out)), 0);
  EXPECT_EQ(out, 0);
  EXPECT_EQ(Win32::SendMessage(gone, kMsg, 1, 2), 0);
}

// --- widening ---

// Narrow arguments are sign-extended, menu commands zero-extended (the high bit of a
// command number stays a value bit), pointer-sized arguments pass unchanged.
TEST_F(Receiver, EachFormWidensItsArgumentsAsItShould) {
  const intptr_t wide = static_cast<intptr_t>(sizeof(intptr_t) == 8 ? 0x123456789abcLL : 0x12345678);
  const uint32_t menuCommand = static_cast<uint32_t>(NppMsg::NPPM_MENUCOMMAND);
  const auto highCommand = static_cast<intptr_t>(uintptr_t{0x80000001u});
  struct Row {
    const char* form;
    std::function<void()> send;
    UINT msg;
    intptr_t wParam, lParam;
  };
  const Row rows[] = {
      {"3", [&] { Win32::SendMessage(hwnd_, kMsg, -1, -1); }, kMsg, -1, -1},
      {"12", [&] { Win32::SendMessage(hwnd_, SciMsg::SCI_GETLENGTH, -2, -3); }, 2006, -2, -3},
      {"1", [&] { Win32::SendMessage(hwnd_, menuCommand, 0, NppMenuCmd::IDM_FILE_NEW); }, 2072, 0, 41001},
      {"1 high", [&] { Win32::SendMessage(hwnd_, kMsg, -1, static_cast<NppMenuCmd>(0x80000001u)); }, kMsg, -1, highCommand},
      {"2", [&] { Win32::SendMessage(hwnd_, kMsg, 5, wide); }, kMsg, 5, wide},
      {"5", [&] { Win32::SendMessage(hwnd_, kMsg, wide, -2); }, kMsg, wide, -2},
      {"8", [&] { Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, wide, -4); }, 2182, wide, -4},
      {"9", [&] { Win32::SendMessage(hwnd_, SciMsg::SCI_SETTEXT, -6, wide); }, 2181, -6, wide},
      {"13", [&] { Win32::SendMessage(hwnd_, SciMsg::SCI_SETTEXT, wide, ~wide); }, 2181, wide, ~wide},
  };
  Record();
  for (const Row& row : rows) {
    row.send();
    EXPECT_EQ(seen_.msg, row.msg) << "form " << row.form;
    EXPECT_EQ(static_cast<intptr_t>(seen_.wParam), row.wParam) << "form " << row.form;
    EXPECT_EQ(seen_.lParam, row.lParam) << "form " << row.form;
  }
}

TEST_F(Receiver, EveryFormReturnsTheReceiversAnswerBitForBit) {
  const intptr_t answers[] = {0, 1, -1, -123456, INTPTR_MIN, INTPTR_MAX, static_cast<intptr_t>(0x80000000u)};
  for (intptr_t answer : answers) {
    Record(static_cast<LRESULT>(answer));
    int32_t out = 0;
    LangType lang = LangType::L_TEXT;
    Win32::TextBuffer buffer(16);
    intptr_t slot = 0;
    const intptr_t wide = 9;
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, NppMenuCmd::IDM_FILE_NEW), answer);   // 1
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, wide), answer);                       // 2
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, 0), answer);                          // 3
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(out)), answer);            // 4
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, wide, 0), answer);                       // 5
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 16, buffer), answer);                    // 6
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, std::wstring(L"t")), answer);         // 7
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, wide, 0), answer);        // 8
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, 0, wide), answer);        // 9
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_SETTEXT, 0, std::wstring(L"t")), answer);  // 10
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, 16, buffer), answer);     // 11
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETLENGTH, 0, 0), answer);         // 12
    EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, wide, wide), answer);     // 13
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, 0, Win32::Out(lang)), answer);           // 14
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, wide, wide), answer);                    // integer binding
    EXPECT_EQ(Win32::SendMessage(hwnd_, kMsg, wide, Win32::Out(slot)), answer);        // slot binding
  }
}

// --- text and buffers ---

// A receiver that keeps the zero-terminated text at lParam (as it was on entry) and answers 0.
template <class C>
void Capture(std::basic_string<C>& into) {
  g_receive = [&into](UINT, WPARAM, LPARAM l) {
    into = reinterpret_cast<const C*>(l);
    return LRESULT{0};
  };
}

// A receiver that copies `text` into the buffer at lParam, NUL included, ignoring any capacity.
void WriteWide(const std::wstring& text) {
  g_receive = [text](UINT, WPARAM, LPARAM l) {
    std::memcpy(reinterpret_cast<wchar_t*>(l), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return LRESULT{1};
  };
}

TEST_F(Receiver, BufferTakesExactlyWhatTheReceiverWrote) {
  WPARAM seenCapacity = 0;
  std::wstring onEntry = L"unset";
  g_receive = [&](UINT, WPARAM w, LPARAM l) {
    seenCapacity = w;
    onEntry = reinterpret_cast<const wchar_t*>(l);
    std::memcpy(reinterpret_cast<wchar_t*>(l), L"0123456789", 11 * sizeof(wchar_t));
    return LRESULT{1};
  };
  Win32::TextBuffer buffer(Win32::MAX_PATH);
  Win32::SendMessage(hwnd_, static_cast<uint32_t>(NppMsg::NPPM_GETPLUGINSCONFIGDIR), Win32::MAX_PATH, buffer);
  EXPECT_EQ(seenCapacity, 260u);
  EXPECT_EQ(onEntry, L"");
  EXPECT_EQ(buffer.Text(), L"0123456789");
  EXPECT_EQ(buffer.Capacity(), 260);
}

TEST_F(Receiver, BufferKeepsItsTextWhenTheReceiverWritesNothing) {
  std::wstring onEntry;
  Capture(onEntry);
  Win32::TextBuffer buffer(260, L"C:\\old\\path");
  Win32::SendMessage(hwnd_, kMsg, 260, buffer);
  EXPECT_EQ(onEntry, L"C:\\old\\path");
  EXPECT_EQ(buffer.Text(), L"C:\\old\\path");
}

TEST_F(Receiver, TextTravelsAsUtf16ThroughTheAnsiEntry) {
  const std::wstring path = L"C:\\Us\u00e9rs\\\u0436\u03a9\\\U0001F600.ini";
  WriteWide(path);
  Win32::TextBuffer buffer(260);
  Win32::SendMessage(hwnd_, kMsg, 260, buffer);
  EXPECT_EQ(buffer.Text(), path);

  std::wstring received;
  Capture(received);
  Win32::SendMessage(hwnd_, kMsg, 0, path);  // form 7
  EXPECT_EQ(received, path);
}

TEST_F(Receiver, AnswerLongerThanTheCapacityIsCutAndOverrunsNothing) {
  std::wstring longAnswer;
  for (int i = 0; i < 1000; ++i) longAnswer += static_cast<wchar_t>(L'a' + i % 26);
  WriteWide(longAnswer);
  Win32::TextBuffer buffer(260, L"before");
  Win32::SendMessage(hwnd_, kMsg, 260, buffer);
  EXPECT_EQ(buffer.Text(), longAnswer.substr(0, 260));

  // The longest Windows path, into a small buffer.
  WriteWide(std::wstring(32767, L'x'));
  Win32::TextBuffer small(8);
  Win32::SendMessage(hwnd_, kMsg, 8, small);
  EXPECT_EQ(small.Text(), L"xxxxxxxx");

  WriteWide(L"abc");
  Win32::TextBuffer none(0);
  Win32::SendMessage(hwnd_, kMsg, 0, none);
  EXPECT_EQ(none.Text(), L"");
}

TEST(TextBuffer, TextNeverExceedsTheCapacity) {
  Win32::TextBuffer buffer(3, L"abcdef");
  EXPECT_EQ(buffer.Text(), L"abc");
  buffer.SetText(L"xy");
  EXPECT_EQ(buffer.Text(), L"xy");
  EXPECT_THROW(Win32::TextBuffer(-1), std::invalid_argument);
}

TEST_F(Receiver, EditorTextFormsUseEightBitText) {
  std::string received;
  Capture(received);
  Win32::SendMessage(hwnd_, SciMsg::SCI_SETTEXT, 0, std::wstring(L"Gr\u00fc\u00dfe"));  // form 10: UTF-8
  EXPECT_EQ(received, "Gr\xC3\xBC\xC3\x9F" "e");

  // Form 11: ANSI both ways; the receiver sees the old text and writes a new one.
  g_receive = [&](UINT, WPARAM, LPARAM l) {
    received = reinterpret_cast<const char*>(l);
    std::strcpy(reinterpret_cast<char*>(l), "hello, editor");
    return LRESULT{13};
  };
  Win32::TextBuffer buffer(64, L"old");
  EXPECT_EQ(Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, 64, buffer), 13);
  EXPECT_EQ(received, "old");
  EXPECT_EQ(buffer.Text(), L"hello, editor");

  Win32::TextBuffer shortBuffer(5);
  Win32::SendMessage(hwnd_, SciMsg::SCI_GETTEXT, 5, shortBuffer);
  EXPECT_EQ(shortBuffer.Text(), L"hello");
}

// --- other platform bindings ---

// A top-level window (never shown), for the bindings that need a real frame.
class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    menu_ = ::CreateMenu();
    ::AppendMenuW(menu_, MF_STRING, 100, L"Item");
    hwnd_ = ::CreateWindowExW(0, L"STATIC", L"frame", WS_OVERLAPPEDWINDOW | WS_VSCROLL, 100, 80, 400, 300,
                              nullptr, menu_, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd_, nullptr) << ::GetLastError();
  }
  void TearDown() override { ::DestroyWindow(hwnd_); }
  HWND hwnd_ = nullptr;
  HMENU menu_ = nullptr;
};

TEST_F(Frame, GetScrollInfoFillsEveryFieldOfSifAll) {
  SCROLLINFO set{sizeof(SCROLLINFO), static_cast<UINT>(Win32::ScrollInfoMask::SIF_ALL), 5, 250, 30, 42, 0};
  ::SetScrollInfo(hwnd_, static_cast<int>(Win32::ScrollInfoBar::SB_VERT), &set, FALSE);
  Win32::ScrollInfo info{28, static_cast<uint32_t>(Win32::ScrollInfoMask::SIF_ALL), 0, 0, 0, 0, 0};
  EXPECT_NE(Win32::GetScrollInfo(hwnd_, Win32::ScrollInfoBar::SB_VERT, info), 0);
  SCROLLINFO expected{sizeof(SCROLLINFO), static_cast<UINT>(Win32::ScrollInfoMask::SIF_ALL), 0, 0, 0, 0, 0};
  ::GetScrollInfo(hwnd_, static_cast<int>(Win32::ScrollInfoBar::SB_VERT), &expected);
  EXPECT_EQ(info.nMin, 5);
  EXPECT_EQ(info.nMax, 250);
  EXPECT_EQ(info.nPage, 30u);
  EXPECT_EQ(info.nPos, 42);
  EXPECT_EQ(info.nTrackPos, expected.nTrackPos);
  EXPECT_EQ(info.cbSize, 28u);
}

TEST(ScrollBarControl, GetScrollInfoFillsOnlyTheMaskedFields) {
  HWND parent = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 100, 100, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(parent, nullptr);
  HWND bar = ::CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | SBS_VERT, 0, 0, 20, 100, parent, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(bar, nullptr) << ::GetLastError();
  SCROLLINFO set{sizeof(SCROLLINFO), static_cast<UINT>(Win32::ScrollInfoMask::SIF_ALL), 0, 1000, 100, 700, 0};
  ::SetScrollInfo(bar, static_cast<int>(Win32::ScrollInfoBar::SB_CTL), &set, FALSE);
  Win32::ScrollInfo info{28, static_cast<uint32_t>(Win32::ScrollInfoMask::SIF_POS), 0, 0, 0, 0, 0};
  EXPECT_NE(Win32::GetScrollInfo(bar, static_cast<int32_t>(Win32::ScrollInfoBar::SB_CTL), info), 0);
  EXPECT_EQ(info.nPos, 700);
  EXPECT_EQ(info.nMax, 0) << "only the fields named by fMask are filled";
  ::DestroyWindow(parent);
}

TEST_F(Frame, MenuBindings) {
  EXPECT_EQ(Win32::GetMenu(hwnd_), menu_);
  EXPECT_EQ(Win32::CheckMenuItem(menu_, 100, Win32::MF_BYCOMMAND | Win32::MF_CHECKED), Win32::MF_UNCHECKED);
  EXPECT_EQ(Win32::CheckMenuItem(menu_, 100, Win32::MF_BYCOMMAND | Win32::MF_UNCHECKED), Win32::MF_CHECKED);
  EXPECT_EQ(Win32::CheckMenuItem(menu_, 999, Win32::MF_BYCOMMAND | Win32::MF_CHECKED), -1);
}

TEST_F(Frame, ClientToScreenConvertsInPlace) {
  Win32::Point point{5, 6};
  POINT expected{5, 6};
  ASSERT_TRUE(::ClientToScreen(hwnd_, &expected));
  EXPECT_TRUE(Win32::ClientToScreen(hwnd_, point));
  EXPECT_EQ(point.x, expected.x);
  EXPECT_EQ(point.y, expected.y);
  EXPECT_GE(point.x, 105);
}

std::wstring TempPath(const std::wstring& name) {
  wchar_t dir[Win32::MAX_PATH + 1];
  ::GetTempPathW(Win32::MAX_PATH + 1, dir);
  return std::wstring(dir) + name + std::to_wstring(::GetCurrentProcessId()) + L".ini";
}

TEST(ProfileFile, AnsiRoundTrip) {
  const std::wstring file = TempPath(L"siftwell-ansi-");
  EXPECT_TRUE(Win32::WritePrivateProfileString(L"Siftwell", L"useless", L"-5", file));
  EXPECT_EQ(Win32::GetPrivateProfileInt(L"Siftwell", L"useless", 9, file), -5);
  EXPECT_EQ(Win32::GetPrivateProfileInt(L"Siftwell", L"missing", 9, file), 9);
  ::DeleteFileW(file.c_str());
}

TEST(ProfileFile, WideEntriesKeepEveryCharacterOfThePath) {
  const std::wstring file = TempPath(L"siftwell-\u0436\u03a9\u4e2d-");
  EXPECT_TRUE(Win32::WritePrivateProfileStringW(L"Siftwell", L"k\u00e9y", L"1", file));
  EXPECT_NE(::GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES) << "file written under its own name";
  EXPECT_EQ(Win32::GetPrivateProfileIntW(L"Siftwell", L"k\u00e9y", 0, file), 1);
  ::DeleteFileW(file.c_str());
}

TEST(Memory, RtlMoveMemoryCopiesOverlappingRanges) {
  char bytes[] = "abcdefgh";
  Win32::RtlMoveMemory(bytes + 2, bytes, 5);
  EXPECT_STREQ(bytes, "ababcdeh");
  Win32::RtlMoveMemory(bytes, "zz", 0);
  EXPECT_STREQ(bytes, "ababcdeh");
  EXPECT_THROW(Win32::RtlMoveMemory(bytes, "zz", -1), std::invalid_argument);
}

}  // namespace
