// The gateway factory offered to plugin code: one callable, created once, that makes a new
// ScintillaGateway bound to the view the host calls active at the moment of each call.
#pragma once

#include <functional>
#include <memory>

#include "npp/IScintillaGateway.h"
#include "win/NativeTypes.h"

using ScintillaGatewayFactory = std::function<std::unique_ptr<IScintillaGateway>()>;
// Asks the host which editor view is active (PluginBase::GetCurrentScintilla).
using CurrentViewProvider = HWND (*)();

// Where the factory asks for the active view. Set once at start-up; until then the
// factory binds its gateways to a null handle, which every message answers with 0.
void SetCurrentViewProvider(CurrentViewProvider provider) noexcept;

// The same callable on every call.
const ScintillaGatewayFactory& GetGatewayFactory();
