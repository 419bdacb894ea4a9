// Keep and Remove against a real Scintilla view.
#include "app/EditorFilter.h"

#include <windows.h>

// Taken before the tables remove the platform's WM_USER macro.
constexpr UINT kFirstPrivateMessage = WM_USER;

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "app/DocumentSnapshot.h"
#include "app/Highlight.h"
#include "app/frmMyDlg.h"
#include "app/JumpBack.h"
#include "npp/PluginBase.h"
#include "win/Worker.h"
#include "cases/SharedCases.h"

#include "win/CodePage.h"
#include "npp/Tables.h"
#include "npp/Win32.h"

extern "C" int Scintilla_RegisterClasses(void* hInstance);

// Scintilla is linked into this test: every allocation it (or the plugin)
// makes goes through here, and a test can make the Nth one from now fail.
namespace {
std::atomic<long> gFailAllocationIn{0};  // 0: none fails
std::atomic<bool> gAllocationFailed{false};
}  // namespace
void* operator new(std::size_t size) {
  if (gFailAllocationIn.load() > 0 && gFailAllocationIn.fetch_sub(1) == 1) {
    gAllocationFailed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using siftwell::app::Operation;
using siftwell::app::RunOnView;

class EditorFilter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Scintilla_RegisterClasses(GetModuleHandleW(nullptr)); }

  void SetUp() override {
    view_ = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 400, 300, HWND_MESSAGE, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(view_, nullptr);
  }
  void TearDown() override { DestroyWindow(view_); }

  intptr_t Send(SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
    return SendMessageW(view_, static_cast<UINT>(msg), static_cast<WPARAM>(wParam), lParam);
  }
  // Sets the document to exactly these bytes, then forgets the undo history.
  void Load(const std::string& bytes) {
    Send(SciMsg::SCI_CLEARALL);
    Send(SciMsg::SCI_APPENDTEXT, static_cast<intptr_t>(bytes.size()), reinterpret_cast<intptr_t>(bytes.data()));
    Send(SciMsg::SCI_EMPTYUNDOBUFFER);
  }
  std::string Document() { return siftwell::app::GetDocumentTextBytes(view_); }
  void UndoOnce() { Send(SciMsg::SCI_UNDO); }

  HWND view_ = nullptr;
};

TEST_F(EditorFilter, KeepAndRemoveReplaceTheDocumentAsOneUndoStep) {
  Load("a1b22c333");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"\\d+", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "1\r\n22\r\n333\r\n");
  UndoOnce();
  EXPECT_EQ(Document(), "a1b22c333");

  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d+", L"ignored"), std::nullopt);
  EXPECT_EQ(Document(), "abc");
  UndoOnce();
  EXPECT_EQ(Document(), "a1b22c333");
}

TEST_F(EditorFilter, NulBytesAreDocumentBytes) {
  const std::string withNuls("a\0b1\0c2\0\0", 9);
  Load(withNuls);
  ASSERT_EQ(Document(), withNuls);

  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d", L""), std::nullopt);
  EXPECT_EQ(Document(), std::string("a\0b\0c\0\0", 7));
  UndoOnce();
  EXPECT_EQ(Document(), withNuls);

  // A kept NUL survives the write too.
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"b1\\x00", L"|"), std::nullopt);
  EXPECT_EQ(Document(), std::string("b1\0|", 4));
  UndoOnce();
  EXPECT_EQ(Document(), withNuls);
}

// Code page 0 is the system's ANSI code page (Scintilla takes no other
// single-byte code page number).
TEST_F(EditorFilter, AnsiDocumentKeepsItsBytes) {
  char e[4] = {}, i[4] = {};
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, 0, L"\u00E9\u00EF", 1, e, 3, nullptr, &lossy);
  WideCharToMultiByte(CP_ACP, 0, L"\u00EF", 1, i, 3, nullptr, &lossy);
  if (lossy || std::string(e).size() != 1) GTEST_SKIP() << "ANSI code page " << GetACP() << " has no e-acute";
  const std::string E(e), I(i);

  Send(SciMsg::SCI_SETCODEPAGE, 0);
  ASSERT_EQ(Send(SciMsg::SCI_GETCODEPAGE), 0);
  Load("caf" + E + " 12 na" + I + "ve");
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d+ ", L""), std::nullopt);
  EXPECT_EQ(Document(), "caf" + E + " na" + I + "ve");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"\\w+", L"\\t"), std::nullopt);
  EXPECT_EQ(Document(), "caf" + E + "\tna" + I + "ve\t");
  // The pattern is text, not bytes: an e-acute typed in the field finds the ANSI one.
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\u00E9", L""), std::nullopt);
  EXPECT_EQ(Document(), "caf\tna" + I + "ve\t");
}

TEST_F(EditorFilter, UnconvertibleAnsiDocumentIsRefusedUntouched) {
  Send(SciMsg::SCI_SETCODEPAGE, 932);  // Shift-JIS: a lone lead byte has no character
  const std::string bytes = "abc 1 \x81";
  Load(bytes);
  const auto message = RunOnView(view_, Operation::Remove, L"\\d", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find(L"932"), std::wstring::npos);
  EXPECT_EQ(Document(), bytes);
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
}

TEST_F(EditorFilter, InvalidUtf8IsKeptByteForByte) {
  Load("a\xFF" "1b\xC3" "2\xE2\x82");
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"\\d", L""), std::nullopt);
  EXPECT_EQ(Document(), "a\xFF" "b\xC3\xE2\x82");
}

TEST_F(EditorFilter, RejectedOrEmptyPatternLeavesDocumentAndHistoryAlone) {
  Load("some text (1)");
  const auto message = RunOnView(view_, Operation::Keep, L"(", L"\\n");
  ASSERT_TRUE(message.has_value());
  EXPECT_FALSE(message->empty());
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L"", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "some text (1)");
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
}

TEST_F(EditorFilter, RunawayPatternGivesUpWithoutTouchingTheDocument) {
  const std::string text = std::string(40, 'a') + "!";
  Load(text);
  const auto message = RunOnView(view_, Operation::Remove, L"(a+)+$", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Document(), text);
}

TEST_F(EditorFilter, KeepWithNoMatchEmptiesTheDocument) {
  Load("abc");
  EXPECT_EQ(RunOnView(view_, Operation::Keep, L"^", L"\\n"), std::nullopt);
  EXPECT_EQ(Document(), "");
  UndoOnce();
  EXPECT_EQ(Document(), "abc");
}

// What a written run reports back: how many matches it kept or removed, counted
// in the run's own pass (adjacent matches, NULs and ANSI text included).
TEST_F(EditorFilter, AWrittenRunReportsTheMatchesItKeptOrRemoved) {
  using siftwell::app::RunOptions;
  RunOptions lines;
  lines.wholeLines = true;
  RunOptions anyCase;
  anyCase.matchCase = false;
  RunOptions swapped;
  swapped.outputTemplate = L"$2-$1";
  RunOptions selected;
  selected.inSelection = true;
  RunOptions selectedLines = lines;
  selectedLines.inSelection = true;
  RunOptions unique;
  unique.unique = true;
  RunOptions tallyLines = lines;
  tallyLines.tally = true;
  RunOptions numberedLines = lines;
  numberedLines.lineNumbers = true;
  RunOptions tallyTemplate;
  tallyTemplate.tally = true;
  tallyTemplate.outputTemplate = L"$1";
  struct Row {
    std::string document;
    Operation op;
    const wchar_t* pattern;
    uint32_t codePage;
    std::string after;
    uint64_t matches;
    RunOptions options = {};
    intptr_t from = 0, to = 0;  // the selection (In selection)
    uint64_t totalLines = 0;     // whole lines
    bool endsInCr = false;
    std::optional<uint64_t> distinct = std::nullopt;  // Unique, Tally
  };
  const Row rows[] = {
      {"a1b22c333", Operation::Keep, L"\\d+", 65001, "1\r\n22\r\n333\r\n", 3},
      {"123", Operation::Remove, L"\\d", 65001, "", 3},
      {"a1b22c333", Operation::Remove, L"\\d", 65001, "abc", 6},
      {"abc", Operation::Keep, L"^", 65001, "", 0},
      {"abc", Operation::Remove, L"x", 65001, "abc", 0},
      {std::string("x\0" "1\0" "22", 6), Operation::Remove, L"\\d+", 65001, std::string("x\0\0", 3), 2},
      {"1 a 2 b", Operation::Remove, L"\\d ", 0, "a b", 2},
      // Whole lines, with their own ends; the delimiter does not apply.
      {"a ERROR\r\nb\r\nERROR c\r\n", Operation::Keep, L"ERROR", 65001, "a ERROR\r\nERROR c\r\n", 2, lines, 0, 0, 3},
      {"a\r\n\r\nb\r\n\r\n", Operation::Remove, L"^$", 65001, "a\r\nb\r\n", 2, lines, 0, 0, 4},
      {"x ERROR\r\ny\r\n", Operation::Keep, L"(?m)^.*ERROR.*$", 65001, "x ERROR\r\r\n", 1, {}, 0, 0, 0, true},
      {"ERROR error", Operation::Keep, L"error", 65001, "ERROR\r\nerror\r\n", 2, anyCase},
      {"10/20 3/4", Operation::Keep, L"(\\d+)/(\\d+)", 65001, "20-10\r\n4-3\r\n", 2, swapped},
      {"10/20", Operation::Remove, L"(\\d+)/", 65001, "20", 1, swapped},  // Remove has no template
      // In selection: the pattern sees the selection as its whole text.
      {"a1\nb2\nc3\n", Operation::Remove, L"\\d", 65001, "a1\nb\nc3\n", 1, selected, 3, 6},
      {"aaa", Operation::Remove, L"^a", 65001, "aa", 1, selected, 1, 3},
      {"abab", Operation::Keep, L"b\\z", 65001, "b\r\nab", 1, selected, 0, 2},
      {"x\nkeep 1\nno\nkeep 2\nx\n", Operation::Keep, L"keep", 65001, "x\nkeep 1\nkeep 2\nx\n", 2, selectedLines, 2,
       18, 3},
      // Unique and Tally: all outputs found, and the distinct ones written.
      {"b a b c a", Operation::Keep, L"\\w+", 65001, "b\r\na\r\nc\r\n", 5, unique, 0, 0, 0, false, 3},
      {"x\ny\nx\n", Operation::Keep, L".", 65001, "2\tx\n1\ty\n", 3, tallyLines, 0, 0, 3, false, 2},
      {"user=ann user=bob user=ann", Operation::Keep, L"user=(\\w+)", 65001, "2\tann\r\n1\tbob\r\n", 3,
       tallyTemplate, 0, 0, 0, false, 2},
      {"x\ny\nx\n", Operation::Remove, L"x", 65001, "y\n", 2, tallyLines, 0, 0, 3},  // Keep's alone
      // A line's number is no line of its own.
      {"b\ra\r\nb\r\nc\nb", Operation::Keep, L"b", 65001, "1:b\r3:b\r\n5:b", 3, numberedLines, 0, 0, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.document + " " + std::to_string(&row - rows));
    Send(SciMsg::SCI_SETCODEPAGE, row.codePage);
    Load(row.document);
    if (row.options.inSelection) Send(SciMsg::SCI_SETSEL, row.from, row.to);
    auto run = siftwell::app::StartOnView(view_, row.op, row.pattern, L"\\n", row.options);
    while (!run->CopyStep()) {
    }
    std::shared_ptr<siftwell::app::Computation> computation = run->TakeComputation();
    ASSERT_NE(computation, nullptr);
    siftwell::win::JobControl control;
    computation->Compute(control);
    ASSERT_EQ(run->Commit(), std::nullopt);
    EXPECT_EQ(Document(), row.after);
    const std::optional<siftwell::app::RunOutcome> outcome = run->Outcome();
    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->keep, row.op == Operation::Keep);
    EXPECT_EQ(outcome->matches, row.matches);
    EXPECT_EQ(outcome->documentEmpty, row.after.empty());
    EXPECT_EQ(outcome->lines, row.options.wholeLines);
    EXPECT_EQ(outcome->totalLines, row.totalLines);
    EXPECT_EQ(outcome->endsInCr, row.endsInCr);
    EXPECT_EQ(outcome->distinct, row.distinct);
    if (row.options.inSelection) {  // the result is selected
      EXPECT_EQ(Send(SciMsg::SCI_GETSELECTIONSTART), row.from);
      EXPECT_EQ(Send(SciMsg::SCI_GETSELECTIONEND),
                row.from + static_cast<intptr_t>(row.after.size() + (row.to - row.from) - row.document.size()));
    }
    UndoOnce();
    EXPECT_EQ(Document(), row.document) << "one undo";
  }
}

// The shared cases through the window's run on a real view: the same bytes
// as the engine and the CLI, each undone in one step.
TEST_F(EditorFilter, TheSharedCasesGiveTheSameBytesAsTheCli) {
  static constexpr std::string_view kFile =
#include "FilterCases.inc"
      ;
  const auto cases = siftwell::cases::ParseSharedCases(kFile);
  EXPECT_GE(cases.size(), 20u);
  for (const auto& c : cases) {
    ASSERT_GT(c.line, 0) << "filter_cases.tsv:" << -c.line << " has not six fields";
    SCOPED_TRACE("filter_cases.tsv:" + std::to_string(c.line));
    siftwell::app::RunOptions options;
    options.unique = c.options.find("unique") != std::string::npos;
    options.tally = c.options.find("tally") != std::string::npos;
    options.lineNumbers = c.options.find("line-number") != std::string::npos;
    options.wholeLines = c.Lines();
    options.matchCase = c.MatchCase();
    options.outputTemplate = siftwell::win::Utf8ToWide(c.keepTemplate);
    const std::wstring pattern = siftwell::win::Utf8ToWide(c.pattern);
    for (Operation op : {Operation::Keep, Operation::Remove}) {
      Load(c.input);
      EXPECT_EQ(RunOnView(view_, op, pattern, L"\\n", options), std::nullopt);
      EXPECT_EQ(Document(), op == Operation::Keep ? c.keep : c.remove);
      UndoOnce();
      EXPECT_EQ(Document(), c.input);
    }
  }
}

// Random texts and patterns: the document after a run (written as edits of
// it, or whole when every tenth text brings more changes than are recorded)
// holds the bytes of the engine's whole result, and one undo gives the text
// back.
TEST_F(EditorFilter, EditsGiveTheWholeResultOnRandomTexts) {
  const char* const pieces[] = {"a", "b", "\r\n", "\n", "\r", "\xC3\xA9", " "};
  const wchar_t* const patterns[] = {L"a", L"b+", L"a|\\r", L"\\s", L"^b", L"a$", L"(?m)^", L"ab*", L"\u00e9", L"\\n\\n?"};
  uint32_t seed = 12345;
  const auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (uint32_t n = next() % (round % 10 == 0 ? 4000 : 40); n > 0; --n) text += pieces[next() % std::size(pieces)];
    const std::wstring pattern = patterns[next() % std::size(patterns)];
    siftwell::app::RunOptions options;
    options.wholeLines = next() % 3 == 0;
    const Operation op = next() % 2 == 0 ? Operation::Keep : Operation::Remove;
    siftwell::engine::CompileOptions engine;
    engine.wholeLines = options.wholeLines;
    std::string patternUtf8;
    ASSERT_TRUE(siftwell::win::WideToUtf8(pattern, patternUtf8));
    const auto compiled = siftwell::engine::Compile(patternUtf8, engine);
    ASSERT_FALSE(compiled.error);
    const auto expected = op == Operation::Keep
                              ? siftwell::engine::Keep(text, *compiled.pattern, options.wholeLines ? "" : "\r\n", {})
                              : siftwell::engine::Remove(text, *compiled.pattern, {});
    ASSERT_TRUE(expected.ok);
    SCOPED_TRACE("round " + std::to_string(round));
    Load(text);
    EXPECT_EQ(RunOnView(view_, op, pattern, L"\\n", options), std::nullopt);
    EXPECT_EQ(Document(), expected.text);
    UndoOnce();
    EXPECT_EQ(Document(), text);
  }
}

// A new tab of whole lines leads each result line back to its line in the
// document: runs of kept lines, lone CRs, the first occurrence of a distinct
// line, a line number before it, a selection that starts further down.
TEST(EditorFilterLines, EachResultLineKnowsItsSourceLine) {
  using siftwell::engine::CompileOptions;
  using Mode = CompileOptions::KeepMode;
  struct Row {
    std::string document;
    std::string pattern;
    Mode mode;
    bool numbers;
    std::size_t from, to;
    std::vector<uint64_t> sources;  // of each result line
  };
  const Row rows[] = {
      {"a\nb x\r\nc\rx d\nx", "x", Mode::All, false, 0, SIZE_MAX, {2, 4, 5}},
      {"x1\nx2\ny\nx3\nx4\n", "x", Mode::All, false, 0, SIZE_MAX, {1, 2, 4, 5}},
      {"b\ra\r\nb\r\nc\nb", "b", Mode::All, true, 0, SIZE_MAX, {1, 3, 5}},
      {"b\na\nb\nc\nb\n", ".", Mode::Tally, false, 0, SIZE_MAX, {1, 2, 4}},
      {"b\na\nxa\na\n", "a", Mode::Unique, true, 0, SIZE_MAX, {2, 3}},
      {"x\nkeep 1\nno\nkeep 2\nx\n", "keep", Mode::All, false, 2, 18, {2, 4}},
      {"x\r\nk\r\nk\r\nk\r\n", "k", Mode::Unique, false, 3, SIZE_MAX, {2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.document);
    auto text = std::make_shared<siftwell::app::DocumentText>();
    text->bytes = row.document;
    text->codePage = 65001;
    CompileOptions options;
    options.wholeLines = true;
    options.keepMode = row.mode;
    options.lineNumbers = row.numbers;
    siftwell::app::Computation computation(text, Operation::Keep, row.pattern, "", options, row.from, row.to);
    computation.MapSourceLines();
    siftwell::win::JobControl control;
    computation.Compute(control);
    ASSERT_FALSE(computation.Problem().has_value());
    const siftwell::app::LineMap& map = computation.SourceLines();
    for (std::size_t line = 0; line < row.sources.size(); ++line)
      EXPECT_EQ(map.SourceOf(line), std::optional<uint64_t>(row.sources[line])) << "result line " << line;
    EXPECT_EQ(map.SourceOf(row.sources.size()), std::nullopt) << "no line after the last";
  }
}

// A host of one view for a jump: the source (buffer 1) and, after File New,
// the result (buffer 2); the source is brought back by NPPM_ACTIVATEDOC.
class JumpHost {
 public:
  explicit JumpHost(HWND view) : view_(view) {
    WNDCLASSW c{};
    c.lpfnWndProc = &Proc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"SiftwellJumpHost";
    RegisterClassW(&c);
    hwnd_ = CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    source_ = SendMessageW(view_, static_cast<UINT>(SciMsg::SCI_GETDOCPOINTER), 0, 0);
    SendMessageW(view_, static_cast<UINT>(SciMsg::SCI_ADDREFDOCUMENT), 0, source_);
  }
  ~JumpHost() {
    DestroyWindow(hwnd_);
    SendMessageW(view_, static_cast<UINT>(SciMsg::SCI_RELEASEDOCUMENT), 0, source_);
    if (result_ != 0) SendMessageW(view_, static_cast<UINT>(SciMsg::SCI_RELEASEDOCUMENT), 0, result_);
  }
  HWND Handle() const { return hwnd_; }
  intptr_t current = 1;
  bool sourceOpen = true;
  LRESULT source_ = 0, result_ = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<JumpHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wParam, lParam);
    const auto show = [&](LRESULT document, intptr_t buffer) {
      SendMessageW(self->view_, static_cast<UINT>(SciMsg::SCI_SETDOCPOINTER), 0, document);
      self->current = buffer;
    };
    switch (static_cast<NppMsg>(msg)) {
      case NppMsg::NPPM_GETCURRENTBUFFERID:
        return self->current;
      case NppMsg::NPPM_GETCURRENTSCINTILLA:
        *reinterpret_cast<int32_t*>(lParam) = 0;
        return TRUE;
      case NppMsg::NPPM_GETBUFFERENCODING:
        return -1;
      case NppMsg::NPPM_MENUCOMMAND:  // File New
        self->result_ = SendMessageW(self->view_, static_cast<UINT>(SciMsg::SCI_CREATEDOCUMENT), 0, 0);
        show(self->result_, 2);  // (the host's reference is released when it goes)
        return TRUE;
      case NppMsg::NPPM_GETPOSFROMBUFFERID:
        return wParam == 1 && self->sourceOpen ? 0 : wParam == 2 ? 1 : -1;
      case NppMsg::NPPM_ACTIVATEDOC:
        if (lParam == 0 && self->sourceOpen) show(self->source_, 1);
        return TRUE;
      default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
  }
  HWND view_;
  HWND hwnd_ = nullptr;
};

// A double-click on a line of a New-tab result of whole lines: the source
// comes back with that line selected while both are as they were; otherwise
// the reason, and no line selected.
TEST_F(EditorFilter, ADoubleClickOnAResultLineSelectsItsSourceLine) {
  using siftwell::app::JumpRefusal;
  struct Row {
    const char* what;
    std::function<void(JumpHost&)> before;  // with the result shown
    intptr_t resultLine;
    std::optional<JumpRefusal> refusal;
    intptr_t sourceLine;  // selected (0-based), when no refusal
  };
  const auto type = [this](const char* text) { Send(SciMsg::SCI_APPENDTEXT, 1, reinterpret_cast<intptr_t>(text)); };
  const Row rows[] = {
      {"as made", nullptr, 1, std::nullopt, 3},
      {"first line", nullptr, 0, std::nullopt, 1},
      {"result edited", [&](JumpHost&) { type("x"); }, 1, JumpRefusal::ResultEdited, 0},
      {"source edited",
       [&](JumpHost& host) {
         Send(SciMsg::SCI_SETDOCPOINTER, 0, host.source_);
         type("x");
         Send(SciMsg::SCI_SETDOCPOINTER, 0, host.result_);
       },
       1, JumpRefusal::SourceChanged, 0},
      {"source closed", [](JumpHost& host) { host.sourceOpen = false; }, 0, JumpRefusal::SourceClosed, 0},
      {"the last, empty line", nullptr, 2, JumpRefusal::NoLine, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Load("ok\r\nERROR a\r\nok\r\nERROR b\r\n");
    JumpHost host(view_);
    PluginBase::nppData = NppData{host.Handle(), view_, nullptr};
    siftwell::app::RunOptions options;
    options.wholeLines = true;
    options.target = siftwell::app::Target::NewTab;
    ASSERT_EQ(RunOnView(view_, Operation::Keep, L"ERROR", L"", options, host.Handle()), std::nullopt);
    ASSERT_EQ(Document(), "ERROR a\r\nERROR b\r\n");
    // (Each run's own new tab; the host gives every one the same buffer id.)
    if (row.before) row.before(host);
    Send(SciMsg::SCI_GOTOPOS, Send(SciMsg::SCI_POSITIONFROMLINE, row.resultLine) + 1);
    const siftwell::app::JumpAnswer answer = siftwell::app::JumpToSource(host.Handle(), view_);
    EXPECT_TRUE(answer.handled);
    EXPECT_EQ(answer.refusal, row.refusal);
    if (!row.refusal) {
      EXPECT_EQ(host.current, 1) << "the source is shown";
      EXPECT_EQ(Send(SciMsg::SCI_GETSELECTIONSTART), Send(SciMsg::SCI_POSITIONFROMLINE, row.sourceLine));
      EXPECT_EQ(Send(SciMsg::SCI_GETSELECTIONEND), Send(SciMsg::SCI_GETLINEENDPOSITION, row.sourceLine));
    } else {
      EXPECT_EQ(Send(SciMsg::SCI_GETSELECTIONSTART), Send(SciMsg::SCI_GETSELECTIONEND)) << "no line selected";
    }
    Send(SciMsg::SCI_SETDOCPOINTER, 0, host.source_);
  }
  siftwell::app::ForgetBuffer(2);
  EXPECT_EQ(siftwell::app::RememberedOrigins(), 0u) << "a closed result is forgotten";
  PluginBase::nppData = NppData{};
}

// What cannot be done is refused before anything is copied, and the document
// stays as it was: a template naming no group, a selection that is not one
// plain range, no selection at all.
TEST_F(EditorFilter, ARunThatCannotApplyIsRefusedUntouched) {
  struct Row {
    siftwell::app::RunOptions options;
    std::function<void()> select;
    const wchar_t* words;
  };
  siftwell::app::RunOptions badTemplate;
  badTemplate.outputTemplate = L"$3";
  siftwell::app::RunOptions selection;
  selection.inSelection = true;
  const Row rows[] = {
      {badTemplate, nullptr, L"the output template's $3 at position 1 names no group"},
      {selection, [] {}, L"nothing is selected"},
      {selection,
       [this] {
         Send(SciMsg::SCI_SETSELECTIONMODE, static_cast<intptr_t>(SciMsg::SC_SEL_RECTANGLE));
         Send(SciMsg::SCI_SETRECTANGULARSELECTIONANCHOR, 0);
         Send(SciMsg::SCI_SETRECTANGULARSELECTIONCARET, 6);
       },
       L"not a rectangular or multiple one"},
      {selection,
       [this] {
         Send(SciMsg::SCI_SETMULTIPLESELECTION, 1);
         Send(SciMsg::SCI_SETSELECTION, 0, 1);
         Send(SciMsg::SCI_ADDSELECTION, 4, 5);
       },
       L"not a rectangular or multiple one"},
  };
  for (const Row& row : rows) {
    Load("a1\nb2\nc3\n");
    if (row.select) row.select();
    const std::optional<std::wstring> words = RunOnView(view_, Operation::Keep, L"(\\d)", L"\\n", row.options);
    ASSERT_TRUE(words.has_value());
    EXPECT_NE(words->find(row.words), std::wstring::npos) << std::string(words->begin(), words->end());
    EXPECT_EQ(Document(), "a1\nb2\nc3\n");
    Send(SciMsg::SCI_SETSELECTIONMODE, static_cast<intptr_t>(SciMsg::SC_SEL_STREAM));
    Send(SciMsg::SCI_CLEARSELECTIONS);
  }
}

// The clipboard gets the result as Unicode text from the document's code
// page; the document stays as it was.
TEST_F(EditorFilter, ClipboardGetsTheResultAndTheDocumentStays) {
  const bool ansi = GetACP() == 1252;
  const std::string document = ansi ? "caf\xe9 1 na\xefve 2" : "caf\xc3\xa9 1 na\xc3\xafve 2";
  Send(SciMsg::SCI_SETCODEPAGE, ansi ? 0 : 65001);
  Load(document);
  siftwell::app::RunOptions options;
  options.target = siftwell::app::Target::Clipboard;
  auto run = siftwell::app::StartOnView(view_, Operation::Keep, L"\\w+ \\d", L"\\n", options);
  while (!run->CopyStep()) {
  }
  auto computation = run->TakeComputation();
  ASSERT_NE(computation, nullptr);
  siftwell::win::JobControl control;
  computation->Compute(control);
  ASSERT_EQ(run->Commit(), std::nullopt);
  EXPECT_EQ(Document(), document);
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
  ASSERT_TRUE(run->Outcome().has_value());
  EXPECT_EQ(run->Outcome()->target, 2);
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const std::wstring text = data != nullptr ? std::wstring(static_cast<const wchar_t*>(GlobalLock(data))) : L"";
  if (data != nullptr) GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(text, L"caf\u00e9 1\r\nna\u00efve 2\r\n");

  // A NUL would cut the clipboard's text short: refused, the clipboard kept as it was.
  Load(std::string("a\0b", 3));
  const std::optional<std::wstring> words = RunOnView(view_, Operation::Remove, L"x", L"\\n", options);
  ASSERT_TRUE(words.has_value());
  EXPECT_NE(words->find(L"NUL"), std::wstring::npos);
  ASSERT_TRUE(OpenClipboard(nullptr));
  data = GetClipboardData(CF_UNICODETEXT);
  const std::wstring kept = data != nullptr ? std::wstring(static_cast<const wchar_t*>(GlobalLock(data))) : L"";
  if (data != nullptr) GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(kept, text);
}

// The live count's computation gives up when its time is spent, with the
// matches found so far; a stop asked for from outside stays a stop.
TEST_F(EditorFilter, ACountGivesUpWhenItsTimeIsSpent) {
  auto text = std::make_shared<siftwell::app::DocumentText>();
  for (int i = 0; i < 400000; ++i) text->bytes += "word ";
  text->codePage = 65001;
  siftwell::app::Computation count(text, Operation::Count, "\\w+", "");
  count.SetTimeBudget(std::chrono::milliseconds(1));
  siftwell::win::JobControl control;
  count.Compute(control);
  ASSERT_TRUE(count.Problem().has_value());
  EXPECT_EQ(count.Problem()->kind, siftwell::app::RunProblem::Kind::CountTooSlow);
  EXPECT_TRUE(count.Problem()->counting);
  EXPECT_EQ(count.Problem()->matches, count.Count());
  EXPECT_LT(count.Count(), 400000u);

  siftwell::app::Computation unlimited(text, Operation::Count, "\\w+", "");
  unlimited.Compute(control);
  EXPECT_FALSE(unlimited.Problem().has_value());
  EXPECT_EQ(unlimited.Count(), 400000u);

  siftwell::app::Computation stopped(text, Operation::Count, "\\w+", "");
  stopped.SetTimeBudget(std::chrono::milliseconds(1));
  control.RequestStop();
  stopped.Compute(control);
  ASSERT_TRUE(stopped.Problem().has_value());
  EXPECT_EQ(stopped.Problem()->kind, siftwell::app::RunProblem::Kind::Stopped);
}


// ---- Highlight and F3 ----------------------------------------------------------

constexpr int32_t kIndicator = 9;

// The indicator's runs in the view, read back as the host would.
std::vector<std::pair<intptr_t, intptr_t>> MarkedRanges(HWND view) {
  auto sci = [&](SciMsg m, intptr_t w = 0, intptr_t l = 0) {
    return SendMessageW(view, static_cast<UINT>(m), static_cast<WPARAM>(w), l);
  };
  std::vector<std::pair<intptr_t, intptr_t>> ranges;
  const intptr_t length = sci(SciMsg::SCI_GETLENGTH);
  for (intptr_t at = 0; at < length;) {
    const intptr_t end = sci(SciMsg::SCI_INDICATOREND, kIndicator, at);
    if ((sci(SciMsg::SCI_INDICATORALLONFOR, at) & (1 << kIndicator)) != 0) ranges.emplace_back(at, end);
    if (end <= at) break;
    at = end;
  }
  return ranges;
}

using Ranges = std::vector<std::pair<intptr_t, intptr_t>>;

// Marked where the engine finds the matches (the shown text starts at a line
// start: ^ and lookbehind behave as in Keep).
TEST_F(EditorFilter, HighlightMarksWhereTheEngineFindsTheMatches) {
  struct Row {
    const char* text;
    const char* pattern;
    bool wholeLines, matchCase;
    Ranges marked;
  } rows[] = {
      {"a1b22c333", "\\d+", false, true, {{1, 2}, {3, 5}, {6, 9}}},
      {"ab\r\nb1\nB", "(?m)^b", false, true, {{4, 5}}},
      {"ab\r\nb1\nB", "(?m)^b", false, false, {{4, 5}, {7, 8}}},
      {"ab\r\nb1\nB", "1", true, true, {{4, 6}}},
      {"x1 y2 x3", "(?<=x)\\d", false, true, {{1, 2}, {7, 8}}},
      {"a1b22c333", "", false, true, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text) + " / " + row.pattern);
    Load(row.text);
    const auto shown = siftwell::app::ShownText::Take(view_);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->bytes, row.text);
    siftwell::engine::CompileOptions options;
    options.wholeLines = row.wholeLines;
    options.matchCase = row.matchCase;
    const siftwell::app::Marks marks = siftwell::app::FindMarks(*shown, row.pattern, options, {});
    EXPECT_FALSE(marks.error || marks.stopped);
    ASSERT_TRUE(siftwell::app::ApplyMarks(*shown, marks.ranges, kIndicator));
    EXPECT_EQ(MarkedRanges(view_), row.marked);
  }
  siftwell::app::ClearMarks(view_, kIndicator);
  EXPECT_EQ(MarkedRanges(view_), Ranges{});
}

// A scroll searches the lines shown and a screen around them, never the
// whole document; marks for a text that changed meanwhile are not set.
TEST_F(EditorFilter, HighlightSearchesOnlyAroundTheLinesShown) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  Load(text);
  Send(SciMsg::SCI_SETFIRSTVISIBLELINE, 10000);
  const intptr_t onScreen = Send(SciMsg::SCI_LINESONSCREEN);
  ASSERT_GT(onScreen, 0);
  const auto shown = siftwell::app::ShownText::Take(view_);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->from, Send(SciMsg::SCI_POSITIONFROMLINE, 10000 - onScreen)) << "a screen above, from a line start";
  EXPECT_LE(static_cast<intptr_t>(shown->bytes.size()), (3 * onScreen + 2) * 12) << "three screens at most";
  const siftwell::app::Marks marks = siftwell::app::FindMarks(*shown, "line", {}, {});
  EXPECT_GE(static_cast<intptr_t>(marks.ranges.size()), 3 * onScreen);
  EXPECT_LE(static_cast<intptr_t>(marks.ranges.size()), 3 * onScreen + 2);

  Send(SciMsg::SCI_INSERTTEXT, shown->from + 2, reinterpret_cast<intptr_t>("x"));
  EXPECT_FALSE(siftwell::app::ApplyMarks(*shown, marks.ranges, kIndicator)) << "the text there changed";
  EXPECT_EQ(MarkedRanges(view_), Ranges{});
  Send(SciMsg::SCI_UNDO);
  ASSERT_TRUE(siftwell::app::ApplyMarks(*shown, marks.ranges, kIndicator));
  const Ranges marked = MarkedRanges(view_);
  ASSERT_FALSE(marked.empty());
  EXPECT_EQ(marked.front().first, shown->from);
  EXPECT_EQ(Send(SciMsg::SCI_INDICATORVALUEAT, kIndicator, 0), 0) << "nothing far above is marked";
  EXPECT_EQ(Send(SciMsg::SCI_INDICATORVALUEAT, kIndicator, Send(SciMsg::SCI_POSITIONFROMLINE, 15000)), 0);
}

// F3 and Shift+F3 from a selection: the next match at or after its end, the
// previous one before its start, from the other end when there is none.
TEST(HighlightStep, StepsToTheNextOrPreviousMatchAndWraps) {
  struct Row {
    std::size_t selStart, selEnd;
    bool forward;
    std::pair<std::size_t, std::size_t> match;
    bool wrapped;
  } rows[] = {
      {0, 0, true, {1, 2}, false},  {1, 2, true, {3, 5}, false},  {3, 5, true, {6, 9}, false},
      {6, 9, true, {1, 2}, true},   {3, 5, false, {1, 2}, false}, {1, 2, false, {6, 9}, true},
      {4, 4, true, {6, 9}, false},  {9, 9, false, {6, 9}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.selStart) + "-" + std::to_string(row.selEnd) + (row.forward ? " F3" : " Shift+F3"));
    const siftwell::app::Step step =
        siftwell::app::FindStep("a1b22c333", true, "\\d+", {}, row.selStart, row.selEnd, row.forward, {});
    ASSERT_TRUE(step.match.has_value());
    EXPECT_EQ(*step.match, row.match);
    EXPECT_EQ(step.wrapped, row.wrapped);
  }
  EXPECT_FALSE(siftwell::app::FindStep("abc", true, "\\d+", {}, 0, 0, true, {}).match);
  EXPECT_TRUE(siftwell::app::FindStep("abc", true, "(", {}, 0, 0, true, {}).error);
}

bool PumpUntil(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < until) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    Sleep(10);
  }
  return done();
}

// The filter window working on `view`, marking with kIndicator.
std::unique_ptr<frmMyDlg> WindowOn(HWND view) {
  auto window = frmMyDlg::Create(
      GetModuleHandleW(nullptr), nullptr,
      [view](Operation op, std::wstring_view pattern, std::wstring_view delimiter,
             const siftwell::app::RunOptions& options, std::shared_ptr<siftwell::app::DocumentCopy> counted) {
        return siftwell::app::StartOnView(view, op, pattern, delimiter, options, nullptr, std::move(counted));
      },
      [view](bool) { return std::shared_ptr<siftwell::app::DocumentCopy>(siftwell::app::DocumentCopy::Of(view)); },
      [view] { return view; });
  if (window) window->SetHighlightIndicator(kIndicator, {view});
  return window;
}

// The filter window over a real view: typing marks the matches, an empty
// pattern clears them at once, closing the window clears them; F3 selects.
TEST_F(EditorFilter, TheWindowMarksWhileTypingAndClearsOnEmptyPatternAndClose) {
  Load("a1b22c333");
  HWND view = view_;
  auto window = WindowOn(view);
  ASSERT_NE(window, nullptr);
  HWND pattern = GetDlgItem(window->Handle(), frmMyDlg::textBox1);
  const Ranges three{{1, 2}, {3, 5}, {6, 9}};
  SetWindowTextW(pattern, L"\\d+");
  EXPECT_TRUE(PumpUntil([&] { return MarkedRanges(view) == three; }));
  SetWindowTextW(pattern, L"");
  EXPECT_EQ(MarkedRanges(view), Ranges{}) << "cleared at once";
  SetWindowTextW(pattern, L"(");
  PumpUntil([&] { return window->StatusIsError(); });
  EXPECT_EQ(MarkedRanges(view), Ranges{}) << "a rejected pattern marks nothing";

  SetWindowTextW(pattern, L"\\d+");
  ASSERT_TRUE(PumpUntil([&] { return MarkedRanges(view) == three; }));
  // Unticked: cleared; ticked again: back.
  SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::highlightBox), BM_CLICK, 0, 0);
  EXPECT_EQ(MarkedRanges(view), Ranges{});
  EXPECT_FALSE(window->Options().highlight);
  SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::highlightBox), BM_CLICK, 0, 0);
  EXPECT_TRUE(PumpUntil([&] { return MarkedRanges(view) == three; }));

  auto selection = [&] {
    return std::pair<intptr_t, intptr_t>(Send(SciMsg::SCI_GETSELECTIONSTART), Send(SciMsg::SCI_GETSELECTIONEND));
  };
  Send(SciMsg::SCI_SETSEL, 2, 2);
  window->FindNext(true);
  EXPECT_TRUE(PumpUntil([&] { return selection() == std::pair<intptr_t, intptr_t>(3, 5); }));
  window->FindNext(false);
  EXPECT_TRUE(PumpUntil([&] { return selection() == std::pair<intptr_t, intptr_t>(1, 2); }));
  window->FindNext(false);
  EXPECT_TRUE(PumpUntil([&] { return selection() == std::pair<intptr_t, intptr_t>(6, 9); }));
  EXPECT_TRUE(PumpUntil([&] { return window->StatusText() == L"Went on from the end of the document"; }));
  SendMessageW(pattern, WM_KEYDOWN, VK_F3, 0);  // F3 in the pattern field
  EXPECT_TRUE(PumpUntil([&] { return selection() == std::pair<intptr_t, intptr_t>(1, 2); }));
  EXPECT_TRUE(PumpUntil([&] { return window->StatusText() == L"Went on from the start of the document"; }));
  SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::nextButton), BM_CLICK, 0, 0);
  EXPECT_TRUE(PumpUntil([&] { return selection() == std::pair<intptr_t, intptr_t>(3, 5); }));

  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(window->IsClosed());
  EXPECT_EQ(MarkedRanges(view), Ranges{}) << "cleared when the window closes";
}

// A key pressed while the live count copies a large document is taken before
// the copy's remaining pieces: a thread's posted messages come before its
// input, so a copy that chained one piece to the next by posting held every
// key back until it ended (a fifth of a second at 100 MB).
TEST_F(EditorFilter, AKeyIsTakenBetweenThePiecesOfTheCountsCopy) {
  Load(std::string(3 * siftwell::app::DocumentCopy::kStepBytes, 'a'));
  HWND view = view_;
  std::shared_ptr<siftwell::app::DocumentCopy> first;
  HWND dialog = nullptr;
  auto window = frmMyDlg::Create(
      GetModuleHandleW(nullptr), nullptr,
      [](Operation, std::wstring_view, std::wstring_view, const siftwell::app::RunOptions&, std::shared_ptr<siftwell::app::DocumentCopy>) {
        return std::unique_ptr<siftwell::app::FilterRun>();
      },
      [view, &first, &dialog](bool) {
        std::shared_ptr<siftwell::app::DocumentCopy> copy = siftwell::app::DocumentCopy::Of(view);
        if (!first) {
          // The key arrives as the copy begins (typed into this window: the
          // test holds the desktop, see CMakeLists.txt).
          first = copy;
          SetForegroundWindow(dialog);
          INPUT key[2] = {};
          for (INPUT& k : key) {
            k.type = INPUT_KEYBOARD;
            k.ki.wScan = L'b';
            k.ki.dwFlags = KEYEVENTF_UNICODE;
          }
          key[1].ki.dwFlags |= KEYEVENTF_KEYUP;
          SendInput(2, key, sizeof(INPUT));
        }
        return copy;
      },
      [view] { return view; });
  ASSERT_NE(window, nullptr);
  dialog = window->Handle();
  window->Present();
  HWND pattern = GetDlgItem(window->Handle(), frmMyDlg::textBox1);
  ASSERT_EQ(GetFocus(), pattern);
  SetWindowTextW(pattern, L"a");
  SendMessageW(pattern, EM_SETSEL, 1, 1);
  siftwell::app::DocumentCopy::State whenTyped = siftwell::app::DocumentCopy::State::NoMemory;
  ASSERT_TRUE(PumpUntil([&] {
    if (!first || window->PatternText() != L"ab") return false;
    whenTyped = first->Current();
    return true;
  })) << "the key never reached the pattern field";
  EXPECT_EQ(whenTyped, siftwell::app::DocumentCopy::State::Copying) << "the key waited for the whole copy";
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
}

// A run starts from the live count's copy, compared with the document rather
// than copied again; a copy the document no longer matches (changed at the same
// length, and no one told) is copied anew, never used.
TEST_F(EditorFilter, ARunTakesOverTheCountsCopyOnlyWhileTheDocumentMatchesIt) {
  for (const bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "changed since the count" : "as counted");
    Load("a1b2");
    auto window = WindowOn(view_);
    ASSERT_NE(window, nullptr);
    SetWindowTextW(GetDlgItem(window->Handle(), frmMyDlg::textBox1), L"\\d");
    ASSERT_TRUE(PumpUntil([&] { return window->StatusText() == L"2 matches"; }));
    if (changed) Load("c3d4");
    SendMessageW(GetDlgItem(window->Handle(), frmMyDlg::button1), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !window->IsRunning() && Document().size() != 4; }));
    EXPECT_EQ(Document(), changed ? "3\r\n4\r\n" : "1\r\n2\r\n");
    SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  }
}

// The document shown before another one (a tab switched away from) keeps no
// marks once the window has marked the other one and closed.
TEST_F(EditorFilter, MarksLeaveTheDocumentSwitchedAwayFrom) {
  Load("a1b22c333");
  auto window = WindowOn(view_);
  ASSERT_NE(window, nullptr);
  SetWindowTextW(GetDlgItem(window->Handle(), frmMyDlg::textBox1), L"\\d+");
  ASSERT_TRUE(PumpUntil([&] { return MarkedRanges(view_).size() == 3; }));
  const intptr_t first = Send(SciMsg::SCI_GETDOCPOINTER);
  Send(SciMsg::SCI_ADDREFDOCUMENT, 0, first);  // (as the host keeps a tab's document)
  const intptr_t second = Send(SciMsg::SCI_CREATEDOCUMENT);
  Send(SciMsg::SCI_SETDOCPOINTER, 0, second);
  Send(SciMsg::SCI_RELEASEDOCUMENT, 0, second);
  Load("x9");
  window->DocumentChanged();
  EXPECT_TRUE(PumpUntil([&] { return MarkedRanges(view_) == Ranges{{1, 2}}; }));
  SendMessageW(window->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(MarkedRanges(view_), Ranges{});
  Send(SciMsg::SCI_SETDOCPOINTER, 0, first);
  Send(SciMsg::SCI_RELEASEDOCUMENT, 0, first);
  EXPECT_EQ(Document(), "a1b22c333");
  EXPECT_EQ(MarkedRanges(view_), Ranges{}) << "the first document's marks are gone too";
}

// A host that hands out no indicator: Highlight is off and disabled, nothing is marked.
TEST_F(EditorFilter, WithoutAnIndicatorNothingIsMarked) {
  Load("a1b22c333");
  HWND view = view_;
  auto window = frmMyDlg::Create(
      GetModuleHandleW(nullptr), nullptr,
      [](Operation, std::wstring_view, std::wstring_view, const siftwell::app::RunOptions&, std::shared_ptr<siftwell::app::DocumentCopy>) {
        return std::unique_ptr<siftwell::app::FilterRun>();
      },
      [view](bool) { return std::shared_ptr<siftwell::app::DocumentCopy>(siftwell::app::DocumentCopy::Of(view)); },
      [view] { return view; });
  ASSERT_NE(window, nullptr);
  window->SetHighlightIndicator(std::nullopt, {view});
  HWND box = GetDlgItem(window->Handle(), frmMyDlg::highlightBox);
  EXPECT_FALSE(IsWindowEnabled(box));
  EXPECT_NE(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(window->Options().highlight) << "the choice is kept for a host that has indicators";
  SetWindowTextW(GetDlgItem(window->Handle(), frmMyDlg::textBox1), L"\\d+");
  EXPECT_TRUE(PumpUntil([&] { return window->StatusText() == L"3 matches"; }));
  for (intptr_t at : {1, 3, 6}) EXPECT_EQ(Send(SciMsg::SCI_INDICATORALLONFOR, at), 0) << "nothing marked at " << at;
}

// ---- Writes that do not fully happen ------------------------------------------

// The real view with some of its answers changed, as an editor that runs out of
// memory in the middle of a write would give them.
struct Interceptor {
  static inline WNDPROC original = nullptr;
  static inline std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)> hook;
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hook) {
      if (auto answer = hook(hwnd, msg, wParam, lParam)) return *answer;
    }
    return CallWindowProcW(original, hwnd, msg, wParam, lParam);
  }
  static LRESULT Real(HWND hwnd, SciMsg msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return CallWindowProcW(original, hwnd, static_cast<UINT>(msg), wParam, lParam);
  }
};

class FailingWrites : public EditorFilter {
 protected:
  void SetUp() override {
    EditorFilter::SetUp();
    Interceptor::original =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(view_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Interceptor::Proc)));
  }
  void TearDown() override {
    Interceptor::hook = nullptr;
    EditorFilter::TearDown();
  }
  // The user's document with one edit of theirs on top.
  void LoadEdited() {
    Load("abc 123");
    const char more[] = " x9";
    Send(SciMsg::SCI_APPENDTEXT, 3, reinterpret_cast<intptr_t>(more));
  }
  // The write's first message (the whole text, or the first edit of a write
  // by edits) does `what` instead.
  void FailSetText(std::function<void(HWND)> what) {
    Interceptor::hook = [what](HWND hwnd, UINT msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
      if (msg != static_cast<UINT>(SciMsg::SCI_SETTEXT) && msg != static_cast<UINT>(SciMsg::SCI_REPLACETARGET) &&
          msg != static_cast<UINT>(SciMsg::SCI_DELETERANGE))
        return std::nullopt;
      const std::function<void(HWND)> act = what;  // the hook goes now
      Interceptor::hook = nullptr;
      act(hwnd);
      return 0;
    };
  }
};

TEST_F(FailingWrites, APartialWriteIsUndoneAndReported) {
  // Out of memory after the old text went: the document is left empty.
  LoadEdited();
  FailSetText([](HWND v) {
    Interceptor::Real(v, SciMsg::SCI_BEGINUNDOACTION);
    Interceptor::Real(v, SciMsg::SCI_DELETERANGE, 0, static_cast<LPARAM>(Interceptor::Real(v, SciMsg::SCI_GETLENGTH)));
    Interceptor::Real(v, SciMsg::SCI_ENDUNDOACTION);
    Interceptor::Real(v, SciMsg::SCI_SETSTATUS, static_cast<WPARAM>(SciMsg::SC_STATUS_BADALLOC));
  });
  auto message = RunOnView(view_, Operation::Remove, L"\\d+", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find(L"memory"), std::wstring::npos);
  EXPECT_EQ(Document(), "abc 123 x9");
  EXPECT_EQ(Send(SciMsg::SCI_GETSTATUS), 0);
  EXPECT_NE(Send(SciMsg::SCI_GETMODIFY), 0) << "the unsaved edit is still marked unsaved";
  UndoOnce();
  EXPECT_EQ(Document(), "abc 123 x9") << "the history that held the failed write is gone, the text stays";

  // Only part of the result arrived, without a word from the editor.
  LoadEdited();
  FailSetText([](HWND v) { Interceptor::Real(v, SciMsg::SCI_SETTEXT, 0, reinterpret_cast<LPARAM>("abc")); });
  message = RunOnView(view_, Operation::Remove, L"\\d+", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Document(), "abc 123 x9");
}

TEST_F(FailingWrites, AWriteThatChangedNothingUndoesNothing) {
  LoadEdited();
  FailSetText([](HWND v) {
    Interceptor::Real(v, SciMsg::SCI_SETSTATUS, static_cast<WPARAM>(SciMsg::SC_STATUS_FAILURE));
  });
  const auto message = RunOnView(view_, Operation::Keep, L"\\d+", L"\\n");
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(Document(), "abc 123 x9") << "the user's last edit is not undone";
  UndoOnce();  // the editor's history after a failure is not trusted: emptied
  EXPECT_EQ(Document(), "abc 123 x9");
}

// The editor runs out of memory at each allocation of the write in turn (a
// real Scintilla, so its undo history may hold an insertion that never
// happened): the document is the user's, byte for byte, still marked
// unsaved, editable, and undo works. Out of memory when asked for room before
// the write: nothing is written and the history is untouched.
TEST_F(FailingWrites, AnAllocationFailingAnywhereInTheWriteLeavesTheOriginal) {
  // Written as edits of the lines (few lines), or as a whole new text (so
  // many lines that edits would cost the editor more).
  std::size_t manyLines = 400;
  while (manyLines + 1 <= siftwell::app::MostEdits(manyLines * 18)) manyLines *= 2;
  for (const std::size_t lines : {std::size_t{40}, manyLines}) {
    std::string original;
    for (std::size_t i = 0; i < lines; ++i) original += "line " + std::to_string(i) + " of text\n";
    const std::string edited = original + "x";
    std::string kept;
    for (std::size_t i = 0; i < lines; ++i) kept += "line " + std::to_string(i) + "\r\n";
    SCOPED_TRACE(std::to_string(lines) + " lines");
    auto setUp = [&] {
      Load(original);
      Send(SciMsg::SCI_APPENDTEXT, 1, reinterpret_cast<intptr_t>("x"));
    };
    auto editableWithUndo = [&](int n) {
      Send(SciMsg::SCI_APPENDTEXT, 1, reinterpret_cast<intptr_t>("z"));
      EXPECT_TRUE(Document() == edited + "z") << n;
      UndoOnce();
      EXPECT_TRUE(Document() == edited) << n;
    };

    int failures = 0, restored = 0;
    for (int n = 1; n < 4000; ++n) {
      setUp();
      gAllocationFailed = false;
      // The Nth allocation from the write's first message on fails (up to the
      // end of the write's undo step), none elsewhere.
      Interceptor::hook = [n](HWND v, UINT msg, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
        const auto is = [msg](SciMsg m) { return msg == static_cast<UINT>(m); };
        if (is(SciMsg::SCI_ENDUNDOACTION)) {
          gFailAllocationIn = 0;
          Interceptor::hook = nullptr;
          return std::nullopt;
        }
        if (!is(SciMsg::SCI_SETTEXT) && !is(SciMsg::SCI_REPLACETARGET) && !is(SciMsg::SCI_DELETERANGE))
          return std::nullopt;
        if (gAllocationFailed || gFailAllocationIn.load() > 0) return std::nullopt;  // armed already
        gFailAllocationIn = n;
        if (!is(SciMsg::SCI_SETTEXT)) return std::nullopt;
        const LRESULT answer = Interceptor::Real(v, static_cast<SciMsg>(msg), w, l);
        gFailAllocationIn = 0;
        Interceptor::hook = nullptr;
        return answer;
      };
      const std::optional<std::wstring> message = RunOnView(view_, Operation::Keep, L"line \\d+", L"\\n");
      gFailAllocationIn = 0;
      Interceptor::hook = nullptr;
      if (!gAllocationFailed) {  // the write needs fewer allocations: it went through
        EXPECT_EQ(message, std::nullopt);
        EXPECT_TRUE(Document() == kept);
        break;
      }
      ++failures;
      ASSERT_TRUE(message.has_value()) << n;
      EXPECT_EQ(Send(SciMsg::SCI_GETSTATUS), 0) << n;
      const std::size_t at = message->find(L"kept in ");
      if (at == std::wstring::npos) {
        // Put back: the user's text, still unsaved, editable, with an undo that works.
        ++restored;
        EXPECT_TRUE(Document() == edited) << "allocation " << n;
        EXPECT_NE(Send(SciMsg::SCI_GETMODIFY), 0) << n;
        editableWithUndo(n);
      } else {
        // The editor refuses changes to this document from now on: the text is
        // in the file the message names, byte for byte.
        const std::wstring path = message->substr(at + 8, message->find(L". ", at) - at - 8);
        std::ifstream in(std::filesystem::path(path), std::ios::binary);
        const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(kept == edited) << "allocation " << n;
        in.close();
        std::filesystem::remove(std::filesystem::path(path));
        // A fresh document for the next round.
        const intptr_t fresh = Send(SciMsg::SCI_CREATEDOCUMENT);
        Send(SciMsg::SCI_SETDOCPOINTER, 0, fresh);
        Send(SciMsg::SCI_RELEASEDOCUMENT, 0, fresh);
      }
    }
    EXPECT_GT(failures, 0) << "the write allocates";
    std::printf("%zu lines: write allocations failed: %d, document put back: %d, kept in a file: %d\n", lines,
                failures, restored,
                failures - restored);

    // No room for the result (the process has no block of the grown
    // document's size): refused before anything is written, and the editor was
    // not asked to grow either (a grow that fails leaves Scintilla's buffer
    // counting room it does not have, and the next edit writes past it).
    setUp();
    bool growAsked = false, armed = false;
    Interceptor::hook = [&](HWND v, UINT msg, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
      if (msg == static_cast<UINT>(SciMsg::SCI_ALLOCATE)) growAsked = true;
      if (msg == static_cast<UINT>(SciMsg::SCI_SETSTATUS)) armed = true;
      if (!armed || msg != static_cast<UINT>(SciMsg::SCI_GETLENGTH)) return std::nullopt;
      const LRESULT answer = Interceptor::Real(v, SciMsg::SCI_GETLENGTH, w, l);
      gFailAllocationIn = 1;  // the first block of the room asked for
      Interceptor::hook = nullptr;
      return answer;
    };
    gAllocationFailed = false;
    // (A long delimiter: the result outgrows the editor's buffer.)
    const auto message = RunOnView(view_, Operation::Keep, L"line \\d+", std::wstring(60, L'-') + L"\\n");
    gFailAllocationIn = 0;
    Interceptor::hook = nullptr;
    ASSERT_TRUE(gAllocationFailed);
    ASSERT_TRUE(message.has_value());
    EXPECT_NE(message->find(L"cannot hold"), std::wstring::npos);
    EXPECT_FALSE(growAsked);
    EXPECT_TRUE(Document() == edited);
    UndoOnce();
    EXPECT_TRUE(Document() == original) << "nothing was written: the user's edit is the last undo step";
  }
}

// ---- Changes to the document while the worker computes ----------------------

// The run's steps as the filter window takes them, with the matching on a
// thread of its own, and `meanwhile` done on this (the UI) thread before the
// matching reads anything. The worker reads only the run's copy, so nothing
// the editor does to its own memory can reach it.
TEST_F(EditorFilter, NothingDoneToTheDocumentDuringTheRunIsOverwritten) {
  using siftwell::app::RunProblem;
  std::string big;
  while (big.size() < (std::size_t{3} << 20)) big += "2024-01-01 item 12345 ok\n";
  struct Row {
    const char* what;
    std::function<void(HWND, siftwell::app::FilterRun&)> meanwhile;
    RunProblem::Kind kind;
    std::string after;  // the document afterwards; empty: the original
    bool readOnly = false;
  };
  const std::string reloaded(big.size() + 7, 'r');
  std::string sameLength = big;
  sameLength[big.size() / 2] = '#';
  const Row rows[] = {
      {"reloaded (cleared, room made, new text)",
       [&](HWND v, siftwell::app::FilterRun&) {
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_CLEARALL), 0, 0);
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_ALLOCATE), 64 << 20, 0);
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_APPENDTEXT), reloaded.size(),
                      reinterpret_cast<LPARAM>(reloaded.data()));
       },
       RunProblem::Kind::Reloaded, reloaded},
      {"changed, same length, unreported",
       [&](HWND v, siftwell::app::FilterRun&) {
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_SETTARGETRANGE), big.size() / 2, big.size() / 2 + 1);
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_REPLACETARGET), 1, reinterpret_cast<LPARAM>("#"));
       },
       RunProblem::Kind::Reloaded, sameLength},
      {"made read-only", [](HWND v, siftwell::app::FilterRun&) {
         SendMessageW(v, static_cast<UINT>(SciMsg::SCI_SETREADONLY), 1, 0); },
       RunProblem::Kind::MadeReadOnly, {}, true},
      {"edit reported", [](HWND v, siftwell::app::FilterRun& run) { run.Edited(v); },
       RunProblem::Kind::Edited, {}},
      {"cancelled after the matching", {}, RunProblem::Kind::Stopped, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Load(big);
    auto run = siftwell::app::StartOnView(view_, Operation::Remove, L"\\d+", L"");
    int steps = 1;
    while (!run->CopyStep()) ++steps;
    EXPECT_GE(steps, 1);
    std::shared_ptr<siftwell::app::Computation> computation = run->TakeComputation();
    ASSERT_NE(computation, nullptr);
    std::atomic<bool> go{false};
    siftwell::win::JobControl control;
    std::thread worker([&] {
      while (!go) Sleep(1);
      computation->Compute(control);
    });
    if (row.meanwhile) row.meanwhile(view_, *run);
    go = true;
    worker.join();
    if (!row.meanwhile) run->Cancel();
    const std::optional<RunProblem> problem = run->Commit();
    ASSERT_TRUE(problem.has_value());
    EXPECT_EQ(problem->kind, row.kind);
    EXPECT_TRUE(Document() == (row.after.empty() ? big : row.after));
    EXPECT_EQ(Send(SciMsg::SCI_GETREADONLY), row.readOnly ? 1 : 0);
    Send(SciMsg::SCI_SETREADONLY, 0);
  }
}

// The host's reload, as Notepad++ does it: the view lets go of the document
// (its modification events off), a hidden view clears the text and loads the
// new one, the view takes the document back. Nobody is told.
void ReloadUnannounced(HWND view, const std::string& text) {
  const auto send = [](HWND w, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
    return SendMessageW(w, static_cast<UINT>(msg), static_cast<WPARAM>(wParam), lParam);
  };
  HWND scratch = CreateWindowExW(0, L"Scintilla", L"", WS_CHILD, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  const intptr_t document = send(view, SciMsg::SCI_GETDOCPOINTER);
  send(view, SciMsg::SCI_ADDREFDOCUMENT, 0, document);
  send(view, SciMsg::SCI_SETMODEVENTMASK, 0);
  send(view, SciMsg::SCI_SETDOCPOINTER, 0, 0);
  send(scratch, SciMsg::SCI_SETDOCPOINTER, 0, document);
  send(scratch, SciMsg::SCI_SETUNDOCOLLECTION, 0);
  send(scratch, SciMsg::SCI_CLEARALL);
  send(scratch, SciMsg::SCI_APPENDTEXT, static_cast<intptr_t>(text.size()), reinterpret_cast<intptr_t>(text.data()));
  send(scratch, SciMsg::SCI_EMPTYUNDOBUFFER);
  send(scratch, SciMsg::SCI_SETSAVEPOINT);
  send(scratch, SciMsg::SCI_SETUNDOCOLLECTION, 1);
  send(scratch, SciMsg::SCI_SETDOCPOINTER, 0, 0);
  send(view, SciMsg::SCI_SETDOCPOINTER, 0, document);
  send(view, SciMsg::SCI_SETMODEVENTMASK, static_cast<intptr_t>(SciMsg::SC_MODEVENTMASKALL));
  send(view, SciMsg::SCI_RELEASEDOCUMENT, 0, document);
  DestroyWindow(scratch);
}

// What the live count reads: a copy taken in steps is the document as it was
// at one moment, or it is never done, whatever reload came between the steps.
TEST_F(EditorFilter, ACopyNeverMixesTheTextBeforeAndAfterAnUnannouncedReload) {
  using siftwell::app::DocumentCopy;
  std::string before, after;
  while (before.size() < 2 * DocumentCopy::kStepBytes + 100) before += "2024-01-01 item 12345 ok\n";  // 3 pieces
  after = before;
  std::replace(after.begin(), after.end(), '1', '7');  // the same length, changed in every piece
  struct Row {
    const char* what;
    int reloadAfterSteps;  // -1: none
    const std::string* reloadTo;
    bool recheck;          // the copy is done, then kept and used again
    DocumentCopy::State state;
    std::chrono::microseconds budget{};  // 0: one piece a step
    int steps = 0;                       // the steps it takes to copy (0: not checked)
  };
  constexpr std::chrono::seconds kAll{60};
  const Row rows[] = {
      {"nothing happens", -1, nullptr, false, DocumentCopy::State::Done, {}, 6},
      {"reloaded, same length, after the first piece", 1, &after, false, DocumentCopy::State::Changed},
      {"reloaded, same length, after the last piece", 3, &after, false, DocumentCopy::State::Changed},
      {"reloaded with the same text", 1, &before, false, DocumentCopy::State::Done, {}, 6},
      {"done, reloaded, used again", 99, &after, true, DocumentCopy::State::Changed},
      {"done, used again unchanged", -1, nullptr, true, DocumentCopy::State::Done},
      // All pieces in one step: the document as it was then, nothing to compare.
      {"every piece in one step", -1, nullptr, false, DocumentCopy::State::Done, kAll, 1},
      {"every piece in one step, reloaded, used again", 99, &after, true, DocumentCopy::State::Changed, kAll},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Load(before);
    std::unique_ptr<DocumentCopy> copy = DocumentCopy::Of(view_);
    DocumentCopy::State state = DocumentCopy::State::Copying;
    int steps = 0;
    for (; state == DocumentCopy::State::Copying; ++steps) {
      if (steps == row.reloadAfterSteps) ReloadUnannounced(view_, *row.reloadTo);
      state = copy->Step(row.budget);
    }
    if (row.steps != 0) EXPECT_EQ(steps, row.steps);
    if (row.recheck) {
      ASSERT_EQ(state, DocumentCopy::State::Done);
      if (row.reloadTo != nullptr) ReloadUnannounced(view_, *row.reloadTo);
      copy->Recheck();
      while ((state = copy->Step()) == DocumentCopy::State::Copying) {
      }
    }
    EXPECT_EQ(state, row.state);
    if (state == DocumentCopy::State::Done) {
      ASSERT_NE(copy->Text(), nullptr);
      EXPECT_TRUE(copy->Text()->bytes == before);
    }
  }
}

TEST_F(EditorFilter, ADelimiterTheCodePageCannotHoldIsRefused) {
  Send(SciMsg::SCI_SETCODEPAGE, 932);  // Shift-JIS has no e-acute
  Load("ab cd");
  const auto message = RunOnView(view_, Operation::Keep, L"\\w+", L"\u00E9\\n");
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find(L"932"), std::wstring::npos);
  EXPECT_NE(message->find(L"\u00E9"), std::wstring::npos);
  EXPECT_EQ(Document(), "ab cd");
  EXPECT_EQ(Send(SciMsg::SCI_CANUNDO), 0);
  // Remove writes no delimiter: it goes ahead.
  EXPECT_EQ(RunOnView(view_, Operation::Remove, L" ", L"\u00E9"), std::nullopt);
  EXPECT_EQ(Document(), "abcd");
}

TEST_F(EditorFilter, AReadOnlyDocumentIsRefusedAndStaysReadOnly) {
  Load("a1");
  Send(SciMsg::SCI_SETREADONLY, 1);
  const auto message = RunOnView(view_, Operation::Remove, L"\\d", L"");
  ASSERT_TRUE(message.has_value());
  EXPECT_NE(message->find(L"read-only"), std::wstring::npos);
  EXPECT_EQ(Document(), "a1");
  EXPECT_EQ(Send(SciMsg::SCI_GETREADONLY), 1);
}

// Text longer than one platform call takes goes in pieces, cut between
// characters, with the same outcome as in one piece.
TEST(CodePageText, ConvertsInPiecesCutBetweenCharacters) {
  using siftwell::win::ConversionFailure;
  std::string sjis;
  for (int i = 0; i < 50; ++i) sjis += "a\x82\xA0" "b\x83\x41";  // hiragana a, katakana a
  std::string whole, pieces;
  ASSERT_EQ(siftwell::win::CodePageToUtf8(sjis, 932, whole), ConversionFailure::None);
  for (std::size_t piece : {2u, 3u, 7u}) {
    pieces.clear();
    ASSERT_EQ(siftwell::win::CodePageToUtf8(sjis, 932, pieces, {}, piece), ConversionFailure::None);
    EXPECT_EQ(pieces, whole) << piece;
    std::string back;
    ASSERT_EQ(siftwell::win::Utf8ToCodePage(whole, 932, back, {}, piece + 2), ConversionFailure::None);
    EXPECT_EQ(back, sjis) << piece;
  }
  std::string out;
  EXPECT_EQ(siftwell::win::Utf8ToCodePage("caf\xC3\xA9", 932, out), ConversionFailure::NotRepresentable);
  EXPECT_EQ(siftwell::win::CodePageToUtf8("abc \x81", 932, out), ConversionFailure::NotRepresentable);
  EXPECT_EQ(siftwell::win::CodePageToUtf8("abc", 42424, out), ConversionFailure::Failed);
}

// ---- A document beyond 4 GiB --------------------------------------------------

// An editor view that answers for a document of 4 GiB and a few bytes, lent
// from memory that is committed but never written except for two bytes (the
// system hands out zero pages for the rest).
class HugeView {
 public:
  static constexpr uint64_t kLength = (uint64_t{1} << 32) + 3;
  HugeView() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SiftwellHugeView";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    bytes_ = static_cast<char*>(VirtualAlloc(nullptr, static_cast<SIZE_T>(kLength), MEM_RESERVE | MEM_COMMIT,
                                             PAGE_READWRITE));
    if (bytes_ != nullptr) {
      bytes_[0] = 'x';
      bytes_[kLength - 1] = 'x';
    }
  }
  ~HugeView() {
    DestroyWindow(hwnd_);
    if (bytes_ != nullptr) VirtualFree(bytes_, 0, MEM_RELEASE);
  }
  HWND Handle() const { return hwnd_; }
  bool Ok() const { return hwnd_ != nullptr && bytes_ != nullptr; }

  std::string written;
  int references = 0;
  bool readOnly = false;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE)
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* self = reinterpret_cast<HugeView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || msg < kFirstPrivateMessage) return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (static_cast<SciMsg>(msg)) {
      case SciMsg::SCI_GETDOCPOINTER: return 0x5EED;
      case SciMsg::SCI_GETCODEPAGE: return static_cast<LRESULT>(SciMsg::SC_CP_UTF8);
      case SciMsg::SCI_GETLENGTH:
        return self->wrote_ ? static_cast<LRESULT>(self->written.size()) : static_cast<LRESULT>(kLength);
      case SciMsg::SCI_GETCHARACTERPOINTER:
        return self->wrote_ ? reinterpret_cast<LRESULT>(self->written.data()) : reinterpret_cast<LRESULT>(self->bytes_);
      case SciMsg::SCI_GETRANGEPOINTER:
        return reinterpret_cast<LRESULT>((self->wrote_ ? self->written.data() : self->bytes_) + wParam);
      case SciMsg::SCI_GETREADONLY: return self->readOnly;
      case SciMsg::SCI_SETREADONLY: self->readOnly = wParam != 0; return 0;
      case SciMsg::SCI_ADDREFDOCUMENT: ++self->references; return 0;
      case SciMsg::SCI_RELEASEDOCUMENT: --self->references; return 0;
      case SciMsg::SCI_SETTEXT:
        self->written = reinterpret_cast<const char*>(lParam);
        self->wrote_ = true;
        return 1;
      default: return 0;
    }
  }
  HWND hwnd_ = nullptr;
  char* bytes_ = nullptr;
  bool wrote_ = false;
};

TEST(HugeDocument, IsReadAndMatchedToItsLastByte) {
  if (sizeof(void*) < 8) GTEST_SKIP() << "a 32-bit process cannot hold 4 GiB";
  HugeView view;
  ASSERT_TRUE(view.Ok());
  EXPECT_EQ(RunOnView(view.Handle(), Operation::Keep, L"x", L"\\n"), std::nullopt);
  EXPECT_EQ(view.written, "x\r\nx\r\n") << "the match in the last byte was found";
  EXPECT_FALSE(view.readOnly);
  EXPECT_EQ(view.references, 0);
}

}  // namespace
