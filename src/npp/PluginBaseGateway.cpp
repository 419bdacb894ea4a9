// The editor gateway factory as plugin code reaches it, asking the host for
// the active view at each call.
#include "npp/GatewayFactory.h"
#include "npp/PluginBase.h"

const ScintillaGatewayFactory& PluginBase::GetGatewayFactory() {
  static const bool wired = (SetCurrentViewProvider(&PluginBase::GetCurrentScintilla), true);
  (void)wired;
  return ::GetGatewayFactory();
}
