// PluginBase's gateway factory, with the host stand-in answering which view is active.
#include <windows.h>

#include <gtest/gtest.h>

#include "HostStandIn.h"
#include "npp/GatewayFactory.h"
#include "npp/PluginBase.h"

TEST(PluginGatewayFactory, OneCallableWhoseGatewaysFollowTheActiveView) {
  siftwell::host::HostOptions options;
  options.show = false;
  siftwell::host::HostStandIn host(options);
  PluginBase::nppData = {host.MainWindow(), host.View(0), host.View(1)};
  host.SetText(0, "main view");
  host.SetText(1, "second");

  const ScintillaGatewayFactory& factory = PluginBase::GetGatewayFactory();
  EXPECT_EQ(&factory, &PluginBase::GetGatewayFactory());

  auto onMain = factory();
  EXPECT_EQ(onMain->GetLength(), 9);
  host.SetActiveView(1);
  auto onSecond = factory();
  EXPECT_EQ(onSecond->GetLength(), 6);
  EXPECT_EQ(onMain->GetLength(), 9);  // a gateway stays with the view it was made for
  PluginBase::nppData = {};
}
