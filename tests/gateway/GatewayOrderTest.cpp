// The interface as declared (IScintillaGateway.h with its generated part) against the
// published operation table data/gateway_ops.tsv: count, slot order, names and types.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Declared {
  std::string name, result, params;
};

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Pure virtual operations in declaration order, following the include of the generated part.
std::vector<Declared> DeclaredOperations() {
  static const std::regex decl(R"(^\s*virtual\s+(.+?)\s+(\w+)\((.*)\)\s*=\s*0;\s*$)");
  std::vector<Declared> out;
  for (const std::string& line : ReadLines(GW_INTERFACE_HEADER)) {
    if (line.find("#include \"npp/IScintillaGateway.ops.h\"") != std::string::npos) {
      for (const std::string& op : ReadLines(GW_GENERATED_HEADER)) {
        std::smatch m;
        if (std::regex_match(op, m, decl)) out.push_back({m[2], m[1], m[3]});
      }
      continue;
    }
    std::smatch m;
    if (std::regex_match(line, m, decl)) out.push_back({m[2], m[1], m[3]});
  }
  return out;
}

std::vector<std::map<std::string, std::string>> TableRows() {
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (const std::string& line : ReadLines(GW_OPS_TABLE)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) cells.push_back(cell);
    while (cells.size() < 7) cells.emplace_back();
    if (header.empty()) {
      header = cells;
      continue;
    }
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

std::string ParamType(const std::string& kind) {
  static const std::map<std::string, std::string> types = {
      {"int", "int32_t"}, {"bool", "bool"}, {"Position", "const Position&"}, {"Colour", "const Colour&"},
      {"KeyModifier", "const KeyModifier&"}, {"text", "std::u16string_view"}, {"Cells", "const Cells&"},
      {"TextRange", "TextRange&"}, {"TextToFind", "TextToFind&"}, {"pointer", "intptr_t"}};
  auto it = types.find(kind);
  return it == types.end() ? "" : it->second;
}

std::string ResultType(const std::string& kind) {
  static const std::map<std::string, std::string> types = {
      {"nothing", "void"}, {"int", "int32_t"}, {"bool", "bool"}, {"Position", "Position"}, {"Colour", "Colour"},
      {"pointer", "intptr_t"}, {"text", "std::u16string"}, {"ScrollInfo", "Win32::ScrollInfo"}};
  return types.at(kind);
}

// Parameter types of a declaration, names dropped.
std::string TypesOf(const std::string& params) {
  std::string out;
  std::stringstream ss(params);
  for (std::string p; std::getline(ss, p, ',');) {
    p = std::regex_replace(p, std::regex(R"(^\s+|\s*\w+\s*$)"), "");
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

}  // namespace

TEST(GatewayInterface, HasEveryOperationOfTheTableInSlotOrder) {
  const auto declared = DeclaredOperations();
  const auto rows = TableRows();
  ASSERT_EQ(rows.size(), 684u);
  ASSERT_EQ(declared.size(), 684u);
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE("slot " + row.at("slot") + " " + row.at("operation"));
    EXPECT_EQ(std::stoi(row.at("slot")), static_cast<int>(i + 1));
    EXPECT_EQ(declared[i].name, row.at("operation"));
    EXPECT_EQ(declared[i].result, ResultType(row.at("result")));
    if (i < 7) continue;  // composites: parameters are their own
    std::string expected;
    for (const char* slot : {"wparam", "lparam"}) {
      const std::string t = ParamType(row.at(slot));
      if (t.empty()) continue;
      if (!expected.empty()) expected += ", ";
      expected += t;
    }
    EXPECT_EQ(TypesOf(declared[i].params), expected);
  }
}

TEST(GatewayInterface, CompositesComeFirst) {
  const auto declared = DeclaredOperations();
  ASSERT_GE(declared.size(), 9u);
  const char* composites[] = {"GetSelectionLength",   "AppendTextAndMoveCursor", "InsertTextAndMoveCursor",
                              "SelectCurrentLine",    "ClearSelectionToCursor",  "GetCurrentLineNumber",
                              "GetScrollInfo"};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(declared[i].name, composites[i]);
  EXPECT_EQ(declared[7].name, "AddText");
  EXPECT_EQ(declared[8].name, "AddStyledText");
  EXPECT_EQ(declared.back().name, "GetKeysUnicode");
}

TEST(GatewayInterface, SignatureClassesHaveThePublishedSizes) {
  // Operations per (wParam, lParam, result) class as the editor's interface lists them.
  const std::map<std::tuple<std::string, std::string, std::string>, int> published = {
      {{"0", "0", "nothing"}, 134},       {{"0", "int", "nothing"}, 4},         {{"0", "text", "nothing"}, 10},
      {{"0", "pointer", "nothing"}, 1},   {{"int", "0", "nothing"}, 87},        {{"int", "int", "nothing"}, 40},
      {{"int", "bool", "nothing"}, 10},   {{"int", "Position", "nothing"}, 4},  {{"int", "Colour", "nothing"}, 7},
      {{"int", "text", "nothing"}, 18},   {{"int", "Cells", "nothing"}, 1},     {{"bool", "0", "nothing"}, 37},
      {{"bool", "int", "nothing"}, 2},    {{"bool", "Colour", "nothing"}, 8},   {{"Position", "0", "nothing"}, 11},
      {{"Position", "int", "nothing"}, 2}, {{"Position", "Position", "nothing"}, 8},
      {{"Position", "text", "nothing"}, 2}, {{"Colour", "0", "nothing"}, 9},   {{"KeyModifier", "0", "nothing"}, 1},
      {{"KeyModifier", "int", "nothing"}, 1}, {{"text", "0", "nothing"}, 1},   {{"text", "text", "nothing"}, 2},
      {{"0", "0", "int"}, 82},            {{"0", "Position", "int"}, 2},        {{"0", "TextRange", "int"}, 2},
      {{"int", "0", "int"}, 39},          {{"int", "int", "int"}, 14},          {{"int", "text", "int"}, 6},
      {{"Position", "0", "int"}, 4},      {{"Position", "bool", "int"}, 2},     {{"Position", "Position", "int"}, 1},
      {{"text", "0", "int"}, 2},          {{"0", "0", "bool"}, 42},             {{"int", "0", "bool"}, 11},
      {{"0", "0", "Position"}, 12},       {{"int", "0", "Position"}, 9},        {{"int", "int", "Position"}, 4},
      {{"int", "TextToFind", "Position"}, 1}, {{"Position", "0", "Position"}, 3}, {{"Position", "int", "Position"}, 1},
      {{"0", "0", "Colour"}, 6},          {{"int", "0", "Colour"}, 4},          {{"0", "0", "pointer"}, 4},
      {{"int", "int", "pointer"}, 1},     {{"0", "buffer", "text"}, 11},        {{"int", "buffer", "text"}, 9},
      {{"text", "buffer", "text"}, 5}};
  std::map<std::tuple<std::string, std::string, std::string>, int> counted;
  for (const auto& row : TableRows())
    if (!row.at("message").empty()) ++counted[{row.at("wparam"), row.at("lparam"), row.at("result")}];
  EXPECT_EQ(counted, published);
}
