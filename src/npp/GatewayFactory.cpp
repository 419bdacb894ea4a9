#include "npp/GatewayFactory.h"

#include <atomic>

#include "npp/ScintillaGateway.h"

namespace {
std::atomic<CurrentViewProvider> currentView{nullptr};
}  // namespace

void SetCurrentViewProvider(CurrentViewProvider provider) noexcept { currentView.store(provider); }

const ScintillaGatewayFactory& GetGatewayFactory() {
  static const ScintillaGatewayFactory gatewayFactory = []() -> std::unique_ptr<IScintillaGateway> {
    const CurrentViewProvider provider = currentView.load();
    return std::make_unique<ScintillaGateway>(provider ? provider() : nullptr);
  };
  return gatewayFactory;
}
