#include "npp/NotepadPPGateway.h"

#include "npp/PluginBase.h"
#include "npp/Win32.h"

namespace {
HWND HostWindow() { return PluginBase::nppData._nppHandle; }
}  // namespace

void NotepadPPGateway::FileNew() {
  Win32::SendMessage(HostWindow(), static_cast<uint32_t>(NppMsg::NPPM_MENUCOMMAND), int32_t{0},
                     NppMenuCmd::IDM_FILE_NEW);
}

std::wstring NotepadPPGateway::GetCurrentFilePath() {
  Win32::TextBuffer path(PathCapacity);
  Win32::SendMessage(HostWindow(), static_cast<uint32_t>(NppMsg::NPPM_GETFULLCURRENTPATH), int32_t{0}, path);
  return path.Text();
}

std::wstring NotepadPPGateway::GetFilePath(int32_t bufferId) {
  Win32::TextBuffer path(PathCapacity);
  Win32::SendMessage(HostWindow(), static_cast<uint32_t>(NppMsg::NPPM_GETFULLPATHFROMBUFFERID), bufferId, path);
  return path.Text();
}

void NotepadPPGateway::SetCurrentLanguage(LangType language) {
  Win32::SendMessage(HostWindow(), static_cast<uint32_t>(NppMsg::NPPM_SETCURRENTLANGTYPE), int32_t{0},
                     static_cast<int32_t>(language));
}

void NppResource::ClearIndicator() {
  Win32::SendMessage(HostWindow(), static_cast<uint32_t>(Resource::NPPM_INTERNAL_CLEARINDICATOR), int32_t{0},
                     int32_t{0});
}
