#include "app/Main.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/frmMyDlg.h"
#include "app/JumpBack.h"
#include "npp/PluginBase.h"
#include "npp/ScNotification.h"
#include "npp/Tables.h"
#include "npp/Win32.h"
#include "app/ToolbarBitmap.h"
#include "app/UsagePing.h"
#include "npp/HostVersion.h"
#include "npp/HostWindow.h"
#include "app/about.h"
#include "win/CodePage.h"

std::wstring Main::iniFilePath;
bool Main::someSetting = false;
int32_t Main::idMyDlg = -1;
std::unique_ptr<::frmMyDlg> Main::frmMyDlg;
std::unique_ptr<::about> Main::aboutf;
std::optional<std::pair<int32_t, int32_t>> Main::filterWindowPosition;
siftwell::app::RunOptions Main::filterOptions;
std::shared_ptr<siftwell::app::PatternStore> Main::patterns;
int32_t Main::firstPresetSlot = -1;

namespace {
constexpr wchar_t kSection[] = L"SomeSection";
constexpr wchar_t kKey[] = L"SomeKey";
constexpr wchar_t kWindowSection[] = L"FilterWindow";
constexpr wchar_t kLeftKey[] = L"Left";
constexpr wchar_t kTopKey[] = L"Top";
constexpr wchar_t kOptionsSection[] = L"Options";
constexpr wchar_t kWholeLinesKey[] = L"WholeLines";
constexpr wchar_t kMatchCaseKey[] = L"MatchCase";
constexpr wchar_t kInSelectionKey[] = L"InSelection";
constexpr wchar_t kResultKey[] = L"Result";
constexpr wchar_t kOutputKey[] = L"Output";
constexpr wchar_t kHighlightKey[] = L"Highlight";
constexpr wchar_t kUniqueKey[] = L"Unique";
constexpr wchar_t kTallyKey[] = L"Tally";
constexpr wchar_t kLineNumbersKey[] = L"LineNumbers";
constexpr uint8_t kKeyX = 88;

// The host reads the toolbar records during the message only.
struct toolbarIcons {
  HBITMAP hToolbarBmp;
  HICON hToolbarIcon;
};
static_assert(sizeof(toolbarIcons) == 2 * sizeof(void*));
struct toolbarIconsWithDarkMode {
  HBITMAP hToolbarBmp;
  HICON hToolbarIcon;
  HICON hToolbarIconDarkMode;
};
static_assert(sizeof(toolbarIconsWithDarkMode) == 3 * sizeof(void*));

HWND Host() { return PluginBase::nppData._nppHandle; }

std::optional<int32_t> ReadInt(const wchar_t* section, const wchar_t* key) {
  wchar_t text[32] = {};
  GetPrivateProfileStringW(section, key, L"", text, 32, Main::iniFilePath.c_str());
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  if (end == text || *end != L'\0') return std::nullopt;
  return static_cast<int32_t>(value);
}

void WriteInt(const wchar_t* section, const wchar_t* key, int32_t value) {
  Win32::WritePrivateProfileStringW(section, key, std::to_wstring(value), Main::iniFilePath);
}

// The filter window's place: where the user left it, else the top-right
// corner of the host's editing area (the active view), clear of its menu and
// toolbar.
void PlaceFilterWindow(::frmMyDlg& window) {
  if (Main::filterWindowPosition &&
      window.MoveTo(Main::filterWindowPosition->first, Main::filterWindowPosition->second)) {
    return;
  }
  RECT view{}, outer{};
  HWND editor = PluginBase::GetCurrentScintilla();
  if (editor == nullptr || !GetWindowRect(editor, &view) || !GetWindowRect(window.Handle(), &outer)) return;
  const int32_t margin = MulDiv(12, static_cast<int>(siftwell::win::DpiOf(editor)), 96);
  const int32_t width = outer.right - outer.left;
  window.MoveTo(std::max<int32_t>(view.left, view.right - width - margin), view.top + margin);
}

// The editor's modification flags of an SCN_MODIFIED record. The record's
// position field is pointer-sized in the editor of hosts from 8.3 on (64-bit
// positions), so on x64 the flags stand 4 bytes further than in older hosts;
// on x86 both layouts agree.
uint32_t ModificationFlags(const ScNotification& notification) {
  static const bool widePositions = siftwell::npp::HostVersion::Query(Host()).HasWidePositions();
  const std::size_t offset = sizeof(ScNotificationHeader) + (widePositions ? sizeof(intptr_t) : sizeof(int32_t)) +
                             2 * sizeof(int32_t);
  uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const std::byte*>(&notification) + offset, sizeof(flags));
  return flags;
}

// A double-click in a result of whole lines in a new tab goes to its source
// line once the editor is done with the click (a timer of this thread: the
// host is then no longer inside the click, which would else act on the
// document brought forward).
HWND pendingJumpView = nullptr;
UINT_PTR jumpTimer = 0;

void CALLBACK JumpLater(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  jumpTimer = 0;
  HWND view = std::exchange(pendingJumpView, nullptr);
  if (view == nullptr || view != PluginBase::GetCurrentScintilla()) return;
  const siftwell::app::JumpAnswer answer = siftwell::app::JumpToSource(Host(), view);
  if (!answer.refusal) return;
  // Said in the filter window when it is open, else in the host's status bar.
  const std::wstring words = siftwell::app::Words(*answer.refusal);
  if (Main::frmMyDlg && !Main::frmMyDlg->IsClosed() && Main::frmMyDlg->ShowNotice(words)) return;
  Win32::SendMessage(Host(), static_cast<uint32_t>(NppMsg::NPPM_SETSTATUSBAR),
                     static_cast<intptr_t>(NppMsg::STATUSBAR_DOC_TYPE), reinterpret_cast<intptr_t>(words.c_str()));
}

void RememberFilterWindow() {
  if (!Main::frmMyDlg) return;
  Main::filterWindowPosition = Main::frmMyDlg->LastPosition();
  Main::filterOptions = Main::frmMyDlg->Options();
}

// A flag as 0 or 1; anything else keeps the default.
bool ReadFlag(const wchar_t* key, bool fallback) {
  const auto value = ReadInt(kOptionsSection, key);
  return value && (*value == 0 || *value == 1) ? *value == 1 : fallback;
}

void ReadOptions() {
  siftwell::app::RunOptions& options = Main::filterOptions;
  options.wholeLines = ReadFlag(kWholeLinesKey, false);
  options.matchCase = ReadFlag(kMatchCaseKey, true);
  options.inSelection = ReadFlag(kInSelectionKey, false);
  const auto target = ReadInt(kOptionsSection, kResultKey);
  options.target = target && *target >= 0 && *target <= 2 ? static_cast<siftwell::app::Target>(*target)
                                                         : siftwell::app::Target::Document;
  // Written between quotes, which the profile functions take off: spaces at
  // either end stay.
  std::wstring text(1024, L'\0');
  const DWORD n = GetPrivateProfileStringW(kOptionsSection, kOutputKey, L"", text.data(),
                                           static_cast<DWORD>(text.size()), Main::iniFilePath.c_str());
  text.resize(n);
  options.outputTemplate = std::move(text);
  options.highlight = ReadFlag(kHighlightKey, true);
  options.unique = ReadFlag(kUniqueKey, false);
  options.tally = ReadFlag(kTallyKey, false);
  options.lineNumbers = ReadFlag(kLineNumbersKey, false);
}

// The preset commands: one function per slot (the host calls plain functions).
template <int32_t Slot>
void RunPresetSlot() {
  Main::RunPreset(Slot);
}
template <std::size_t... Slot>
constexpr std::array<NppFuncItemDelegate, sizeof...(Slot)> PresetSlotFunctions(std::index_sequence<Slot...>) {
  return {&RunPresetSlot<static_cast<int32_t>(Slot)>...};
}
constexpr auto kPresetSlotFunctions = PresetSlotFunctions(std::make_index_sequence<Main::kPresetSlots>());

// "Preset 3: Errors in order", or "Preset 3 (empty)", in the host's 63 characters.
std::wstring PresetCommandName(int32_t slot) {
  std::wstring name = L"Preset " + std::to_wstring(slot + 1);
  const std::vector<siftwell::engine::Preset>* presets = Main::patterns ? &Main::patterns->Presets() : nullptr;
  if (presets == nullptr || static_cast<std::size_t>(slot) >= presets->size()) return name + L" (empty)";
  name += L": ";
  for (wchar_t c : siftwell::win::Utf8ToWide((*presets)[static_cast<std::size_t>(slot)].name))
    if (c != L'&') name += c < L' ' ? L' ' : c;  // (a menu would underline the next letter)
  if (name.size() > NativeFuncItem::kNameUnits - 1) {
    name.resize(NativeFuncItem::kNameUnits - 2);
    if (!name.empty() && name.back() >= 0xD800 && name.back() < 0xDC00) name.pop_back();
    name += L"\u2026";
  }
  return name;
}

void WriteOptions() {
  const siftwell::app::RunOptions& options = Main::filterOptions;
  WriteInt(kOptionsSection, kWholeLinesKey, options.wholeLines ? 1 : 0);
  WriteInt(kOptionsSection, kMatchCaseKey, options.matchCase ? 1 : 0);
  WriteInt(kOptionsSection, kInSelectionKey, options.inSelection ? 1 : 0);
  WriteInt(kOptionsSection, kResultKey, static_cast<int32_t>(options.target));
  Win32::WritePrivateProfileStringW(kOptionsSection, kOutputKey, L"\"" + options.outputTemplate + L"\"",
                                    Main::iniFilePath);
  WriteInt(kOptionsSection, kHighlightKey, options.highlight ? 1 : 0);
  WriteInt(kOptionsSection, kUniqueKey, options.unique ? 1 : 0);
  WriteInt(kOptionsSection, kTallyKey, options.tally ? 1 : 0);
  WriteInt(kOptionsSection, kLineNumbersKey, options.lineNumbers ? 1 : 0);
}

// The indicator the host hands to the plugin for Highlight, asked for once:
// none from a host before NPPM_ALLOCATEINDICATOR (by its version, or because it
// answers FALSE). No number is ever guessed: an indicator the host did not hand
// out may be another plugin's or the host's own.
std::optional<int32_t> HighlightIndicator() {
  static std::optional<int32_t> indicator;
  static bool asked = false;
  if (std::exchange(asked, true)) return indicator;
  if (!siftwell::npp::HostVersion::Query(Host()).HasIndicatorAllocation()) return indicator;
  int32_t first = 0;
  if (Win32::SendMessage(Host(), static_cast<uint32_t>(NppMsgNewer::NPPM_ALLOCATEINDICATOR), 1,
                         reinterpret_cast<intptr_t>(&first)) != 0 &&
      first > 0 && first <= static_cast<int32_t>(SciMsg::INDIC_MAX)) {
    indicator = first;
  }
  return indicator;
}
}  // namespace

void Main::CommandMenuInit() {
  Win32::TextBuffer buffer(Win32::MAX_PATH);
  Win32::SendMessage(PluginBase::nppData._nppHandle, static_cast<uint32_t>(NppMsg::NPPM_GETPLUGINSCONFIGDIR),
                     Win32::MAX_PATH, buffer);
  const std::wstring& configDir = buffer.Text();
  // Without a directory from the host there is no settings file: a bare file
  // name would land in the Windows directory.
  if (!configDir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(configDir, ignored);
    iniFilePath = (std::filesystem::path(configDir) / L"Siftwell.ini").wstring();
    // Wide profile functions: the path may hold characters the ANSI code page lacks.
    someSetting = Win32::GetPrivateProfileIntW(kSection, kKey, 0, iniFilePath) != 0;
    const auto left = ReadInt(kWindowSection, kLeftKey), top = ReadInt(kWindowSection, kTopKey);
    if (left && top) filterWindowPosition = {*left, *top};
    ReadOptions();
  }
  try {
    patterns = std::make_shared<siftwell::app::PatternStore>(configDir);
    patterns->presetsChanged = &RenamePresetCommands;
  } catch (...) {
    patterns.reset();  // no history and no presets rather than no plugin
  }

  PluginBase::SetCommand(0, u"About", &myMenuFunction);
  PluginBase::SetCommand(1, u"Open Siftwell", &myDockableDialog, ShortcutKey(true, false, true, kKeyX));
  idMyDlg = 1;
  // A separator (no name, no function), then the preset slots.
  PluginBase::SetCommand(2, u"", nullptr);
  firstPresetSlot = 3;
  for (int32_t slot = 0; slot < kPresetSlots; ++slot) {
    std::wstring name;
    try {
      name = PresetCommandName(slot);
    } catch (...) {
      name = L"Preset " + std::to_wstring(slot + 1);
    }
    PluginBase::SetCommand(firstPresetSlot + slot, std::u16string(name.begin(), name.end()),
                           kPresetSlotFunctions[static_cast<std::size_t>(slot)]);
  }
}

void Main::RenamePresetCommands() {
  if (firstPresetSlot < 0) return;
  auto menu = reinterpret_cast<HMENU>(Win32::SendMessage(Host(), static_cast<uint32_t>(NppMsg::NPPM_GETMENUHANDLE),
                                                         static_cast<intptr_t>(NppMsg::NPPPLUGINMENU), 0));
  if (menu == nullptr) return;
  for (int32_t slot = 0; slot < kPresetSlots && firstPresetSlot + slot < PluginBase::_funcItems.Count(); ++slot) {
    const auto id = static_cast<UINT>(
        PluginBase::_funcItems.Items()[static_cast<std::size_t>(firstPresetSlot + slot)]._cmdID);
    wchar_t old[256] = {};
    if (GetMenuStringW(menu, id, old, 256, Win32::MF_BYCOMMAND) <= 0) continue;
    // The host shows a bound key after a TAB: it stays.
    const wchar_t* tab = std::wcschr(old, L'\t');
    const std::wstring name = PresetCommandName(slot) + (tab != nullptr ? std::wstring(tab) : std::wstring());
    ModifyMenuW(menu, id, static_cast<UINT>(Win32::MF_BYCOMMAND) | MF_STRING, id, name.c_str());
  }
}

void Main::RunPreset(int32_t slot) {
  try {
    if (!patterns) return;
    patterns->ReloadPresets();  // the names in the menu follow a changed file
    myDockableDialog();
    if (!frmMyDlg || frmMyDlg->IsClosed() || frmMyDlg->IsRunning()) return;  // one run at a time
    const std::vector<siftwell::engine::Preset>& presets = patterns->Presets();
    if (static_cast<std::size_t>(slot) >= presets.size()) {
      frmMyDlg->ShowMessage(
          patterns->PresetsProblem()
              ? L"The presets file cannot be read" +
                    (patterns->PresetsProblem()->line != 0
                         ? L" (line " + std::to_wstring(patterns->PresetsProblem()->line) + L")"
                         : std::wstring()) +
                    L": " + patterns->PresetsFile() + L"."
              : L"There is no preset " + std::to_wstring(slot + 1) +
                    L". Save one from the list beside the pattern field (Alt+Down): Presets, Save current as\u2026",
          true);
      return;
    }
    frmMyDlg->SetFields(siftwell::app::FieldsOf(presets[static_cast<std::size_t>(slot)], frmMyDlg->Options()));
    frmMyDlg->button1_Click();
  } catch (...) {
    // A command must never take the host down.
  }
}

// A host that knows the dark-mode toolbar message gets the bitmap and both
// icons, so the button shows in every icon set; an older one (by its version,
// or because it answers 0) gets the bitmap through the old message.
void Main::SetToolBarIcon() {
  if (idMyDlg < 0 || idMyDlg >= PluginBase::_funcItems.Count()) return;
  const int32_t cmdId = PluginBase::_funcItems.Items()[static_cast<std::size_t>(idMyDlg)]._cmdID;
  const HINSTANCE module = PluginBase::Module();
  if (siftwell::npp::HostVersion::Query(Host()).HasDarkModeToolbarIcon()) {
    toolbarIconsWithDarkMode icons{MakeToolbarBitmap(module), MakeToolbarIcon(module, ToolbarIcon::Standard),
                                   MakeToolbarIcon(module, ToolbarIcon::DarkMode)};
    if (Win32::SendMessage(Host(), static_cast<uint32_t>(NppMsgNewer::NPPM_ADDTOOLBARICON_FORDARKMODE), cmdId,
                           reinterpret_cast<intptr_t>(&icons)) != 0) {
      return;  // the host keeps the three handles
    }
    if (icons.hToolbarBmp != nullptr) DeleteObject(icons.hToolbarBmp);
    if (icons.hToolbarIcon != nullptr) DestroyIcon(icons.hToolbarIcon);
    if (icons.hToolbarIconDarkMode != nullptr) DestroyIcon(icons.hToolbarIconDarkMode);
  }
  toolbarIcons icons{MakeToolbarBitmap(module), nullptr};
  Win32::SendMessage(Host(), static_cast<uint32_t>(NppMsg::NPPM_ADDTOOLBARICON), cmdId,
                     reinterpret_cast<intptr_t>(&icons));
}

void Main::PluginCleanUp() {
  RememberFilterWindow();
  if (!iniFilePath.empty()) {
    Win32::WritePrivateProfileStringW(kSection, kKey, someSetting ? L"1" : L"0", iniFilePath);
    if (filterWindowPosition) {
      WriteInt(kWindowSection, kLeftKey, filterWindowPosition->first);
      WriteInt(kWindowSection, kTopKey, filterWindowPosition->second);
    }
    WriteOptions();
  }
  // The host unloads us next: no window or request of ours may outlive the code.
  if (jumpTimer != 0) KillTimer(nullptr, std::exchange(jumpTimer, 0));
  frmMyDlg.reset();
  aboutf.reset();
  siftwell::win::UnregisterWindowClasses(PluginBase::Module());
  siftwell::app::CancelUsagePings();
}

void Main::OnNotification(const ScNotification& notification) {
  const uint32_t code = notification.Header.Code;
  // A run in flight stops when its document is switched away, closed or made
  // read-only, and before the host shuts down; an edit stops it too (below).
  if (frmMyDlg && frmMyDlg->IsRunning()) {
    switch (static_cast<NppMsg>(code)) {
      case NppMsg::NPPN_BEFORESHUTDOWN:
        frmMyDlg->CancelRun();
        break;
      case NppMsg::NPPN_BUFFERACTIVATED:
      case NppMsg::NPPN_FILEBEFORECLOSE:
      case NppMsg::NPPN_FILECLOSED:
      case NppMsg::NPPN_READONLYCHANGED:
        frmMyDlg->CheckRun();
        break;
      default:
        break;
    }
  }
  // A result's lines lead back to its source while both are open.
  if (code == static_cast<uint32_t>(NppMsg::NPPN_FILECLOSED)) {
    siftwell::app::ForgetBuffer(notification.Header.IdFrom);
  } else if (code == static_cast<uint32_t>(SciMsg::SCN_DOUBLECLICK) && siftwell::app::RememberedOrigins() > 0 &&
             (notification.Header.hwndFrom == PluginBase::nppData._scintillaMainHandle ||
              notification.Header.hwndFrom == PluginBase::nppData._scintillaSecondHandle)) {
    pendingJumpView = notification.Header.hwndFrom;
    if (jumpTimer == 0) jumpTimer = SetTimer(nullptr, 0, 0, &JumpLater);
  }
  // The open windows follow the host's mode; the live count follows the
  // active document and its edits.
  const bool filterOpen = frmMyDlg && !frmMyDlg->IsClosed();
  if (code == static_cast<uint32_t>(NppMsgNewer::NPPN_DARKMODECHANGED)) {
    if (filterOpen) frmMyDlg->HostThemeChanged();
    if (aboutf && !aboutf->IsClosed()) aboutf->HostThemeChanged();
  } else if (code == static_cast<uint32_t>(NppMsg::NPPN_BUFFERACTIVATED)) {
    if (filterOpen) frmMyDlg->DocumentChanged();
  } else if (code == static_cast<uint32_t>(SciMsg::SCN_UPDATEUI) && filterOpen) {
    frmMyDlg->SelectionChanged();  // (cheap: one question to the active view)
    frmMyDlg->ViewScrolled();      // (a few: which lines it shows)
  } else if (code == static_cast<uint32_t>(SciMsg::SCN_MODIFIED) && filterOpen &&
             (notification.Header.hwndFrom == PluginBase::nppData._scintillaMainHandle ||
              notification.Header.hwndFrom == PluginBase::nppData._scintillaSecondHandle)) {
    constexpr auto kTextChanged =
        static_cast<uint32_t>(SciMsg::SC_MOD_INSERTTEXT) | static_cast<uint32_t>(SciMsg::SC_MOD_DELETETEXT);
    if ((ModificationFlags(notification) & kTextChanged) != 0) frmMyDlg->DocumentEdited(notification.Header.hwndFrom);
  }
}

void Main::myMenuFunction() {
  if (!aboutf || aboutf->IsClosed()) aboutf = ::about::Create(PluginBase::Module(), PluginBase::nppData._nppHandle);
  if (aboutf) aboutf->Show();
}

void Main::myDockableDialog() {
  std::wstring suffix;
  if (!siftwell::app::StartUsagePing()) suffix = L"e";

  try {
    if (!frmMyDlg || frmMyDlg->IsClosed()) {
      // A window closed earlier is replaced by a fresh one; only the very first
      // window carries the mark of a ping that could not start.
      const bool first = !frmMyDlg;
      RememberFilterWindow();
      frmMyDlg = ::frmMyDlg::Create(PluginBase::Module(), PluginBase::nppData._nppHandle,
                                    ::frmMyDlg::CurrentViewRunner(), ::frmMyDlg::CurrentViewSource(),
                                    ::frmMyDlg::CurrentView());
      if (!frmMyDlg) return;
      frmMyDlg->SetHighlightIndicator(HighlightIndicator(), {PluginBase::nppData._scintillaMainHandle,
                                                             PluginBase::nppData._scintillaSecondHandle});
      frmMyDlg->SetOptions(filterOptions);
      frmMyDlg->SetPatternStore(patterns);
      frmMyDlg->SetTitle(std::wstring(PluginName) + (first ? suffix : std::wstring()));
      PlaceFilterWindow(*frmMyDlg);
    }
    // Open already or not: forward, with the caret in the pattern field.
    frmMyDlg->Present();
  } catch (...) {
    // Showing the window must never take the host down.
  }
}
