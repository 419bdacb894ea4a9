// What the gateway puts on the wire and how it reads replies, seen by a receiver of our own.
#include "GatewayWindows.h"

#include <gtest/gtest.h>

#include "npp/ScintillaGateway.h"

namespace {

class Wire : public ::testing::Test {
 protected:
  Recorder rec;
  ScintillaGateway gw{rec.Handle()};
  const Received& Last() { return rec.Log().back(); }
};
}  // namespace

TEST_F(Wire, BoolRepliesAreTrueOnlyForOne) {
  for (const LRESULT reply : {2, -1, 1}) {
    rec.Answer(M(SciMsg::SCI_GETREADONLY), reply);
    EXPECT_EQ(gw.GetReadOnly(), reply == 1) << reply;
  }
}

TEST_F(Wire, ParameterConversions) {
  gw.GotoLine(-1);
  EXPECT_EQ(Last().msg, M(SciMsg::SCI_GOTOLINE));
  EXPECT_EQ(Last().wParam, static_cast<WPARAM>(~WPARAM{0}));  // sign-extended to pointer size
  EXPECT_EQ(Last().lParam, 0);
  gw.BraceHighlightIndicator(true, 9);  // bool, int
  EXPECT_EQ(Last().wParam, 1u);
  EXPECT_EQ(Last().lParam, 9);
  gw.SetSelFore(false, Colour(1, 2, 3));  // bool, Colour
  EXPECT_EQ(Last().wParam, 0u);
  EXPECT_EQ(Last().lParam, 0x030201);
  gw.AssignCmdKey(KeyModifier(SciMsg::SCK_DOWN, SciMsg::SCMOD_CTRL), 2024);
  EXPECT_EQ(Last().wParam, static_cast<WPARAM>(300 + (2 << 16)));
  EXPECT_EQ(Last().lParam, 2024);
  gw.ChangeLexerState(Position(3), Position(8));  // Position, Position -> int
  EXPECT_EQ(Last().wParam, 3u);
  EXPECT_EQ(Last().lParam, 8);
  gw.SetDocPointer(static_cast<intptr_t>(-2));  // pointer-sized, unchanged
  EXPECT_EQ(Last().lParam, -2);
}

TEST_F(Wire, TextTravelsAsUtf8WithOneZeroByte) {
  rec.CaptureText(true);
  gw.SetText(u"\u00e9t\u00e9");
  EXPECT_EQ(Last().msg, M(SciMsg::SCI_SETTEXT));
  EXPECT_EQ(Last().lParamText, "\xC3\xA9t\xC3\xA9");
  gw.SetText(u"");
  EXPECT_EQ(Last().lParam, 0);  // empty text: address 0
  gw.AddText(2, u"");
  EXPECT_EQ(Last().wParam, 0u);  // nothing to read, so no length either
  EXPECT_EQ(Last().lParam, 0);
}

TEST_F(Wire, TextResultAsksForTheLengthFirst) {
  rec.Answer(M(SciMsg::SCI_GETSELTEXT), 3);
  EXPECT_EQ(gw.GetSelText(), u"");  // the receiver writes nothing
  ASSERT_EQ(rec.Log().size(), 2u);
  EXPECT_EQ(rec.Log()[0].lParam, 0);
  EXPECT_NE(rec.Log()[1].lParam, 0);
}

TEST_F(Wire, SelectionLengthWhereTheReplyCountsTheTerminator) {
  // An editor of the older convention: SCI_GETTEXT without a buffer answers length + 1,
  // and an empty selection answers 1.
  rec.Answer(M(SciMsg::SCI_GETTEXTLENGTH), 20);
  rec.Answer(M(SciMsg::SCI_GETTEXT), 21);
  rec.Answer(M(SciMsg::SCI_GETSELTEXT), 1);
  EXPECT_EQ(gw.GetSelectionLength(), 0);
  rec.Answer(M(SciMsg::SCI_GETSELTEXT), 6);
  EXPECT_EQ(gw.GetSelectionLength(), 5);
}

TEST_F(Wire, ColourRepliesIgnoreTheHighByte) {
  rec.Answer(M(SciMsg::SCI_GETCARETFORE), static_cast<LRESULT>(0xFF123456u));
  const Colour c = gw.GetCaretFore();
  EXPECT_EQ(c.Red, 0x56);
  EXPECT_EQ(c.Blue, 0x12);
}

#if INTPTR_MAX > INT32_MAX
TEST_F(Wire, WideIntRepliesAreRefusedNotCut) {
  rec.Answer(M(SciMsg::SCI_GETLENGTH), static_cast<LRESULT>(0x100000005LL));
  EXPECT_THROW(gw.GetLength(), std::overflow_error);
  rec.Answer(M(SciMsg::SCI_GETLENGTH), static_cast<LRESULT>(0xFFFFFFFFLL));  // fits 32 bits unsigned
  EXPECT_EQ(gw.GetLength(), -1);
  rec.Answer(M(SciMsg::SCI_GETREADONLY), static_cast<LRESULT>(0x100000001LL));
  EXPECT_FALSE(gw.GetReadOnly());
}
#endif
