// The shared filter cases (tests/cases/filter_cases.tsv) read from the text the
// build puts in FilterCases.inc: what the CLI, the engine and the window must
// all give. Columns: pattern, options, template, input, keep, remove.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace siftwell::cases {

struct SharedCase {
  int line = 0;
  std::string pattern, options, keepTemplate, input, keep, remove;
  bool Lines() const { return options.find("lines") != std::string::npos; }
  bool MatchCase() const { return options.find("ignore-case") == std::string::npos; }
};

// \r \n \t \\ \xHH; nothing else is an escape.
inline std::string Unescape(std::string_view f) {
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '\\' || i + 1 >= f.size()) {
      out += f[i];
      continue;
    }
    const char e = f[++i];
    if (e == 'r') out += '\r';
    else if (e == 'n') out += '\n';
    else if (e == 't') out += '\t';
    else if (e == '\\') out += '\\';
    else if (e == 'x' && i + 2 < f.size()) out += static_cast<char>(std::stoi(std::string(f.substr(i + 1, 2)), nullptr, 16)), i += 2;
    else out += '\\', out += e;
  }
  return out;
}

// The rows of `file`; a row without six fields is returned with line < 0.
inline std::vector<SharedCase> ParseSharedCases(std::string_view file) {
  std::vector<SharedCase> cases;
  int number = 0;
  for (std::size_t at = 0; at < file.size();) {
    std::size_t end = file.find('\n', at);
    if (end == std::string_view::npos) end = file.size();
    const std::string_view line = file.substr(at, end - at);
    at = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string_view> f;
    for (std::size_t from = 0;;) {
      const std::size_t tab = line.find('\t', from);
      f.push_back(line.substr(from, tab == std::string_view::npos ? std::string_view::npos : tab - from));
      if (tab == std::string_view::npos) break;
      from = tab + 1;
    }
    if (f.size() != 6) {
      cases.push_back({-number, {}, {}, {}, {}, {}, {}});
      continue;
    }
    cases.push_back({number, std::string(f[0]), std::string(f[1]), std::string(f[2]), Unescape(f[3]), Unescape(f[4]),
                     Unescape(f[5])});
  }
  return cases;
}

}  // namespace siftwell::cases
