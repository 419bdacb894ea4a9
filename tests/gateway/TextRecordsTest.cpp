#include <gtest/gtest.h>

#include <cstring>

#include "win/TextCodec.h"
#include "npp/TextRecords.h"

namespace {
template <class T>
T ReadNative(intptr_t address) {
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(address), sizeof value);
  return value;
}
}  // namespace

TEST(TextRange, NoNativeRecordUntilNeeded) {
  TextRange tr(CharacterRange(3, 7), 16);
  EXPECT_EQ(tr.chrg().cpMin, 3);
  EXPECT_EQ(tr.chrg().cpMax, 7);
  EXPECT_EQ(tr.lpstrText(), u"");  // buffer cleared at allocation
  tr.Dispose();
  EXPECT_TRUE(tr.Disposed());
}

TEST(TextRange, NativeRecordHoldsRangeAndBuffer) {
  TextRange tr(0, 10, 11);
  const intptr_t p = tr.NativePointer();
  ASSERT_NE(p, 0);
  EXPECT_EQ(p, tr.NativePointer());  // allocated once, rewritten in place
  const auto rec = ReadNative<Sci_TextRange>(p);
  EXPECT_EQ(rec.chrg.cpMin, 0);
  EXPECT_EQ(rec.chrg.cpMax, 10);
  ASSERT_NE(rec.lpstrText, nullptr);
  // What a receiver writes comes back: text up to the first zero byte, range read back.
  std::memcpy(rec.lpstrText, "abc\0def", 8);
  auto* native = reinterpret_cast<Sci_TextRange*>(p);
  native->chrg = CharacterRange(2, 5);
  EXPECT_EQ(tr.lpstrText(), u"abc");
  EXPECT_EQ(tr.chrg().cpMin, 2);
  EXPECT_EQ(tr.chrg().cpMax, 5);
}

TEST(TextRange, ChrgWriteSyncsTheWholeRecord) {
  TextRange tr(1, 2, 8);
  tr.chrg(CharacterRange(4, 6));
  const auto rec = ReadNative<Sci_TextRange>(tr.NativePointer());
  EXPECT_EQ(rec.chrg.cpMin, 4);
  EXPECT_EQ(rec.chrg.cpMax, 6);
  EXPECT_NE(rec.lpstrText, nullptr);
}

TEST(TextRange, TextReadStopsAtCapacityAndIgnoresForeignAddress) {
  TextRange tr(0, 4, 4);
  auto* native = reinterpret_cast<Sci_TextRange*>(tr.NativePointer());
  std::memcpy(native->lpstrText, "wxyz", 4);  // no terminator inside the capacity
  EXPECT_EQ(tr.lpstrText(), u"wxyz");
  static char foreign[] = "foreign";
  native->lpstrText = foreign;  // a receiver that repoints the buffer is not followed
  EXPECT_EQ(tr.lpstrText(), u"wxyz");
}

TEST(TextRange, ReleasedOnceAndNotTouchedAfterwards) {
  TextRange tr(0, 3, 4);
  tr.NativePointer();
  tr.Dispose();
  tr.Dispose();
  EXPECT_EQ(tr.lpstrText(), u"");
  EXPECT_EQ(tr.chrg().cpMax, 3);
  EXPECT_THROW(tr.NativePointer(), RecordReleasedError);
  EXPECT_THROW(tr.chrg(CharacterRange(0, 1)), RecordReleasedError);
  TextRange zero(0, 0, 0);  // a zero-sized buffer reads as empty text
  EXPECT_EQ(zero.lpstrText(), u"");
  EXPECT_THROW(TextRange(0, 1, -1), std::length_error);
}

TEST(TextToFind, SearchTextAndFoundRange) {
  TextToFind ft(CharacterRange(0, 20), u"needle");
  EXPECT_EQ(ft.chrgText().cpMin, 0);
  EXPECT_EQ(ft.chrgText().cpMax, 0);
  const intptr_t p = ft.NativePointer();
  auto* native = reinterpret_cast<Sci_TextToFind*>(p);
  EXPECT_STREQ(native->lpstrText, "needle");
  EXPECT_EQ(native->chrg.cpMax, 20);
  native->chrgText = CharacterRange(4, 10);  // what the editor writes
  EXPECT_EQ(ft.chrgText().cpMin, 4);
  EXPECT_EQ(ft.chrgText().cpMax, 10);
  // A chrg write keeps the found range and rewrites everything.
  ft.chrg(CharacterRange(5, 9));
  EXPECT_EQ(native->chrg.cpMin, 5);
  EXPECT_EQ(native->chrgText.cpMax, 10);
  EXPECT_STREQ(native->lpstrText, "needle");
}

TEST(TextToFind, EmptySearchTextIsATerminator) {
  TextToFind ft(0, 5, u"");
  const auto* native = reinterpret_cast<const Sci_TextToFind*>(ft.NativePointer());
  ASSERT_NE(native->lpstrText, nullptr);
  EXPECT_EQ(native->lpstrText[0], '\0');
  EXPECT_EQ(ft.chrgText().cpMin, 0);
  EXPECT_EQ(ft.chrgText().cpMax, 0);
}

TEST(TextToFind, ReplacedTextNeverLeavesAStaleAddress) {
  TextToFind ft(0, 5, u"old");
  auto* native = reinterpret_cast<Sci_TextToFind*>(ft.NativePointer());
  ft.lpstrText(u"new text");
  // The native record already points at the new text, so a read-back cannot bring
  // the released buffer's address back.
  EXPECT_STREQ(native->lpstrText, "new text");
  EXPECT_EQ(ft.chrg().cpMax, 5);
  EXPECT_STREQ(reinterpret_cast<Sci_TextToFind*>(ft.NativePointer())->lpstrText, "new text");
  TextToFind before(0, 1, u"a");
  before.lpstrText(u"b");  // no native record yet: only the local copy changes
  EXPECT_STREQ(reinterpret_cast<Sci_TextToFind*>(before.NativePointer())->lpstrText, "b");
}

TEST(TextToFind, Release) {
  TextToFind ft(0, 5, u"x");
  ft.NativePointer();
  ft.Dispose();
  ft.Dispose();
  EXPECT_THROW(ft.NativePointer(), RecordReleasedError);
  EXPECT_THROW(ft.lpstrText(u"y"), RecordReleasedError);
  EXPECT_EQ(ft.chrg().cpMax, 5);
  EXPECT_EQ(ft.chrgText().cpMax, 0);
}

TEST(ClikeStringArray, MadeWithCapacity) {
  ClikeStringArray a(3, 100);
  void* const* slots = reinterpret_cast<void* const*>(a.NativePointer());
  for (int i = 0; i < 3; ++i) EXPECT_NE(slots[i], nullptr);
  EXPECT_EQ(slots[3], nullptr);
  std::memcpy(slots[1], "hi", 3);
  const auto ansi = a.ManagedStringsAnsi();
  ASSERT_EQ(ansi.size(), 3u);
  EXPECT_EQ(ansi[0], u"");
  EXPECT_EQ(ansi[1], u"hi");
  // A receiver that repoints a slot is not followed: the object reads its own buffers.
  static char other[] = "other";
  const_cast<void**>(slots)[2] = other;
  EXPECT_EQ(a.ManagedStringsAnsi()[2], u"");
}

TEST(ClikeStringArray, FromStrings) {
  ClikeStringArray empty(std::vector<std::u16string>{});
  EXPECT_EQ(reinterpret_cast<void* const*>(empty.NativePointer())[0], nullptr);
  EXPECT_TRUE(empty.ManagedStringsAnsi().empty());
  EXPECT_TRUE(empty.ManagedStringsUnicode().empty());

  ClikeStringArray a(std::vector<std::u16string>{u"ab", u"c"});
  EXPECT_EQ(a.ManagedStringsUnicode(), (std::vector<std::u16string>{u"ab", u"c"}));
  EXPECT_EQ(a.ManagedStringsAnsi(), (std::vector<std::u16string>{u"a", u"c"}));
  const auto* slots = reinterpret_cast<const char16_t* const*>(a.NativePointer());
  EXPECT_EQ(std::u16string(slots[0]), u"ab");
  EXPECT_EQ(slots[2], nullptr);
  a.Dispose();
  a.Dispose();
  EXPECT_EQ(a.NativePointer(), 0);
  EXPECT_TRUE(a.ManagedStringsUnicode().empty());
}

TEST(TextCodec, Utf8RoundTripAndReplacement) {
  EXPECT_EQ(siftwell::win::TextCodec::ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), u"a\u00e9\u20ac\U0001F600");
  EXPECT_EQ(siftwell::win::TextCodec::ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("\xFF"), u"\uFFFD");
  // Each maximal ill-formed part is one U+FFFD: a lead byte whose second byte is out of its range,
  // a sequence cut short (also at the end), a lone continuation byte.
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("\xE0\x80x\xE2\x82y\xF0\x9F\x98\x80\xF0\x9F\x98"), u"\uFFFD\uFFFDx\uFFFDy\U0001F600\uFFFD");
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("\xED\xA0\x80\xC1\xBF"), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("a\xE2\x82"), u"a\uFFFD");          // truncated sequence: one replacement
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");       // overlong
  EXPECT_EQ(siftwell::win::TextCodec::FromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(TextCodec, AnsiRoundTripOfLatinText) {
  // Characters of the Latin-1 range exist in the usual Western ANSI code page as in the
  // portable stand-in; both round-trip them unchanged.
  const std::u16string text = u"plain ASCII text";
  EXPECT_EQ(siftwell::win::TextCodec::FromAnsi(siftwell::win::TextCodec::ToAnsi(text)), text);
  EXPECT_EQ(siftwell::win::TextCodec::ToAnsi(u""), "");
}
