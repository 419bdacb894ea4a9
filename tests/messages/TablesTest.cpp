// The compiled tables against data/*.tsv, and the values that the tables are known by.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "npp/HostVersion.h"
#include "npp/Tables.h"

using siftwell::npp::DarkModeInHostConfig;
using siftwell::npp::HostConfigFile;
using siftwell::npp::HostVersion;

namespace {

struct CompiledRow {
  const char* file;
  const char* name;
  int64_t value;
};

// Every row, its value read from the compiled enumeration (generated list, data order).
const CompiledRow kCompiled[] = {
#include "TableRows.inc"
};

struct DataRow {
  std::string name;
  int64_t value;
  std::string kind;
};

std::vector<DataRow> ReadData(const std::string& file) {
  std::ifstream in(std::string(SIFTWELL_DATA_DIR) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<DataRow> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    DataRow row;
    std::string value;
    std::getline(fields, row.name, '\t');
    std::getline(fields, value, '\t');
    std::getline(fields, row.kind, '\t');
    row.value = std::stoll(value);
    rows.push_back(row);
  }
  return rows;
}

template <class E>
constexpr int64_t V(E e) {
  return static_cast<int64_t>(e);
}

// --- widths and operators ---
template <class E, class U>
constexpr bool kUnderlying = std::is_same_v<std::underlying_type_t<E>, U>;
static_assert(kUnderlying<NppMsg, uint32_t> && kUnderlying<SciMsg, uint32_t> &&
              kUnderlying<NppMenuCmd, uint32_t> && kUnderlying<DockMgrMsg, uint32_t> &&
              kUnderlying<NppTbMsg, uint32_t>);
static_assert(kUnderlying<LangType, int32_t> && kUnderlying<winVer, int32_t> &&
              kUnderlying<Preference, int32_t> && kUnderlying<Resource, int32_t> &&
              kUnderlying<Win32::ScrollInfoMask, int32_t> && kUnderlying<Win32::ScrollInfoBar, int32_t>);
static_assert(std::is_same_v<decltype(Constants::WM_USER), const int32_t> &&
              std::is_same_v<decltype(Constants::NPPMSG), const int32_t>);
static_assert(std::is_empty_v<Constants>);
static_assert(std::is_same_v<decltype(NppMsg::NPPMSG | NppMsg::NPPMSG), NppMsg> &&
              std::is_same_v<decltype(SciMsg::SCFIND_REGEXP | SciMsg::SCFIND_MATCHCASE), SciMsg> &&
              std::is_same_v<decltype(DockMgrMsg::DMM_MSG & DockMgrMsg::DMM_MSG), DockMgrMsg> &&
              std::is_same_v<decltype(NppTbMsg::DWS_ICONTAB | NppTbMsg::DWS_ICONBAR), NppTbMsg>);

TEST(Tables, EqualTheDataRowForRowInOrder) {
  std::map<std::string, std::vector<const CompiledRow*>> byFile;
  for (const auto& row : kCompiled)
    if (!std::string_view(row.file).ends_with(":since")) byFile[row.file].push_back(&row);
  const std::map<std::string, size_t> counts = {
      {"nppmsg_newer.tsv", 8},
      {"nppmsg.tsv", 149},    {"scimsg.tsv", 1011},     {"nppmenucmd.tsv", 343},
      {"langtype.tsv", 61},   {"winver.tsv", 15},       {"dockmgrmsg.tsv", 24},
      {"npptbmsg.tsv", 14},   {"preference.tsv", 264},  {"resource.tsv", 279},
      {"constants.tsv", 2},   {"scrollinfomask.tsv", 6}, {"scrollinfobar.tsv", 4}};
  ASSERT_EQ(byFile.size(), counts.size());
  for (const auto& [file, count] : counts) {
    const auto data = ReadData(file);
    const auto& compiled = byFile[file];
    ASSERT_EQ(data.size(), count) << file;
    ASSERT_EQ(compiled.size(), count) << file;
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(compiled[i]->name, data[i].name) << file << " row " << i;
      EXPECT_EQ(compiled[i]->value, data[i].value) << file << " " << data[i].name;
      EXPECT_TRUE(names.insert(data[i].name).second) << file << " repeats " << data[i].name;
    }
  }
}

// "8.5.4" -> what NPPM_GETNPPVERSION answers with wParam TRUE: 8 << 16 | 540.
int64_t VersionAnswer(const std::string& text) {
  const size_t dot = text.find('.');
  const int64_t major = std::stoll(text.substr(0, dot));
  std::string minor = dot == std::string::npos ? "" : text.substr(dot + 1);
  std::erase(minor, '.');
  while (minor.size() < 3) minor += '0';
  return major << 16 | std::stoll(minor);
}

TEST(Tables, NewerHostMessagesStandApart) {
  // Their own table: none of them is a row of the published host table.
  std::set<std::string> published;
  for (const auto& row : ReadData("nppmsg.tsv")) published.insert(row.name);
  const auto newer = ReadData("nppmsg_newer.tsv");
  std::map<std::string, int64_t> since;
  for (const auto& row : kCompiled)
    if (std::string_view(row.file) == "nppmsg_newer.tsv:since") since[row.name] = row.value;
  ASSERT_EQ(since.size(), newer.size());
  for (const auto& row : newer) {
    EXPECT_EQ(published.count(row.name), 0u) << row.name;
    EXPECT_EQ(since[row.name], VersionAnswer(row.kind)) << row.name << " since " << row.kind;
    EXPECT_GE(since[row.name], int64_t{8} << 16) << row.name;
  }
}

// What hosts answer to NPPM_GETNPPVERSION with TRUE and FALSE, and what the plugin makes of it:
// hosts before the padding argument answer the minor digits unpadded (8.3.3 gives 33, which
// must not read as below 8.3).
TEST(Tables, HostVersionFromTheHostsAnswers) {
  struct Row {
    uint32_t padded, unpadded;
    const char* text;
    bool widePositions, darkMode, darkModeQueries, theming;
  };
  constexpr uint32_t k7 = 7u << 16, k8 = 8u << 16, k9 = 9u << 16;
  const Row rows[] = {
      {0, 0, "unknown", false, false, false, false},  // no answer
      {k7 | 93u, k7 | 93u, "7.9.3", false, false, false, false},
      {k8, k8, "8", false, true, false, false},
      {k8 | 1u, k8 | 1u, "8.1", false, true, false, false},
      {k8 | 3u, k8 | 3u, "8.3", true, true, false, false},
      {k8 | 33u, k8 | 33u, "8.3.3", true, true, false, false},  // 8.3.3 as it answers
      {k8 | 41u, k8 | 41u, "8.4.1", true, true, true, false},
      {k8 | 540u, k8 | 54u, "8.5.4", true, true, true, true},
      {k8 | 970u, k8 | 97u, "8.9.7", true, true, true, true},  // 8.9.7 as it answers
      {k8 | 964u, k8 | 964u, "8.9.6.4", true, true, true, true},
      {k9 | 10u, k9 | 1u, "9.0.1", true, true, true, true},
      {k9, k9, "9", true, true, true, true},
  };
  for (const Row& row : rows) {
    const HostVersion version = HostVersion::FromAnswers(row.padded, row.unpadded);
    EXPECT_EQ(version.Text(), row.text) << row.padded;
    EXPECT_EQ(version.HasWidePositions(), row.widePositions) << row.text;
    EXPECT_EQ(version.HasDarkMode(), row.darkMode) << row.text;
    EXPECT_EQ(version.HasDarkModeToolbarIcon(), row.darkMode) << row.text;
    EXPECT_EQ(version.HasDarkModeQueries(), row.darkModeQueries) << row.text;
    EXPECT_EQ(version.HasDarkModeTheming(), row.theming) << row.text;
  }
  EXPECT_FALSE(HostVersion::FromAnswers(k8 | 33u, k8 | 33u).HasIndicatorAllocation());
  EXPECT_TRUE(HostVersion::FromAnswers(k8 | 970u, k8 | 97u).HasIndicatorAllocation());
}

// Dark mode from the host's config.xml, for hosts that cannot be asked.
TEST(Tables, DarkModeFromTheHostsSettingsFile) {
  struct Row {
    const char* xml;
    std::optional<bool> dark;
  };
  const Row rows[] = {
      {R"(<GUIConfigs><GUIConfig name="DarkMode" enable="yes" colorTone="0" /></GUIConfigs>)", true},
      {R"(<GUIConfigs><GUIConfig name="DarkMode" enable="no" colorTone="0" /></GUIConfigs>)", false},
      {R"(<GUIConfig name="TabBar" enable="yes" /><GUIConfig enable = 'yes' name='DarkMode'/>)", true},
      {R"(<GUIConfig name="DarkModeX" enable="yes" /><GUIConfig name="DarkMode" enable="no"/>)", false},
      {R"(<GUIConfig name="DarkMode" />)", false},
      {R"(<GUIConfig name="ToolBar" visible="yes">standard</GUIConfig>)", std::nullopt},
      {R"(<GUIConfig name="DarkMode" enable="yes)", std::nullopt},  // cut short
      {"", std::nullopt},
  };
  for (const Row& row : rows) EXPECT_EQ(DarkModeInHostConfig(row.xml), row.dark) << row.xml;
  EXPECT_EQ(HostConfigFile(L"C:\\npp\\plugins\\Config"), L"C:\\npp\\config.xml");
  EXPECT_EQ(HostConfigFile(L"C:\\Users\\é\\AppData\\Roaming\\Notepad++\\plugins\\Config\\"),
            L"C:\\Users\\é\\AppData\\Roaming\\Notepad++\\config.xml");
  EXPECT_EQ(HostConfigFile(L"Config"), L"");
  EXPECT_EQ(HostConfigFile(L""), L"");
}

TEST(Tables, SciMsgCompositionFollowsTheInterface) {
  std::map<std::string, int> kinds;
  std::set<int64_t> messageNumbers, notificationNumbers;
  for (const auto& row : ReadData("scimsg.tsv")) {
    ++kinds[row.kind];
    if (row.kind == "message") {
      EXPECT_EQ(row.name.rfind("SCI_", 0), 0u) << row.name;
      EXPECT_TRUE(messageNumbers.insert(row.value).second) << "two names for " << row.value;
    }
    if (row.kind == "notification") notificationNumbers.insert(row.value);
  }
  EXPECT_EQ(kinds["marker"], 3);
  EXPECT_EQ(kinds["message"], 678);
  EXPECT_EQ(kinds["notification"], 29);
  EXPECT_EQ(kinds["constant"], 301);
  for (int64_t n = 2000; n <= 2029; ++n) EXPECT_EQ(notificationNumbers.count(n), n == 2012 ? 0u : 1u) << n;
  EXPECT_EQ(*messageNumbers.rbegin(), 4028);
  EXPECT_EQ(messageNumbers.count(4019), 0u);
  EXPECT_EQ(messageNumbers.count(2687), 1u);
  EXPECT_EQ(messageNumbers.count(2688), 0u);
  EXPECT_EQ(messageNumbers.count(3001) + messageNumbers.count(3002), 2u);
  // The table opens with INVALID_POSITION and closes with the Notepad++ addition.
  EXPECT_STREQ(ReadData("scimsg.tsv").front().name.c_str(), "INVALID_POSITION");
  EXPECT_STREQ(ReadData("scimsg.tsv").back().name.c_str(), "SC_SEARCHRESULT_LINEBUFFERMAXLENGTH");
}

TEST(Tables, OnlyIdcStaticIsNegative) {
  std::vector<std::string> negative;
  for (const auto& row : kCompiled)
    if (row.value < 0) negative.push_back(row.name);
  EXPECT_EQ(negative, std::vector<std::string>{"IDC_STATIC"});
}

// Values written out by hand: the rows the plugin sends or reads, the ones built on a base,
// aliases, values above INT32_MAX, misspelled names, and those that stand apart from their
// neighbours. A data file edited by mistake shows here, not only the row-for-row check above.
struct Known {
  const char* what;
  int64_t value, expected;
};
#define K(e, n) {#e, V(e), n}
const Known kKnown[] = {
    // The host's header builds the newer messages on its bases.
    K(NppMsgNewer::NPPM_ADDTOOLBARICON_FORDARKMODE, V(NppMsg::NPPMSG) + 101),
    K(NppMsgNewer::NPPM_ISDARKMODEENABLED, V(NppMsg::NPPMSG) + 107),
    K(NppMsgNewer::NPPM_GETDARKMODECOLORS, V(NppMsg::NPPMSG) + 108),
    K(NppMsgNewer::NPPM_DARKMODESUBCLASSANDTHEME, V(NppMsg::NPPMSG) + 112),
    K(NppMsgNewer::NPPM_ALLOCATEINDICATOR, V(NppMsg::NPPMSG) + 113),
    K(NppMsgNewer::NPPN_DARKMODECHANGED, V(NppMsg::NPPN_FIRST) + 27), K(NppMsgNewer::dmfInit, 0x0B),
    K(NppMsgNewer::dmfHandleChange, 0x0C), K(NppMsgNewerSince::NPPM_ADDTOOLBARICON_FORDARKMODE, 0x00080000),
    K(NppMsgNewerSince::NPPM_DARKMODESUBCLASSANDTHEME, (8 << 16) | 540),
    // Negative and above INT32_MAX.
    K(Resource::IDC_STATIC, -1), K(SciMsg::INVALID_POSITION, 4294967295), K(SciMsg::SC_CURSORNORMAL, 4294967295),
    {"int32 INVALID_POSITION", static_cast<int32_t>(SciMsg::INVALID_POSITION), -1},
    {"int32 SC_CURSORNORMAL", static_cast<int32_t>(SciMsg::SC_CURSORNORMAL), -1},
    K(SciMsg::SC_MASK_FOLDERS, 4261412864), K(NppTbMsg::DWS_DF_FLOATING, 2147483648),
    K(NppTbMsg::DWS_DF_FLOATING | NppTbMsg::DWS_ICONTAB | NppTbMsg::DWS_ICONBAR, 2147483651),
    // Constants and host message bases.
    {"WM_USER", Constants::WM_USER, 1024}, {"NPPMSG", Constants::NPPMSG, 2024},
    {"NPPMSG base", Constants::NPPMSG, Constants::WM_USER + 1000}, K(NppMsg::NPPMSG, Constants::NPPMSG),
    K(NppMsg::RUNCOMMAND_USER, Constants::WM_USER + 3000), K(NppMsg::NPPM_GETCURRENTSCINTILLA, V(NppMsg::NPPMSG) + 4),
    K(NppMsg::NPPM_SAVEFILE, V(NppMsg::NPPMSG) + 94),
    K(NppMsg::NPPM_GETFULLCURRENTPATH, V(NppMsg::RUNCOMMAND_USER) + V(NppMsg::FULL_CURRENT_PATH)),
    K(NppMsg::NPPM_GETFULLCURRENTPATH, 4025),
    K(NppMsg::NPPM_GETCURRENTCOLUMN, V(NppMsg::RUNCOMMAND_USER) + V(NppMsg::CURRENT_COLUMN)),
    K(NppMsg::NPPN_SHUTDOWN, V(NppMsg::NPPN_FIRST) + 9), K(NppMsg::NPPN_FILEDELETED, V(NppMsg::NPPN_FIRST) + 26),
    K(Resource::NPPM_INTERNAL_CLEARINDICATOR, V(Resource::NOTEPADPLUS_USER_INTERNAL) + 15),
    K(Resource::NPPM_INTERNAL_CLEARINDICATOR, 1039), K(NppTbMsg::DWS_DF_CONT_BOTTOM, V(NppTbMsg::CONT_BOTTOM) << 28),
    K(NppTbMsg::DWS_DF_CONT_BOTTOM, 805306368), K(Win32::ScrollInfoMask::SIF_ALL, 23),
    K(Win32::ScrollInfoMask::SIF_ALL, V(Win32::ScrollInfoMask::SIF_RANGE) + V(Win32::ScrollInfoMask::SIF_PAGE) +
                                          V(Win32::ScrollInfoMask::SIF_POS) + V(Win32::ScrollInfoMask::SIF_TRACKPOS)),
    // Rows the system sends or reads.
    K(NppMsg::NPPM_GETCURRENTSCINTILLA, 2028), K(NppMsg::NPPM_GETPLUGINSCONFIGDIR, 2070),
    K(NppMsg::NPPM_ADDTOOLBARICON, 2065), K(NppMsg::NPPN_TBMODIFICATION, 1002), K(NppMsg::NPPN_SHUTDOWN, 1009),
    K(SciMsg::SCI_GETLENGTH, 2006), K(SciMsg::SCI_GETTEXT, 2182), K(SciMsg::SCI_SETTEXT, 2181),
    K(NppMsg::NPPM_MENUCOMMAND, 2072), K(NppMenuCmd::IDM_FILE_NEW, 41001),
    K(NppMsg::NPPM_GETFULLPATHFROMBUFFERID, 2082), K(NppMsg::NPPM_SETCURRENTLANGTYPE, 2030),
    K(SciMsg::SCI_FORMATRANGE, 2151),
    // Aliases.
    K(NppMsg::NPPM_GETFULLPATHFROMBUFFERID, V(NppMsg::NPPM_UPDATEREBAR)),
    K(NppMsg::NPPM_GETPOSFROMBUFFERID, V(NppMsg::NPPM_ADDREBAR)),
    K(NppMsg::NPPM_GETBUFFERIDFROMPOS, V(NppMsg::NPPM_REMOVEREBAR)),
    K(NppMenuCmd::IDM_FILEMENU_LASTONE, V(NppMenuCmd::IDM_FILE_RENAME)), K(NppMenuCmd::IDM_FILE_RENAME, 41017),
    K(NppMenuCmd::IDM_FORMAT_ENCODE, V(NppMenuCmd::IDM_FORMAT_WIN_1250)),
    K(NppMenuCmd::IDM_FORMAT_ENCODE_END, V(NppMenuCmd::IDM_FORMAT_KOI8R_CYRILLIC)),
    K(NppMenuCmd::IDM_FORMAT_ENCODE_END, V(NppMenuCmd::IDM_FORMAT_ENCODE) + 48),  // 49 encodings
    K(DockMgrMsg::IDC_BTN_CAPTION, V(DockMgrMsg::DMN_FIRST)), K(DockMgrMsg::DMN_FIRST, 1050),
    K(Resource::IDSCINTILLA, V(Resource::IDSCINTILLA_KEY_HOME)), K(Resource::IDSCINTILLA, 60000),
    K(Resource::MACRO_USER, V(Resource::SPLITTER_USER)), K(Resource::MACRO_USER, 5024),
    K(Resource::IDR_SAVEALL, V(Resource::IDR_M30_MENU)), K(Resource::IDR_CLOSEFILE, V(Resource::IDR_SYSTRAYPOPUP_MENU)),
    K(SciMsg::SCN_STYLENEEDED, V(SciMsg::SCI_START)), K(SciMsg::SCN_FOCUSOUT, V(SciMsg::SCI_CONVERTEOLS)),
    K(SciMsg::SCN_FOCUSOUT, 2029),
    // Telling editor values.
    K(SciMsg::SCI_START, 2000), K(SciMsg::SCI_OPTIONAL_START, 3000), K(SciMsg::SCI_LEXER_START, 4000),
    K(SciMsg::SC_MODEVENTMASKALL, 4194303), K(SciMsg::SC_MOD_INSERTTEXT, 1), K(SciMsg::SC_MOD_CHANGETABSTOPS, 2097152),
    K(SciMsg::SC_INDICVALUEBIT, 16777216), K(SciMsg::SC_INDICVALUEMASK, 16777215),
    K(SciMsg::SCFIND_WHOLEWORD | SciMsg::SCFIND_MATCHCASE | SciMsg::SCFIND_WORDSTART | SciMsg::SCFIND_REGEXP |
          SciMsg::SCFIND_POSIX | SciMsg::SCFIND_CXX11REGEX,
      2 + 4 + 1048576 + 2097152 + 4194304 + 8388608),
    K(SciMsg::SC_CP_UTF8, 65001), K(SciMsg::SC_CHARSET_CYRILLIC, 1251), K(SciMsg::SC_CHARSET_8859_15, 1000),
    K(SciMsg::SC_MARK_CHARACTER, 10000), K(SciMsg::SC_TIME_FOREVER, 10000000), K(SciMsg::SC_FONT_SIZE_MULTIPLIER, 100),
    K(SciMsg::SC_FOLDLEVELBASE, 1024), K(SciMsg::SC_FOLDLEVELWHITEFLAG, 4096), K(SciMsg::SC_FOLDLEVELHEADERFLAG, 8192),
    K(SciMsg::SC_FOLDLEVELNUMBERMASK, 4095), K(SciMsg::SC_STATUS_WARN_START, 1000),
    K(SciMsg::SC_STATUS_WARN_REGEX, 1001), K(SciMsg::SC_STATUS_BADALLOC, 2), K(SciMsg::SCK_ESCAPE, 7),
    K(SciMsg::SCK_BACK, 8), K(SciMsg::SCK_TAB, 9), K(SciMsg::SCK_RETURN, 13), K(SciMsg::SCEN_CHANGE, 768),
    K(SciMsg::SCEN_SETFOCUS, 512), K(SciMsg::SCEN_KILLFOCUS, 256), K(SciMsg::MARKER_MAX, 31), K(SciMsg::STYLE_MAX, 255),
    K(SciMsg::INDIC_MAX, 35), K(SciMsg::KEYWORDSET_MAX, 8), K(SciMsg::SC_MAX_MARGIN, 4), K(SciMsg::STYLE_DEFAULT, 32),
    K(SciMsg::STYLE_LASTPREDEFINED, 39), K(SciMsg::INDIC_TEXTFORE, 17), K(SciMsg::INDIC_IME, 32),
    K(SciMsg::SC_TECHNOLOGY_DIRECTWRITEDC, 3), K(SciMsg::SCI_GETTARGETTEXT, 2687), K(SciMsg::SCI_SETTARGETRANGE, 2686),
    K(SciMsg::SCI_GETPRIMARYSTYLEFROMSTYLE, 4028), K(SciMsg::SCI_STARTRECORD, 3001), K(SciMsg::SCI_STOPRECORD, 3002),
    K(SciMsg::SC_CP_DBCS, 1), K(SciMsg::SCI_GETUSEPALETTE, 2139), K(SciMsg::SCI_SETUSEPALETTE, 2039),
    K(SciMsg::SCI_SETKEYSUNICODE, 2521), K(SciMsg::SCI_GETKEYSUNICODE, 2522),
    K(SciMsg::SC_SEARCHRESULT_LINEBUFFERMAXLENGTH, 1024),
    // The small tables.
    K(LangType::L_TEXT, 0), K(LangType::L_USER, 15), K(LangType::L_JS, 19), K(LangType::L_FORTRAN, 25),
    K(LangType::L_SEARCHRESULT, 47), K(LangType::L_JSP, 55), K(LangType::L_JAVASCRIPT, 58),
    K(LangType::L_FORTRAN_77, 59), K(LangType::L_EXTERNAL, 60), K(DockMgrMsg::IDB_CLOSE_DOWN, 137),
    K(DockMgrMsg::IDB_CLOSE_UP, 138), K(DockMgrMsg::IDD_CONTAINER_DLG, 139), K(DockMgrMsg::IDC_TAB_CONT, 1027),
    K(DockMgrMsg::IDC_CLIENT_TAB, 1028), K(DockMgrMsg::DMN_CLOSE, 1051), K(DockMgrMsg::DMN_DOCK, 1052),
    K(DockMgrMsg::DMN_FLOAT, 1053), K(NppTbMsg::CONT_LEFT, 0), K(NppTbMsg::CONT_RIGHT, 1), K(NppTbMsg::CONT_TOP, 2),
    K(NppTbMsg::CONT_BOTTOM, 3), K(NppTbMsg::DOCKCONT_MAX, 4),
    K(NppTbMsg::DWS_PARAMSALL, V(NppTbMsg::DWS_ICONTAB | NppTbMsg::DWS_ICONBAR | NppTbMsg::DWS_ADDINFO)),
    K(NppTbMsg::DWS_DF_CONT_LEFT, 0), K(NppTbMsg::DWS_DF_CONT_RIGHT, 268435456),
    K(NppTbMsg::DWS_DF_CONT_TOP, 536870912), K(NppTbMsg::DWS_DF_FLOATING & NppTbMsg::DWS_DF_CONT_TOP, 0),
    K(Win32::ScrollInfoMask::SIF_RANGE, 1), K(Win32::ScrollInfoMask::SIF_PAGE, 2), K(Win32::ScrollInfoMask::SIF_POS, 4),
    K(Win32::ScrollInfoMask::SIF_DISABLENOSCROLL, 8), K(Win32::ScrollInfoMask::SIF_TRACKPOS, 16),
    K(Win32::ScrollInfoBar::SB_HORZ, 0), K(Win32::ScrollInfoBar::SB_VERT, 1), K(Win32::ScrollInfoBar::SB_CTL, 2),
    K(Win32::ScrollInfoBar::SB_BOTH, 3),
    // Values outside their neighbours.
    K(NppMenuCmd::IDM, 40000), K(NppMenuCmd::IDM_SYSTRAYPOPUP, V(NppMenuCmd::IDM) + 3100),
    K(NppMenuCmd::IDM_FILE_PRINTNOW, 1001), K(NppMenuCmd::IDM_VIEW_GOTO_ANOTHER_VIEW, 10001),
    K(NppMenuCmd::IDM_VIEW_CLONE_TO_ANOTHER_VIEW, 10002), K(NppMenuCmd::IDM_VIEW_GOTO_NEW_INSTANCE, 10003),
    K(NppMenuCmd::IDM_VIEW_LOAD_IN_NEW_INSTANCE, 10004), K(NppMenuCmd::IDM_EDIT_AUTOCOMPLETE, 50000),
    K(NppMenuCmd::IDM_EDIT_AUTOCOMPLETE_CURRENTFILE, 50001), K(NppMenuCmd::IDM_EDIT_FUNCCALLTIP, 50002),
    K(NppMenuCmd::IDM_LANG_USER_LIMIT, 46110), K(NppMenuCmd::IDM_HELP, 47008), K(Resource::IDC_MINIMIZED_TRAY, 67001),
    K(Resource::ID_PLUGINS_CMD_DYNAMIC_LIMIT, 24999), K(Resource::ID_PLUGINS_REMOVING, 22501),
    K(Resource::ID_PLUGINS_REMOVING_END, 22600), K(Preference::IDC_PREFERENCE_OFFSET_FLS, 40),
    K(Preference::IDC_CHECK_REMEMBEREDITVIEWPERFILE,
      V(Preference::IDD_PREFERENCE_SETTING_BOX) + V(Preference::IDC_PREFERENCE_OFFSET_FLS) + 1),
    K(Preference::IDC_MACHEDPAIRCLOSE_EDIT3, 6868),
    // Misspelled names are the names.
    K(NppMsg::DOCSTAUS_READONLY, 1), K(NppMsg::DOCSTAUS_BUFFERDIRTY, 2),
    K(Resource::NPPM_INTERNAL_SCINTILLAFINFERCOLLAPSE, 1032), K(Resource::NPPM_INTERNAL_PLUGINSHORTCUTMOTIFIED, 1050),
    K(Resource::IDR_SHOWPANNEL, 1510), K(Preference::IDD_PREFERENCE_MARGEIN_BOX, 6200),
};
#undef K

TEST(Tables, KnownValues) {
  for (const Known& k : kKnown) EXPECT_EQ(k.value, k.expected) << k.what;
  EXPECT_GT(V(NppMenuCmd::IDM_SETTING_PREFERECE), V(NppMenuCmd::IDM_SETTING));
  EXPECT_GT(V(NppMenuCmd::IDM_VIEW_DRAWTABBAR_INACIVETAB), V(NppMenuCmd::IDM_VIEW));
}

// Runs of consecutive values: the keys, the modifiers, the languages, the Windows versions
// and the docking messages.
TEST(Tables, ConsecutiveRuns) {
  const SciMsg keys[] = {SciMsg::SCK_DOWN, SciMsg::SCK_UP, SciMsg::SCK_LEFT, SciMsg::SCK_RIGHT,
                         SciMsg::SCK_HOME, SciMsg::SCK_END, SciMsg::SCK_PRIOR, SciMsg::SCK_NEXT,
                         SciMsg::SCK_DELETE, SciMsg::SCK_INSERT, SciMsg::SCK_ADD, SciMsg::SCK_SUBTRACT,
                         SciMsg::SCK_DIVIDE, SciMsg::SCK_WIN, SciMsg::SCK_RWIN, SciMsg::SCK_MENU};
  for (int64_t i = 0; i < 16; ++i) EXPECT_EQ(V(keys[i]), 300 + i);
  const SciMsg mods[] = {SciMsg::SCMOD_NORM, SciMsg::SCMOD_SHIFT, SciMsg::SCMOD_CTRL,
                         SciMsg::SCMOD_ALT, SciMsg::SCMOD_SUPER, SciMsg::SCMOD_META};
  const int64_t modValues[] = {0, 1, 2, 4, 8, 16};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(V(mods[i]), modValues[i]);
  const auto langs = ReadData("langtype.tsv");
  for (size_t i = 0; i < langs.size(); ++i) EXPECT_EQ(langs[i].value, static_cast<int64_t>(i));
  const winVer versions[] = {winVer::WV_UNKNOWN, winVer::WV_WIN32S, winVer::WV_95, winVer::WV_98,
                             winVer::WV_ME, winVer::WV_NT, winVer::WV_W2K, winVer::WV_XP,
                             winVer::WV_S2003, winVer::WV_XPX64, winVer::WV_VISTA, winVer::WV_WIN7,
                             winVer::WV_WIN8, winVer::WV_WIN81, winVer::WV_WIN10};
  for (int64_t i = 0; i < 15; ++i) EXPECT_EQ(V(versions[i]), i);
  const DockMgrMsg docking[] = {DockMgrMsg::DMM_MSG, DockMgrMsg::DMM_CLOSE, DockMgrMsg::DMM_DOCK,
                                DockMgrMsg::DMM_FLOAT, DockMgrMsg::DMM_DOCKALL, DockMgrMsg::DMM_FLOATALL,
                                DockMgrMsg::DMM_MOVE, DockMgrMsg::DMM_UPDATEDISPINFO,
                                DockMgrMsg::DMM_GETIMAGELIST, DockMgrMsg::DMM_GETICONPOS,
                                DockMgrMsg::DMM_DROPDATA, DockMgrMsg::DMM_MOVE_SPLITTER,
                                DockMgrMsg::DMM_CANCEL_MOVE, DockMgrMsg::DMM_LBUTTONUP};
  for (int64_t i = 0; i < 14; ++i) EXPECT_EQ(V(docking[i]), 0x5000 + i);
  // Preference: no value twice, all but the offset within 6000-6868.
  std::set<int64_t> seen;
  for (const auto& row : ReadData("preference.tsv")) {
    EXPECT_TRUE(seen.insert(row.value).second) << row.name;
    if (row.name != "IDC_PREFERENCE_OFFSET_FLS") {
      EXPECT_GE(row.value, 6000) << row.name;
      EXPECT_LE(row.value, 6868) << row.name;
    }
  }
}

}  // namespace
