#include "app/JumpBack.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "npp/PluginBase.h"
#include "npp/Tables.h"
#include "npp/Win32.h"

namespace siftwell::app {
namespace {

intptr_t Sci(HWND view, SciMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(view, static_cast<uint32_t>(msg), wParam, lParam);
}

intptr_t Npp(HWND host, NppMsg msg, intptr_t wParam = 0, intptr_t lParam = 0) {
  return Win32::SendMessage(host, static_cast<uint32_t>(msg), wParam, lParam);
}

// The document `view` shows, as it is now (UI thread).
TextState StateOf(HWND view) {
  const intptr_t length = Sci(view, SciMsg::SCI_GETLENGTH);
  if (length <= 0) return TextState::Of({});
  const auto* bytes = reinterpret_cast<const char*>(Sci(view, SciMsg::SCI_GETCHARACTERPOINTER));
  if (bytes == nullptr) return TextState{UINT64_MAX, 0};
  return TextState::Of(std::string_view(bytes, static_cast<std::size_t>(length)));
}

// The results remembered, newest last (UI thread only). A handful at most in
// practice; each holds its runs only.
std::vector<ResultOrigin>& Origins() {
  static std::vector<ResultOrigin> origins;
  return origins;
}

}  // namespace

void LineMap::Add(uint64_t resultLine, uint64_t sourceLine) {
  if (!runs_.empty() && resultLine - runs_.back().result == sourceLine - runs_.back().source &&
      sourceLine >= runs_.back().source)
    return;
  runs_.push_back(Run{resultLine, sourceLine});
  lines_ = std::max(lines_, resultLine + 1);
}

std::optional<uint64_t> LineMap::SourceOf(uint64_t resultLine) const {
  if (runs_.empty() || resultLine >= lines_ || resultLine < runs_.front().result) return std::nullopt;
  const auto next = std::upper_bound(runs_.begin(), runs_.end(), resultLine,
                                     [](uint64_t line, const Run& run) { return line < run.result; });
  const Run& run = *std::prev(next);
  return run.source + (resultLine - run.result);
}

TextState TextState::Of(std::string_view bytes) {
  return TextState{static_cast<uint64_t>(bytes.size()), static_cast<uint64_t>(std::hash<std::string_view>{}(bytes))};
}

void RememberOrigin(ResultOrigin origin) {
  std::vector<ResultOrigin>& origins = Origins();
  std::erase_if(origins, [&](const ResultOrigin& o) { return o.resultBuffer == origin.resultBuffer; });
  origins.push_back(std::move(origin));
}

void ForgetBuffer(intptr_t buffer) {
  std::vector<ResultOrigin>& origins = Origins();
  std::erase_if(origins, [&](const ResultOrigin& o) { return o.resultBuffer == buffer; });
  // A closed source stays closed, even if the host hands its id to another document later.
  for (ResultOrigin& o : origins)
    if (o.sourceBuffer == buffer) o.sourceBuffer = 0;
}

std::size_t RememberedOrigins() { return Origins().size(); }

std::wstring Words(JumpRefusal refusal) {
  switch (refusal) {
    case JumpRefusal::ResultEdited:
      return L"This result was edited since it was made, so its lines no longer tell where they came from. "
             L"Run Keep again to go to a source line.";
    case JumpRefusal::SourceClosed:
      return L"The document this result came from is no longer open.";
    case JumpRefusal::SourceChanged:
      return L"The document this result came from has changed since, so its lines may have moved; no line was "
             L"selected. Run Keep again to go to a source line.";
    case JumpRefusal::NoLine:
      return L"This line did not come from the source (the result's last, empty line).";
  }
  return {};
}

JumpAnswer JumpToSource(HWND host, HWND view) {
  JumpAnswer answer;
  if (host == nullptr || view == nullptr) return answer;
  const intptr_t buffer = Npp(host, NppMsg::NPPM_GETCURRENTBUFFERID);
  std::vector<ResultOrigin>& origins = Origins();
  const auto found = std::find_if(origins.begin(), origins.end(),
                                  [&](const ResultOrigin& o) { return o.resultBuffer == buffer; });
  if (buffer == 0 || found == origins.end()) return answer;
  answer.handled = true;
  const ResultOrigin& origin = *found;
  if (!(StateOf(view) == origin.result)) {
    answer.refusal = JumpRefusal::ResultEdited;
    return answer;
  }
  const intptr_t line = Sci(view, SciMsg::SCI_LINEFROMPOSITION, Sci(view, SciMsg::SCI_GETCURRENTPOS));
  const std::optional<uint64_t> source = line < 0 ? std::nullopt : origin.lines.SourceOf(static_cast<uint64_t>(line));
  if (!source) {
    answer.refusal = JumpRefusal::NoLine;
    return answer;
  }
  // Where the host has the source: view (top two bits) and index, or -1.
  const intptr_t place =
      origin.sourceBuffer == 0 ? -1 : Npp(host, NppMsg::NPPM_GETPOSFROMBUFFERID, origin.sourceBuffer, 0);
  if (place < 0) {
    answer.refusal = JumpRefusal::SourceClosed;
    return answer;
  }
  const TextState sourceState = origin.source;
  const intptr_t sourceBuffer = origin.sourceBuffer;
  Npp(host, NppMsg::NPPM_ACTIVATEDOC, (place >> 30) & 3, place & 0x3FFFFFFF);
  HWND target = PluginBase::GetCurrentScintilla();
  if (Npp(host, NppMsg::NPPM_GETCURRENTBUFFERID) != sourceBuffer || target == nullptr) {
    answer.refusal = JumpRefusal::SourceClosed;
    return answer;
  }
  if (!(StateOf(target) == sourceState)) {
    answer.refusal = JumpRefusal::SourceChanged;
    return answer;
  }
  const auto index = static_cast<intptr_t>(*source - 1);
  const intptr_t start = Sci(target, SciMsg::SCI_POSITIONFROMLINE, index);
  const intptr_t end = Sci(target, SciMsg::SCI_GETLINEENDPOSITION, index);
  Sci(target, SciMsg::SCI_ENSUREVISIBLE, index);
  Sci(target, SciMsg::SCI_SETSEL, start, end);
  Sci(target, SciMsg::SCI_GRABFOCUS);
  return answer;
}

}  // namespace siftwell::app
