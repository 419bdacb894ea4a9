// The host gateway and the gateway factory against the host stand-in (real main window,
// two real Scintilla views).
#include "HostStandIn.h"

#include <gtest/gtest.h>

#include "npp/GatewayFactory.h"
#include "npp/PluginBase.h"
#include "npp/NotepadPPGateway.h"

using siftwell::host::HostOptions;
using siftwell::host::HostStandIn;

namespace {

class WithHost : public ::testing::Test {
 protected:
  HostStandIn host{HostOptions{L"", false}};
  void SetUp() override {
    PluginBase::nppData = NppData{host.MainWindow(), host.View(0), host.View(1)};
  }
  void TearDown() override { PluginBase::nppData = NppData{}; }

  const siftwell::host::LoggedMessage* LastLogged(UINT msg) const {
    const auto& log = host.MessageLog();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
      if (it->msg == msg) return &*it;
    return nullptr;
  }
};

}  // namespace

TEST(HostGatewayWithoutHandles, SendsToNullAndReturnsEmptyText) {
  PluginBase::nppData = NppData{};
  NotepadPPGateway npp;
  EXPECT_EQ(npp.GetCurrentFilePath(), L"");
  EXPECT_EQ(npp.GetFilePath(3), L"");
  npp.FileNew();
  npp.SetCurrentLanguage(LangType::L_CPP);
  NppResource().ClearIndicator();
}

TEST_F(WithHost, PathsByCurrentDocumentAndBufferId) {
  NotepadPPGateway npp;  // made before the handles matter: read at each call
  host.SetBuffer(0, 7, L"C:\\docs\\first.txt");
  host.SetBuffer(1, -5, L"C:\\docs\\second.txt");
  EXPECT_EQ(npp.GetCurrentFilePath(), L"C:\\docs\\first.txt");
  EXPECT_EQ(npp.GetFilePath(7), L"C:\\docs\\first.txt");
  EXPECT_EQ(npp.GetFilePath(99), L"");  // unknown id: the host writes nothing
  EXPECT_EQ(npp.GetFilePath(-5), L"C:\\docs\\second.txt");
  const auto* sent = LastLogged(static_cast<UINT>(NppMsg::NPPM_GETFULLPATHFROMBUFFERID));
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->wParam, static_cast<WPARAM>(static_cast<intptr_t>(-5)));  // sign-extended
  host.SetActiveView(1);
  EXPECT_EQ(npp.GetCurrentFilePath(), L"C:\\docs\\second.txt");
}

TEST_F(WithHost, LongPathsAreCutNotOverrun) {
  const std::wstring longPath = L"C:\\" + std::wstring(3000, L'p');
  host.SetBuffer(0, 11, longPath);
  NotepadPPGateway npp;
  const std::wstring got = npp.GetFilePath(11);
  EXPECT_EQ(got.size(), static_cast<size_t>(NotepadPPGateway::PathCapacity));
  EXPECT_EQ(got, longPath.substr(0, NotepadPPGateway::PathCapacity));
}

TEST_F(WithHost, FileNewLanguageAndIndicators) {
  NotepadPPGateway npp;
  const int32_t before = host.FileNewCount();
  npp.FileNew();
  EXPECT_EQ(host.FileNewCount(), before + 1);
  const auto* sent = LastLogged(static_cast<UINT>(NppMsg::NPPM_MENUCOMMAND));
  ASSERT_NE(sent, nullptr);
  EXPECT_EQ(sent->wParam, 0u);
  EXPECT_EQ(sent->lParam, 41001);

  npp.SetCurrentLanguage(LangType::L_PYTHON);
  EXPECT_EQ(host.LangTypeOf(host.ActiveView()), static_cast<int32_t>(LangType::L_PYTHON));

  NppResource().ClearIndicator();
  EXPECT_EQ(host.ClearIndicatorCount(), 1);
}

TEST_F(WithHost, FactoryFollowsTheActiveView) {
  SetCurrentViewProvider(&PluginBase::GetCurrentScintilla);
  const ScintillaGatewayFactory& factory = GetGatewayFactory();
  EXPECT_EQ(&factory, &GetGatewayFactory());
  host.SetActiveView(0);
  const auto first = factory();
  host.SetActiveView(1);
  const auto second = factory();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  first->SetText(u"main view");
  second->SetText(u"second view");
  EXPECT_EQ(host.Text(0), "main view");
  EXPECT_EQ(host.Text(1), "second view");
  // A gateway stays with its view after the switch.
  first->AppendText(1, u"!");
  EXPECT_EQ(host.Text(0), "main view!");
  SetCurrentViewProvider(nullptr);
}
