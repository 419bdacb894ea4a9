// Saved presets: a named pattern with its delimiter and options, kept in a
// small UTF-8 text file that the CLI and the plugin both read and write.
// Portable: no platform headers; the caller reads and writes the file.
//
// The file is INI-like, one section per preset:
//
//   # comment (also ;)
//   [Errors in order]
//   pattern = ^ERROR\s+(\w+)
//   delimiter = \n
//   lines = no
//   match-case = yes
//   template = $1
//   unique = no
//   tally = yes
//   line-numbers = no
//
// The section's name is the preset's: what lies between the line's first '['
// and its last ']', blanks around it dropped (names are compared exactly). A value is the rest of its line after the '=' with the
// blanks around it dropped, taken as it stands: no escapes, so a pattern's
// backslashes are its own, and delimiter and template hold their fields' own
// \n and \t. A value written in double quotes ("  , ") keeps what is between
// the first and the last quote, blanks included. Keys: pattern (required),
// delimiter (default \n), template (default empty: the match itself), and
// the switches lines, match-case (default yes), unique, tally, line-numbers
// (default no) taking yes/no, true/false, on/off or 1/0. Lines end at LF or
// CR LF; a UTF-8 byte order mark at the start is skipped. A value cannot hold
// a line break (a pattern can say \n or \r instead).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/PatternFilter.h"

namespace siftwell::engine {

struct Preset {
  std::string name;
  std::string pattern;
  std::string delimiter = "\\n";  // the delimiter field's text (ExpandDelimiter makes the bytes)
  std::string keepTemplate;       // the template field's text
  bool lines = false;
  bool matchCase = true;
  bool unique = false;
  bool tally = false;
  bool lineNumbers = false;

  // The compile options these settings give (the JIT allowed).
  CompileOptions Options() const;
  bool operator==(const Preset&) const = default;
};

// Why a presets file could not be read or written, as facts.
struct PresetError {
  enum class Kind {
    Syntax,          // a line that is neither a section, a key = value, a comment nor blank
    OutsidePreset,   // item: the key; it comes before the first [name]
    UnknownKey,      // item: the key
    BadSwitch,       // item: the key; a switch whose value is not yes/no (or the like)
    Repeated,        // item: the key given twice in one preset, or the name of a second preset of that name
    NoPattern,       // item: the preset's name; it has no pattern line
    UniqueAndTally,  // item: the preset's name; both switched on
    NotWritable,     // item: the preset's name; a name or value holds a line break, or the name is empty
                     // or starts or ends with a blank
  };
  Kind kind = Kind::Syntax;
  std::size_t line = 0;  // 1-based line of the file (reading only)
  std::string item;
};

struct PresetsRead {
  std::vector<Preset> presets;  // in the file's order (when !error)
  std::optional<PresetError> error;
};
PresetsRead ReadPresets(std::string_view file);

// The file's text for these presets (LF line ends), or why not.
std::variant<std::string, PresetError> WritePresets(const std::vector<Preset>& presets);

// The preset of that name, or null.
const Preset* FindPreset(const std::vector<Preset>& presets, std::string_view name);

}  // namespace siftwell::engine
