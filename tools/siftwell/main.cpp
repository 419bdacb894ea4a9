// siftwell: the plugin's Keep and Remove on files, for scripts and large texts.
//
//   siftwell keep PATTERN [FILE]      every non-empty match, each + delimiter
//   siftwell remove PATTERN [FILE]    the text with every match deleted
//
// Output is exactly the bytes the document would become. Exit status: 0 done,
// 1 usage or I/O error, 2 pattern rejected or matching gave up (then nothing
// is written and an -o file is neither created nor truncated).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/PatternFilter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace sf = siftwell::filter;

constexpr std::string_view kHelp =
    "Usage: siftwell keep PATTERN [FILE] [options]\n"
    "       siftwell remove PATTERN [FILE] [options]\n"
    "\n"
    "keep    writes every non-empty match of PATTERN, in order, each followed by\n"
    "        the delimiter.\n"
    "remove  writes the text with every match of PATTERN deleted.\n"
    "\n"
    "Options:\n"
    "  -d, --delimiter TEXT    delimiter field text (default \\n). \\n becomes CR LF,\n"
    "                          then \\t becomes TAB; nothing else is an escape.\n"
    "      --delimiter-file F  read the delimiter field text from F (UTF-8, as stored)\n"
    "      --pattern-file F    read PATTERN from F (UTF-8, as stored; no PATTERN argument)\n"
    "      --input F           read the text from F (default: FILE, or standard input)\n"
    "  -o, --output F          write the result to F (default: standard output)\n"
    "  -h, --help              show this help\n"
    "      --version           show siftwell's version and its engine's\n"
    "      --                  end of options\n"
    "\n"
    "Patterns are Perl-style (PCRE2, Unicode): no options are added; (?i) (?m) (?s) (?x)\n"
    "switch them on inside the pattern. The text's bytes are kept exactly (NULs and\n"
    "invalid UTF-8 included) wherever they are not removed.\n"
    "\n"
    "Exit status: 0 success, 1 usage or I/O error, 2 pattern rejected or a matching\n"
    "limit reached (nothing is written then).\n";

#ifdef _WIN32
using PathString = std::wstring;
#else
using PathString = std::string;
#endif

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

#ifdef _WIN32
// Command-line arguments arrive as UTF-16; the engine and the user's
// pattern are UTF-8. Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::wstring_view w) {
  std::string out;
  for (std::size_t i = 0; i < w.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(w[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(w[++i]) - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}
File OpenFile(const PathString& path, bool write) { return File(_wfopen(path.c_str(), write ? L"wb" : L"rb")); }
std::string Shown(const PathString& path) { return ToUtf8(path); }
bool Seek(std::FILE* f, int64_t off, int whence) { return _fseeki64(f, off, whence) == 0; }
int64_t Tell(std::FILE* f) { return _ftelli64(f); }
#else
File OpenFile(const PathString& path, bool write) { return File(std::fopen(path.c_str(), write ? "wb" : "rb")); }
std::string Shown(const PathString& path) { return path; }
bool Seek(std::FILE* f, int64_t off, int whence) { return fseeko(f, static_cast<off_t>(off), whence) == 0; }
int64_t Tell(std::FILE* f) { return static_cast<int64_t>(ftello(f)); }
#endif

struct IoError {
  std::string message;
};

// A whole file (or stream) in memory, read without zero-filling first.
class Bytes {
 public:
  std::string_view View() const { return {data_.get(), size_}; }

  static std::optional<IoError> Read(std::FILE* f, const std::string& name, Bytes& out) {
    int64_t size = -1;
    if (Seek(f, 0, SEEK_END)) {
      size = Tell(f);
      if (!Seek(f, 0, SEEK_SET)) size = -1;
    }
    std::size_t capacity = 1 << 20;
    if (size >= 0) {
      if (static_cast<uint64_t>(size) >= SIZE_MAX / 2) return IoError{name + ": file too large for this system"};
      capacity = static_cast<std::size_t>(size) + 1;  // +1: sees end of file in one go
    }
    out.Reserve(capacity);
    while (true) {
      if (out.size_ == out.capacity_) out.Reserve(out.capacity_ + out.capacity_ / 2);
      // Bounded chunks: some C runtimes mishandle single reads of gigabytes.
      const std::size_t want = std::min<std::size_t>(out.capacity_ - out.size_, std::size_t{64} << 20);
      const std::size_t got = std::fread(out.data_.get() + out.size_, 1, want, f);
      out.size_ += got;
      if (got < want) {
        if (std::ferror(f)) return IoError{name + ": read error: " + std::strerror(errno)};
        return std::nullopt;
      }
    }
  }

 private:
  void Reserve(std::size_t n) {
    auto bigger = std::make_unique_for_overwrite<char[]>(n);
    if (size_) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = n;
  }
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

#ifndef _WIN32
// A regular file mapped read-only instead of copied: the engine and the
// output refer to its pages directly.
class Mapping {
 public:
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (data_) munmap(data_, size_);
  }
  std::string_view View() const { return {static_cast<const char*>(data_), size_}; }

  // False when mapping does not apply (not a regular file, empty, or the
  // output is the same file, which is truncated before it would be read);
  // the caller then reads the file instead.
  bool Map(const std::string& path, const std::optional<std::string>& output) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat in {};
    bool ok = fstat(fd, &in) == 0 && S_ISREG(in.st_mode) && in.st_size > 0 &&
              static_cast<uint64_t>(in.st_size) < SIZE_MAX / 2;
    struct stat out {};
    if (ok && output && stat(output->c_str(), &out) == 0 && out.st_dev == in.st_dev && out.st_ino == in.st_ino)
      ok = false;
    if (ok) {
      void* p = mmap(nullptr, static_cast<std::size_t>(in.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p != MAP_FAILED) {
        data_ = p;
        size_ = static_cast<std::size_t>(in.st_size);
      }
    }
    close(fd);
    return data_ != nullptr;
  }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};
#endif

// The result as a list of segments: long pieces of the input are referred to
// in place (the input outlives the output), short ones are copied into fixed
// blocks. No reallocation copies and no over-allocation, so peak memory stays
// near the input plus the short pieces of the output.
class Output {
 public:
  explicit Output(std::string_view input) : input_(input) {}

  void Append(std::string_view s) {
    if (s.size() >= kInPlace && s.data() >= input_.data() && s.data() + s.size() <= input_.data() + input_.size()) {
      segments_.push_back(s);
      return;
    }
    while (!s.empty()) {
      if (blocks_.empty() || used_ == kBlock) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        used_ = 0;
      }
      char* to = blocks_.back().get() + used_;
      const std::size_t n = std::min(s.size(), kBlock - used_);
      std::memcpy(to, s.data(), n);
      used_ += n;
      s.remove_prefix(n);
      if (!segments_.empty() && segments_.back().data() + segments_.back().size() == to)
        segments_.back() = std::string_view(segments_.back().data(), segments_.back().size() + n);
      else
        segments_.emplace_back(to, n);
    }
  }

  bool WriteTo(std::FILE* f) const {
    for (std::string_view seg : segments_)
      if (std::fwrite(seg.data(), 1, seg.size(), f) != seg.size()) return false;
    return true;
  }

 private:
  static constexpr std::size_t kInPlace = 4096;
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::string_view input_;
  std::vector<std::string_view> segments_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
};

std::optional<IoError> ReadPath(const PathString& path, Bytes& out) {
  File f = OpenFile(path, false);
  if (!f) return IoError{Shown(path) + ": " + std::strerror(errno)};
  return Bytes::Read(f.get(), Shown(path), out);
}

std::optional<IoError> ReadSmallFile(const PathString& path, std::string& out) {
  Bytes b;
  if (auto err = ReadPath(path, b)) return err;
  out.assign(b.View());
  return std::nullopt;
}

struct Options {
  bool keep = true;
  std::optional<std::string> pattern;
  std::optional<PathString> patternFile;
  std::string delimiterField = "\\n";
  std::optional<PathString> delimiterFile;
  std::optional<PathString> input;
  std::optional<PathString> output;
  bool help = false;
  bool version = false;
};

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "siftwell: %s\n", message.c_str());
  return status;
}

// Parses arguments; returns an error message for bad usage.
std::optional<std::string> Parse(const std::vector<PathString>& args, Options& o) {
  std::vector<PathString> positional;
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string a = Shown(args[i]);
    if (optionsDone || a.size() < 2 || a[0] != '-') {
      positional.push_back(args[i]);
      continue;
    }
    if (a == "--") { optionsDone = true; continue; }
    if (a == "-h" || a == "--help") { o.help = true; continue; }
    if (a == "--version") { o.version = true; continue; }
    std::string name = a;
    std::optional<PathString> value;
    if (const std::size_t eq = a.find('='); a.starts_with("--") && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = args[i].substr(eq + 1);  // '=' and the name are ASCII: same index in either encoding
    }
    const bool takesValue = name == "-d" || name == "--delimiter" || name == "--delimiter-file" ||
                            name == "--pattern-file" || name == "--input" || name == "-o" || name == "--output";
    if (!takesValue) return "unknown option " + a;
    if (!value) {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      value = args[++i];
    }
    if (name == "-d" || name == "--delimiter") o.delimiterField = Shown(*value);
    else if (name == "--delimiter-file") o.delimiterFile = *value;
    else if (name == "--pattern-file") o.patternFile = *value;
    else if (name == "--input") o.input = *value;
    else o.output = *value;
  }
  if (o.help || o.version) return std::nullopt;
  if (positional.empty()) return "missing command (keep or remove)";
  const std::string command = Shown(positional[0]);
  if (command == "keep") o.keep = true;
  else if (command == "remove") o.keep = false;
  else return "unknown command " + command + " (keep or remove)";
  std::size_t next = 1;
  if (!o.patternFile) {
    if (positional.size() <= next) return "missing PATTERN";
    o.pattern = Shown(positional[next++]);
  }
  if (positional.size() > next) {
    if (o.input) return "both --input and FILE given";
    o.input = positional[next++];
  }
  if (positional.size() > next) return "too many arguments";
  return std::nullopt;
}

int RunGuarded(const std::vector<PathString>& args);

int Run(const std::vector<PathString>& args) {
  try {
    return RunGuarded(args);
  } catch (const std::bad_alloc&) {
    return Fail(2, "not enough memory for this text; nothing was written");
  }
}

int RunGuarded(const std::vector<PathString>& args) {
  Options o;
  if (auto usage = Parse(args, o)) return Fail(1, *usage + " (see siftwell --help)");
  if (o.help) {
    std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
    return 0;
  }
  if (o.version) {
    std::printf("siftwell %s (PCRE2 %s)\n", SIFTWELL_VERSION_TEXT, sf::EngineVersion().c_str());
    return 0;
  }
  std::string pattern;
  if (o.patternFile) {
    if (auto err = ReadSmallFile(*o.patternFile, pattern)) return Fail(1, err->message);
  } else {
    pattern = *o.pattern;
  }
  if (o.keep && o.delimiterFile) {  // remove takes no delimiter: the file is not read
    if (auto err = ReadSmallFile(*o.delimiterFile, o.delimiterField)) return Fail(1, err->message);
  }
  const std::string delimiter = sf::ExpandDelimiter(o.delimiterField);

  Bytes bytes;
  std::string_view text;
#ifndef _WIN32
  Mapping mapping;
  if (o.input && mapping.Map(*o.input, o.output)) {
    text = mapping.View();
  } else
#endif
  {
    if (o.input) {
      if (auto err = ReadPath(*o.input, bytes)) return Fail(1, err->message);
    } else if (auto err = Bytes::Read(stdin, "standard input", bytes)) {
      return Fail(1, err->message);
    }
    text = bytes.View();
  }

  Output result(text);
  const sf::Sink sink = [&](std::string_view piece) { result.Append(piece); };
  // The engine reports its own failures; a full output buffer throws out to Run.
  const std::optional<sf::FilterError> error =
      o.keep ? sf::KeepTo(text, pattern, delimiter, sf::MatchLimits{}, sink)
             : sf::RemoveTo(text, pattern, sf::MatchLimits{}, sink);
  if (error) return Fail(2, error->message);

  if (o.output) {
    File f = OpenFile(*o.output, true);
    if (!f) return Fail(1, Shown(*o.output) + ": " + std::strerror(errno));
    const bool written = result.WriteTo(f.get());
    if (!written || std::fclose(f.release()) != 0) return Fail(1, Shown(*o.output) + ": write error");
    return 0;
  }
  if (!result.WriteTo(stdout) || std::fflush(stdout) != 0) return Fail(1, "standard output: write error");
  return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::wstring> args(argv + 1, argv + argc);
  return Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return Run(args);
}
#endif
