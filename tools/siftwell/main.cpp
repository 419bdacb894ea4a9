// siftwell: the plugin's Keep and Remove on files, for scripts and large texts.
//
//   siftwell keep PATTERN [FILE]      every non-empty match, each + delimiter
//   siftwell remove PATTERN [FILE]    the text with every match deleted
//
// Output is exactly the bytes the document would become. Exit status: 0 done,
// 1 usage or I/O error, 2 pattern rejected or matching gave up (then nothing
// is written and an -o file is neither created nor truncated).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ErrorText.h"
#include "engine/PatternFilter.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
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
    "  -o, --output F          write the result to F (default: standard output); F is\n"
    "                          replaced only when the whole result is written\n"
    "      --time-limit S      give up after S seconds (exit 2, nothing written)\n"
    "  -v, --verbose           say on standard error how the text is searched\n"
    "  -h, --help              show this help\n"
    "      --version           show siftwell's version and its engine's\n"
    "      --                  end of options\n"
    "\n"
    "Patterns are Perl-style (PCRE2, Unicode): no options are added; (?i) (?m) (?s) (?x)\n"
    "switch them on inside the pattern. The text's bytes are kept exactly (NULs and\n"
    "invalid UTF-8 included) wherever they are not removed.\n"
    "\n"
    "Exit status: 0 success, 1 usage or I/O error, 2 pattern rejected, a matching\n"
    "limit or the time limit reached (nothing is written then).\n";

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
  if (w.empty()) return {};
  const int units = static_cast<int>(w.size());  // (a command line is far below INT_MAX)
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), units, out.data(), n, nullptr, nullptr);
  return out;
}
File OpenFile(const PathString& path, bool write) { return File(_wfopen(path.c_str(), write ? L"wb" : L"rb")); }
std::string Shown(const PathString& path) { return ToUtf8(path); }
// What kind of file is open, and how big it says it is; false on failure.
bool StatOpen(std::FILE* f, bool& dir, bool& regular, uint64_t& size) {
  struct _stat64 st {};
  if (_fstat64(_fileno(f), &st) != 0) return false;
  dir = (st.st_mode & _S_IFMT) == _S_IFDIR;
  regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  size = static_cast<uint64_t>(st.st_size);
  return true;
}
#else
File OpenFile(const PathString& path, bool write) { return File(std::fopen(path.c_str(), write ? "wb" : "rb")); }
std::string Shown(const PathString& path) { return path; }
bool StatOpen(std::FILE* f, bool& dir, bool& regular, uint64_t& size) {
  struct stat st {};
  if (fstat(fileno(f), &st) != 0) return false;
  dir = S_ISDIR(st.st_mode);
  regular = S_ISREG(st.st_mode);
  size = static_cast<uint64_t>(st.st_size);
  return true;
}
#endif

struct IoError {
  std::string message;
};

// A whole file (or stream) in memory, read without zero-filling first.
class Bytes {
 public:
  std::string_view View() const { return {data_.get(), size_}; }

  // Reads to the end of the file. The size a file reports is only a hint:
  // /proc files report 0, pipes and terminals nothing, a file may grow.
  static std::optional<IoError> Read(std::FILE* f, const std::string& name, Bytes& out) {
    bool dir = false, regular = false;
    uint64_t size = 0;
    if (!StatOpen(f, dir, regular, size)) return IoError{name + ": " + std::strerror(errno)};
    if (dir) return IoError{name + ": " + std::strerror(EISDIR)};
    std::size_t capacity = std::size_t{1} << 16;
    if (regular && size > 0) {
      if (size >= SIZE_MAX / 2) return IoError{name + ": file too large for this system"};
      capacity = static_cast<std::size_t>(size) + 1;  // +1: sees end of file in one go
    }
    out.Reserve(capacity);
    while (true) {
      if (out.size_ == out.capacity_) {
        if (out.capacity_ >= SIZE_MAX / 4) return IoError{name + ": file too large for this system"};
        out.Reserve(out.capacity_ + std::max<std::size_t>(out.capacity_ / 2, std::size_t{1} << 16));
      }
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
// output refer to its pages directly. If the file shrinks while mapped,
// touching a page past its new end raises SIGBUS; the handler then puts zero
// pages in place of the whole mapping so that the run can end normally, and
// notes it: the result is discarded and the run fails.
class Mapping {
 public:
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (data_) {
      base_ = nullptr;
      munmap(data_, size_);
    }
  }
  std::string_view View() const { return {static_cast<const char*>(data_), size_}; }
  static bool Shrank() { return shrank_ != 0; }

  // Lets go of the pages before `offset` (the search is past them): they
  // stay in the page cache and come back on access if the output refers to
  // them, but no longer count towards this process's memory while the
  // result grows.
  void Release(std::size_t offset) {
    if (!data_) return;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t upTo = std::min(offset, size_) / page * page;
    if (upTo > released_ + (std::size_t{4} << 20)) {
      madvise(static_cast<char*>(data_) + released_, upTo - released_, MADV_DONTNEED);
      released_ = upTo;
    }
  }

  // False when mapping does not apply (not a regular file, or empty); the
  // caller then reads the file instead, which reports any error.
  bool Map(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat in {};
    const bool ok = fstat(fd, &in) == 0 && S_ISREG(in.st_mode) && in.st_size > 0 &&
                    static_cast<uint64_t>(in.st_size) < SIZE_MAX / 2;
    if (ok) {
      const std::size_t size = static_cast<std::size_t>(in.st_size);
      void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p != MAP_FAILED) {
        data_ = p;
        size_ = size;
        size_g_ = size;
        base_ = static_cast<char*>(p);
        struct sigaction sa {};
        sa.sa_sigaction = OnBusError;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGBUS, &sa, nullptr);
      }
    }
    close(fd);
    return data_ != nullptr;
  }

 private:
  static void OnBusError(int, siginfo_t* info, void*) {
    char* at = static_cast<char*>(info->si_addr);
    char* base = base_;
    if (base != nullptr && at >= base && at < base + size_g_ &&
        mmap(base, size_g_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      shrank_ = 1;
      return;  // the access is repeated, now on zeros
    }
    signal(SIGBUS, SIG_DFL);  // not the input's pages: fail as ever
  }
  static inline char* volatile base_ = nullptr;
  static inline std::size_t size_g_ = 0;
  static inline volatile sig_atomic_t shrank_ = 0;
  void* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t released_ = 0;
};
#else
struct Mapping {
  static bool Shrank() { return false; }
  void Release(std::size_t) {}
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

  // False with errno set when a write fails.
  bool WriteTo(std::FILE* f) const {
    for (std::string_view seg : segments_)
      if (std::fwrite(seg.data(), 1, seg.size(), f) != seg.size()) return false;
    return std::fflush(f) == 0;
  }

 private:
  static constexpr std::size_t kInPlace = 4096;
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::string_view input_;
  std::vector<std::string_view> segments_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
};

// The CLI's side of a run: pieces go to the output; a time limit, if any,
// stops the run between the engine's steps.
class ResultTo : public sf::ResultSink {
 public:
  ResultTo(Output& out, Mapping& input, std::chrono::steady_clock::time_point started, std::optional<double> seconds)
      : out_(out), input_(input) {
    if (seconds)
      deadline_ = started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(*seconds));
  }
  bool Piece(std::string_view piece) override {
    out_.Append(piece);
    return true;
  }
  bool Progress(std::size_t scanned) override {
    // The engine may still look back a little (lookbehind): keep a margin.
    if (scanned > (std::size_t{1} << 20)) input_.Release(scanned - (std::size_t{1} << 20));
    if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) timedOut_ = true;
    return !timedOut_;
  }
  bool TimedOut() const { return timedOut_; }

 private:
  Output& out_;
  Mapping& input_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool timedOut_ = false;
};

std::string FormatSeconds(double s) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", s);
  return buffer;
}

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

#ifndef _WIN32
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}
#endif

// Writes the result to `path` so that the file afterwards holds either the
// whole result or exactly what it held before: the result goes to a new file
// in the same folder, is flushed to disk, and only then renamed over it. A
// target that is not a regular file (a device, a pipe) is written directly.
std::optional<IoError> WriteFile(const PathString& path, const Output& result) {
  const std::string shown = Shown(path);
  auto failed = [&](int err) { return IoError{shown + ": " + std::strerror(err)}; };
#ifdef _WIN32
  struct _stat64 st {};
  const bool exists = _wstat64(path.c_str(), &st) == 0;
  if (exists && (st.st_mode & _S_IFMT) != _S_IFREG) {
    File f = OpenFile(path, true);
    if (!f) return failed(errno);
    if (!result.WriteTo(f.get())) return failed(errno);
    if (std::fclose(f.release()) != 0) return failed(errno);
    return std::nullopt;
  }
  static int serial = 0;
  const PathString temp = path + L".siftwell-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
  const int fd = _wopen(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return failed(errno);
  std::FILE* raw = _wfdopen(fd, L"wb");
  if (!raw) {
    const int err = errno;
    _close(fd);
    _wremove(temp.c_str());
    return failed(err);
  }
  File f(raw);
  int err = 0;
  if (!result.WriteTo(f.get()) || _commit(_fileno(f.get())) != 0) err = errno ? errno : EIO;
  if (std::fclose(f.release()) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    _wremove(temp.c_str());
    return IoError{shown + ": cannot replace the file (Windows error " + std::to_string(GetLastError()) + ")"};
  }
  if (err != 0) {
    _wremove(temp.c_str());
    return failed(err);
  }
  return std::nullopt;
#else
  std::string target = path;
  struct stat st {};
  bool exists = lstat(target.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {  // replace what the link points to, not the link
    if (char* real = realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
    exists = stat(target.c_str(), &st) == 0;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    File f = OpenFile(target, true);
    if (!f) return failed(errno);
    if (!result.WriteTo(f.get())) return failed(errno);
    if (std::fclose(f.release()) != 0) return failed(errno);
    return std::nullopt;
  }
  const std::size_t slash = target.rfind('/');
  std::string temp = DirectoryOf(target) + "/." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
                     ".siftwell-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return failed(errno);
  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  int err = 0;
  if (fchmod(fd, mode) != 0) err = errno;
  std::FILE* raw = err ? nullptr : fdopen(fd, "wb");
  if (!raw) {
    if (!err) err = errno;
    close(fd);
    unlink(temp.c_str());
    return failed(err);
  }
  File f(raw);
  if (!result.WriteTo(f.get()) || fsync(fileno(f.get())) != 0) err = errno ? errno : EIO;
  if (std::fclose(f.release()) != 0 && err == 0) err = errno ? errno : EIO;
  if (err == 0 && Mapping::Shrank()) err = -1;
  if (err == 0 && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(temp.c_str());
    if (err == -1) return std::nullopt;  // the caller reports the shrunk input
    return failed(err);
  }
  return std::nullopt;
#endif
}

struct Options {
  bool keep = true;
  std::optional<std::string> pattern;
  std::optional<PathString> patternFile;
  std::string delimiterField = "\\n";
  std::optional<PathString> delimiterFile;
  std::optional<PathString> input;
  std::optional<PathString> output;
  std::optional<double> timeLimit;  // seconds
  bool verbose = false;
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
    if (a == "-v" || a == "--verbose") { o.verbose = true; continue; }
    if (a == "--version") { o.version = true; continue; }
    std::string name = a;
    std::optional<PathString> value;
    if (const std::size_t eq = a.find('='); a.starts_with("--") && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = args[i].substr(eq + 1);  // '=' and the name are ASCII: same index in either encoding
    }
    const bool takesValue = name == "-d" || name == "--delimiter" || name == "--delimiter-file" ||
                            name == "--pattern-file" || name == "--input" || name == "-o" || name == "--output" ||
                            name == "--time-limit";
    if (!takesValue) return "unknown option " + a;
    if (!value) {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      value = args[++i];
    }
    if (name == "-d" || name == "--delimiter") o.delimiterField = Shown(*value);
    else if (name == "--delimiter-file") o.delimiterFile = *value;
    else if (name == "--pattern-file") o.patternFile = *value;
    else if (name == "--input") o.input = *value;
    else if (name == "--time-limit") {
      const std::string v = Shown(*value);
      char* end = nullptr;
      const double seconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(seconds > 0) || seconds > 1e9)
        return "--time-limit needs a number of seconds greater than 0, not " + v;
      o.timeLimit = seconds;
    } else o.output = *value;
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
  const auto started = std::chrono::steady_clock::now();  // the time limit counts reading too
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
  Mapping mapping;
#ifndef _WIN32
  if (o.input && mapping.Map(*o.input)) {
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
  const std::string inputName = o.input ? Shown(*o.input) : "standard input";
  auto shrank = [&] {
    return Fail(1, inputName + ": the file shrank while it was being read; nothing was written");
  };
  const sf::Compilation compiled = sf::Compile(pattern);
  if (compiled.error) return Fail(2, siftwell::cli::ErrorText(*compiled.error));
  if (o.verbose) std::fprintf(stderr, "siftwell: %s\n", sf::DescribeSearch(*compiled.pattern).c_str());

  // The engine reports its own failures; a full output buffer throws out to Run.
  Output result(text);
  ResultTo sink(result, mapping, started, o.timeLimit);
  const std::optional<sf::FilterError> error =
      o.keep ? sf::KeepTo(text, *compiled.pattern, delimiter, sf::MatchLimits{}, sink)
             : sf::RemoveTo(text, *compiled.pattern, sf::MatchLimits{}, sink);
  if (Mapping::Shrank()) return shrank();
  if (error) {
    if (error->kind == sf::FilterError::Kind::Stopped && sink.TimedOut())
      return Fail(2, "time limit of " + FormatSeconds(*o.timeLimit) + " s reached; nothing was written");
    return Fail(2, siftwell::cli::ErrorText(*error));
  }

  if (o.output) {
    if (auto err = WriteFile(*o.output, result)) return Fail(1, err->message);
    if (Mapping::Shrank()) return shrank();
    return 0;
  }
  if (!result.WriteTo(stdout)) return Fail(1, std::string("standard output: ") + std::strerror(errno));
  if (Mapping::Shrank()) return shrank();
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
