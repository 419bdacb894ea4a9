// siftwell: the plugin's Keep and Remove on files, for scripts and large texts.
//
//   siftwell keep PATTERN [FILE]      every non-empty match, each + delimiter
//   siftwell remove PATTERN [FILE]    the text with every match deleted
//
// Output is exactly the bytes the document would become. Exit status: 0 done,
// 1 usage, I/O error or not enough memory, 2 pattern rejected or matching gave
// up (then nothing is written and an -o file is neither created nor truncated).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "ErrorText.h"
#include "engine/LineCounter.h"
#include "engine/PatternFilter.h"
#include "engine/Presets.h"
#include "engine/SearchOnThreads.h"
#include "text/Utf8.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <climits>
#include <signal.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

namespace sf = siftwell::engine;

constexpr std::string_view kHelp =
    "Usage: siftwell keep PATTERN [FILE] [options]\n"
    "       siftwell remove PATTERN [FILE] [options]\n"
    "       siftwell [keep|remove] --preset NAME [FILE] [options]\n"
    "\n"
    "keep    writes every non-empty match of PATTERN, in order, each followed by\n"
    "        the delimiter.\n"
    "remove  writes the text with every match of PATTERN deleted.\n"
    "\n"
    "Options:\n"
    "  -d, --delimiter TEXT    delimiter field text (default \\n). \\n becomes CR LF,\n"
    "                          then \\t becomes TAB; nothing else is an escape.\n"
    "      --lines             whole lines, as grep: PATTERN is matched in each line on\n"
    "                          its own (the line end is not part of it); keep writes\n"
    "                          the lines it matches in, remove deletes them, each with\n"
    "                          its line end (CR LF, LF or CR) as it stands\n"
    "  -i, --ignore-case       letters match either case ((?-i) in PATTERN still wins)\n"
    "      --template TEXT     keep writes each match as TEXT, then the delimiter: $0 the\n"
    "                          match, $1..$99 or ${N} a group, ${name} a named group,\n"
    "                          $$ a dollar; \\n and \\t as in the delimiter\n"
    "      --unique            keep writes each distinct output (match, template output\n"
    "                          or line) once, in order of first appearance\n"
    "      --tally             keep writes one line per distinct output: its count, a\n"
    "                          TAB, the output; most frequent first, ties in order of\n"
    "                          first appearance (sort | uniq -c | sort -rn, stably)\n"
    "  -n, --line-number       keep puts the number of the line each output starts in and\n"
    "                          a colon before it (with --unique/--tally: the first one's)\n"
    "      --preset NAME       run the saved preset NAME: its pattern, delimiter, template\n"
    "                          and switches (options given here win; remove takes only\n"
    "                          its pattern, lines and match case)\n"
    "      --presets F         the presets file (default: see README)\n"
    "      --delimiter-file F  read the delimiter field text from F (UTF-8, as stored)\n"
    "      --pattern-file F    read PATTERN from F (UTF-8, as stored; no PATTERN argument)\n"
    "      --input F           read the text from F (default: FILE, or standard input)\n"
    "  -o, --output F          write the result to F (default: standard output), as\n"
    "                          writing through F would: its owner, mode and links\n"
    "                          stay; F changes only once the whole result is ready\n"
    "      --time-limit S      give up after S seconds (exit 2, nothing written)\n"
    "      --threads N         search a large text (4 MB and more) in line-aligned\n"
    "                          parts on N threads (default: one per core); the output\n"
    "                          is the same for any N. One thread when a match may\n"
    "                          hold a line end, with \\G, (*COMMIT), (*SKIP), --unique\n"
    "                          or --tally (-v says which)\n"
    "  -v, --verbose           say on standard error how the text is searched\n"
    "  -h, --help              show this help\n"
    "      --version           show siftwell's version and its engine's\n"
    "      --                  end of options\n"
    "\n"
    "Patterns are Perl-style (PCRE2, Unicode): no options are added; (?i) (?m) (?s) (?x)\n"
    "switch them on inside the pattern. The text's bytes are kept exactly (NULs and\n"
    "invalid UTF-8 included) wherever they are not removed.\n"
    "\n"
    "An input file that changes while it is read fails the run (exit 1).\n"
    "\n"
    "Exit status: 0 success, 1 usage or I/O error (the input changed while it was\n"
    "read, a file that cannot be written) or not enough memory, 2 pattern rejected,\n"
    "a matching limit or the time limit reached (nothing is written then).\n";

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
struct HandleCloser {
  void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The errno that says what a Windows error code says, or 0 when none does.
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return 0;
  }
}
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

// An I/O failure as facts; Words() puts it for the user.
struct IoError {
  enum class Kind {
    System,      // err: errno of the failed call
    Read,        // err: errno of a failed read
    TooLarge,    // larger than this system can hold in memory
    Changed,     // the input changed while it was read
    Shrank,      // ... and got shorter (its mapped pages vanished)
    Incomplete,  // err: a write in place failed halfway: the file holds part of the result
    Windows,     // err: a Windows error code
    Attributes,  // err: a Windows error code: written, but its attributes are lost
  };
  Kind kind = Kind::System;
  std::string name;
  int err = 0;
  bool sent = false;  // part of the result may already have gone out (Changed, Shrank)
};

IoError SystemError(std::string name, int err) { return {IoError::Kind::System, std::move(name), err}; }

std::string Words(const IoError& e) {
  const std::string nothing = e.sent ? "; the output written is not a consistent result" : "; nothing was written";
  switch (e.kind) {
    case IoError::Kind::System: return e.name + ": " + std::strerror(e.err);
    case IoError::Kind::Read: return e.name + ": read error: " + std::strerror(e.err);
    case IoError::Kind::TooLarge: return e.name + ": file too large for this system";
    case IoError::Kind::Changed: return e.name + ": the file changed while it was read" + nothing;
    case IoError::Kind::Shrank: return e.name + ": the file changed while it was read (it shrank)" + nothing;
    case IoError::Kind::Incomplete:
      return e.name + ": " + std::strerror(e.err) + " while writing the file in place: it now holds only part of the result";
    case IoError::Kind::Windows: return e.name + ": cannot write the file (Windows error " + std::to_string(e.err) + ")";
    case IoError::Kind::Attributes:
      return e.name + ": written, but its attributes could not be kept (Windows error " + std::to_string(e.err) + ")";
  }
  return e.name;
}

// What a file looked like when reading began: if any of it differs later, the
// file was written meanwhile. Only regular files are watched (a pipe's times
// move as it is written, which is no change of the text).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0, changed = 0;  // nanoseconds (POSIX) or 100 ns units (Windows)
  bool operator==(const FileStamp&) const = default;
};

#ifdef _WIN32
std::optional<FileStamp> StampOf(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  FILE_BASIC_INFO basic {};
  LARGE_INTEGER size {};
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK ||
      !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) || !GetFileSizeEx(h, &size) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::nullopt;
  return FileStamp{static_cast<uint64_t>(size.QuadPart), basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
}
#else
std::optional<FileStamp> StampOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_size),
                   int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec,
                   int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec};
}
#endif

// Watches the input for writes while it is read (and, when mapped, while the
// output still refers to its pages).
class InputWatch {
 public:
  InputWatch() = default;  // watches nothing
  explicit InputWatch(int fd) : fd_(fd) {
#ifndef _WIN32
    // A write stamps the file with the kernel's coarse clock, which only moves
    // every few milliseconds: one within the tick of the last change could leave
    // the times as they are. Taken once the clock has moved past the file's
    // last change, the stamp differs from that of any later write.
    for (int32_t tries = 0; tries < 50; ++tries) {
      timespec now {};
      clock_gettime(CLOCK_REALTIME_COARSE, &now);
      stamp_ = StampOf(fd);
      if (!stamp_ || stamp_->changed < int64_t{now.tv_sec} * 1000000000 + now.tv_nsec) return;
      timespec pause {0, 2000000};
      nanosleep(&pause, nullptr);
    }
#else
    stamp_ = StampOf(fd);
#endif
  }
  bool Changed() const { return stamp_ && StampOf(fd_) != stamp_; }

 private:
  int fd_ = -1;
  std::optional<FileStamp> stamp_;
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
    if (!StatOpen(f, dir, regular, size)) return SystemError(name, errno);
    if (dir) return SystemError(name, EISDIR);
    std::size_t capacity = std::size_t{1} << 16;
    if (regular && size > 0) {
      if (size >= SIZE_MAX / 2) return IoError{IoError::Kind::TooLarge, name};
      capacity = static_cast<std::size_t>(size) + 1;  // +1: sees end of file in one go
    }
    out.Reserve(capacity);
    while (true) {
      if (out.size_ == out.capacity_) {
        if (out.capacity_ >= SIZE_MAX / 4) return IoError{IoError::Kind::TooLarge, name};
        out.Reserve(out.capacity_ + std::max<std::size_t>(out.capacity_ / 2, std::size_t{1} << 16));
      }
      // Bounded chunks: some C runtimes mishandle single reads of gigabytes.
      const std::size_t want = std::min<std::size_t>(out.capacity_ - out.size_, std::size_t{64} << 20);
      const std::size_t got = std::fread(out.data_.get() + out.size_, 1, want, f);
      out.size_ += got;
      if (got < want) {
        if (std::ferror(f)) return IoError{IoError::Kind::Read, name, errno};
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
// output refer to its pages directly. The pages are the file's own until
// touched, so a write to the file shows through them: the caller watches the
// file (InputWatch) until the output is written. If the file shrinks while mapped,
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
  // caller then reads the file instead, which reports any error. The file
  // stays the caller's to close.
  bool Map(int fd) {
    struct stat in {};
    const bool ok = fstat(fd, &in) == 0 && S_ISREG(in.st_mode) && in.st_size > 0 &&
                    static_cast<uint64_t>(in.st_size) < SIZE_MAX / 2;
    if (ok) {
      const std::size_t size = static_cast<std::size_t>(in.st_size);
      // Read ahead at once only for sizes that fit in memory comfortably; a
      // larger file comes in as the search reaches it.
      const int populate = size <= (std::size_t{256} << 20) ? MAP_POPULATE : 0;
      void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0);
      if (p != MAP_FAILED) {
        if (!populate) madvise(p, size, MADV_SEQUENTIAL);
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
// A regular file mapped read-only instead of copied, as above. Windows
// refuses to cut a file below a mapped view, but a page can still fail to
// come in (a network file whose server went away; under Wine, a Unix program
// truncating the file): the handler then puts zero pages in the view's place,
// and the run fails as for a shrunk file.
class Mapping {
 public:
  Mapping() = default;
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    if (!data_) return;
    RemoveVectoredExceptionHandler(handler_);
    if (!failed_) UnmapViewOfFile(data_);
    else VirtualFree(data_, 0, MEM_RELEASE);
  }
  std::string_view View() const { return {static_cast<const char*>(data_), size_}; }
  static bool Shrank() { return failed_ != 0; }
  void Release(std::size_t) {}  // (clean file pages: the system takes them back when it needs them)

  bool Map(int fd) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) ||
        size.QuadPart <= 0 || static_cast<uint64_t>(size.QuadPart) >= SIZE_MAX / 2)
      return false;
    const HANDLE section = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (section == nullptr) return false;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(section);  // (the view keeps it)
    if (view == nullptr) return false;
    data_ = view;
    size_ = static_cast<std::size_t>(size.QuadPart);
    base_ = static_cast<char*>(view);
    size_g_ = size_;
    handler_ = AddVectoredExceptionHandler(1, OnPageError);
    return true;
  }

 private:
  static LONG CALLBACK OnPageError(EXCEPTION_POINTERS* e) {
    // (Wine reports a page that a truncation took away as an access
    // violation; a read of the view can fail no other way.)
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    const bool pageLost = r->ExceptionCode == EXCEPTION_IN_PAGE_ERROR ||
                          (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->ExceptionInformation[0] == 0);
    if (!pageLost || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    char* at = reinterpret_cast<char*>(r->ExceptionInformation[1]);
    char* base = base_;
    if (base == nullptr || at < base || at >= base + size_g_) return EXCEPTION_CONTINUE_SEARCH;
    // One thread swaps the pages; one that faults meanwhile waits for it.
    AcquireSRWLockExclusive(&swap_);
    if (!failed_ && UnmapViewOfFile(base) &&
        VirtualAlloc(base, size_g_, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) == base)
      failed_ = 1;
    const bool swapped = failed_ != 0;
    ReleaseSRWLockExclusive(&swap_);
    // The access is repeated, now on zeros (or, if the address went
    // elsewhere, the program fails as ever).
    return swapped ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
  }
  static inline SRWLOCK swap_ = SRWLOCK_INIT;
  static inline char* volatile base_ = nullptr;
  static inline std::size_t size_g_ = 0;
  static inline volatile LONG failed_ = 0;
  void* data_ = nullptr;
  std::size_t size_ = 0;
  void* handler_ = nullptr;
};

// Whether `path` names the file open as `fd` (a hard link, or a symbolic
// link to it, too); when that cannot be told, yes.
bool SameFile(int fd, const PathString& path) {
  const HANDLE open = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  const HANDLE other = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  const bool known = GetFileInformationByHandle(open, &a) && GetFileInformationByHandle(other, &b);
  CloseHandle(other);
  return !known || (a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow);
}
#endif

#ifndef _WIN32
// Writes all of `s` to `fd` from its current offset: errno, or 0 when done.
int WriteFully(int fd, std::string_view s) {
  while (!s.empty()) {
    const ssize_t n = write(fd, s.data(), std::min<std::size_t>(s.size(), std::size_t{1} << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    s.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An unnamed file to hold the result while the target is written in place:
// in the target's folder if this user may write there, else in TMPDIR.
UniqueFd Scratch(const std::string& folder) {
  const char* tmp = std::getenv("TMPDIR");
  for (const std::string& dir : {folder, std::string(tmp && *tmp ? tmp : "/tmp")}) {
    if (dir.empty()) continue;
    UniqueFd fd(open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd) return fd;
    std::string path = dir + "/.siftwell-XXXXXX";  // (no O_TMPFILE here)
    fd = UniqueFd(mkostemp(path.data(), O_CLOEXEC));
    if (fd) {
      unlink(path.c_str());
      return fd;
    }
  }
  return {};
}

#else

PathString DirectoryOf(const PathString& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == PathString::npos ? PathString(L".") : path.substr(0, slash + 1);
}

// A file to hold the result while it grows, removed when closed: in `folder`
// if this user may write there, else in the user's temporary folder.
Handle Scratch(const PathString& folder) {
  wchar_t tmp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
  static int serial = 0;
  for (PathString dir : {folder, n > 0 && n <= MAX_PATH ? PathString(tmp, n) : PathString()}) {
    if (dir.empty()) continue;
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    const PathString path =
        dir + L".siftwell-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial) + L".tmp";
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) return Handle(h);
  }
  return {};
}

#endif

// Pieces of a result in order: long pieces of the input are referred to in
// place (the input outlives them), short ones and any not in the input are
// copied into blocks of their own. No reallocation copies and no
// over-allocation.
class PieceList {
 public:
  // `populate`: map each block's pages at once (for blocks that will be filled;
  // Linux).
  PieceList(std::string_view input, std::size_t blockBytes, bool populate)
      : input_(input), blockBytes_(blockBytes), populate_(populate) {}

  void Add(std::string_view s) {
    if (views_ && AddAsView(s)) return;
    // Most pieces (a short match, a delimiter) go right after the last copy
    // in the same block.
    if (s.size() < kInPlace && open_ && s.size() <= blockBytes_ - used_) {
      std::memcpy(blocks_.back().get() + used_, s.data(), s.size());
      used_ += s.size();
      copied_ += s.size();
      pieces_.back() = std::string_view(pieces_.back().data(), pieces_.back().size() + s.size());
      return;
    }
    AddElsewhere(s);
  }

  // Pieces of any size that the input holds are referred to, not copied (a
  // piece right after the last one makes it longer): for whole lines, whose
  // runs of lines are one piece each.
  void KeepViews() { views_ = true; }

  const std::vector<std::string_view>& Pieces() const { return pieces_; }
  std::size_t CopiedBytes() const { return copied_; }
  std::size_t BlockBytes() const { return blocks_.size() * blockBytes_; }

  // Empty again. `reuse`: to be filled again (the first block and the list's
  // room stay); else all memory goes.
  void Clear(bool reuse) {
    if (reuse) {
      pieces_.clear();
      blocks_.resize(std::min<std::size_t>(blocks_.size(), 1));
    } else {
      std::vector<std::string_view>().swap(pieces_);
      std::vector<Block>().swap(blocks_);
    }
    used_ = 0;
    copied_ = 0;
    open_ = view_ = false;
  }

 private:
  bool AddAsView(std::string_view s) {
    if (view_ && pieces_.back().data() + pieces_.back().size() == s.data()) {
      pieces_.back() = std::string_view(pieces_.back().data(), pieces_.back().size() + s.size());
      return true;
    }
    if (s.empty() || s.data() < input_.data() || s.data() + s.size() > input_.data() + input_.size()) return false;
    pieces_.push_back(s);
    view_ = true;
    open_ = false;
    return true;
  }

  [[gnu::noinline]] void AddElsewhere(std::string_view s) {
    view_ = false;
    open_ = false;
    if (s.size() >= kInPlace && s.data() >= input_.data() && s.data() + s.size() <= input_.data() + input_.size()) {
      pieces_.push_back(s);
      return;
    }
    copied_ += s.size();
    while (!s.empty()) {
      if (blocks_.empty() || used_ == blockBytes_) {
        blocks_.push_back(NewBlock(blockBytes_, populate_));
        used_ = 0;
      }
      char* to = blocks_.back().get() + used_;
      const std::size_t n = std::min(s.size(), blockBytes_ - used_);
      std::memcpy(to, s.data(), n);
      used_ += n;
      s.remove_prefix(n);
      if (!pieces_.empty() && pieces_.back().data() + pieces_.back().size() == to)
        pieces_.back() = std::string_view(pieces_.back().data(), pieces_.back().size() + n);
      else
        pieces_.emplace_back(to, n);
      open_ = true;
    }
  }

  // A block of copied pieces. On Linux the pages of the output's blocks are
  // mapped in one call (MAP_POPULATE) rather than faulted in one by one as
  // they are written: keeping the lines holding ERROR in a 100 MB log copies
  // some 40 MB, and 10,000 page faults were a third of its CPU time.
  // (Transparent huge pages did as well in the best case but cost 0.1 s and
  // more of compaction now and then on a busy machine.) A part's blocks come
  // from the heap: most parts copy far less than a block, and the heap hands
  // the blocks of parts already written to the next ones, pages and all.
  struct BlockFree {
    std::size_t mappedBytes = 0;  // 0: from the heap
    void operator()(char* p) const {
#ifndef _WIN32
      if (mappedBytes != 0) return void(munmap(p, mappedBytes));
#endif
      std::default_delete<char[]>()(p);
    }
  };
  using Block = std::unique_ptr<char[], BlockFree>;
  static Block NewBlock(std::size_t bytes, bool populate) {
#ifndef _WIN32
    if (populate) {
      void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (p == MAP_FAILED) throw std::bad_alloc();
      return Block(static_cast<char*>(p), BlockFree{bytes});
    }
#else
    (void)populate;
#endif
    return Block(std::make_unique_for_overwrite<char[]>(bytes).release(), BlockFree{0});
  }

  static constexpr std::size_t kInPlace = 4096;
  std::string_view input_;
  std::size_t blockBytes_;
  bool populate_;
  std::vector<std::string_view> pieces_;
  std::vector<Block> blocks_;
  std::size_t used_ = 0, copied_ = 0;
  bool open_ = false;  // the last piece is a copy ending at used_ in the last block
  bool views_ = false;
  bool view_ = false;  // (views_) the last piece is a view of the input
};

// The result: its pieces in a list. Once the copied pieces pass 64 MB (or the
// list grows long), everything so far moves to a scratch file of its own
// (unnamed, or removed when closed): the memory a run holds stays bounded
// whatever the sizes of input and result, and the result still reaches its
// target only once it is complete.
class Output {
 public:
  // `spillFolder`: where the scratch file goes (TMPDIR when that folder refuses).
  explicit Output(std::string_view input, PathString spillFolder = {})
      : list_(input, kBlock, true), spillFolder_(std::move(spillFolder)) {
    // Tests make the result spill early (a few blocks) to compare it with one kept in memory.
    if (const char* at = std::getenv("SIFTWELL_TEST_SPILL_BLOCKS")) spillAt_ = static_cast<std::size_t>(std::strtoull(at, nullptr, 10)) * kBlock;
  }

  void Append(std::string_view s) {
#ifndef _WIN32
    if (stream_) return stream_->Append(s, error_);
#endif
    list_.Add(s);
    if (list_.BlockBytes() > spillAt_ || list_.Pieces().size() >= kMaxSegments ||
        (spillAt_ < kBlock && !list_.Pieces().empty()))
      Spill();
  }

  // The errno of a failed move to the scratch file (the run then stops), or 0.
  int Error() const { return error_; }
  uint64_t Spilled() const { return spilled_; }

#ifndef _WIN32
  // Writes the result into `fd` (standard output) as it is made, when that is a
  // regular file which the run may cut back to where it stands: see Stream.
  void StreamTo(int fd, int inputFd) { stream_ = Stream::Open(fd, inputFd); }
  bool Streams() const { return stream_ != nullptr; }
#else
  bool Streams() const { return false; }
#endif

  // False with errno set when a write fails.
  bool WriteTo(std::FILE* f) const {
#ifndef _WIN32
    if (stream_) return stream_->Finish();
    if (spilled_ > 0) {
      if (std::fflush(f) != 0) return false;
      if (const int err = CopySpill(fileno(f))) {
        errno = err;
        return false;
      }
    }
#else
    if (spilled_ > 0 && !CopySpill(f)) return false;
#endif
    for (std::string_view seg : list_.Pieces())
      if (std::fwrite(seg.data(), 1, seg.size(), f) != seg.size()) return false;
    return std::fflush(f) == 0;
  }

  // A streamed result is complete: kept. Or it is not: what went out is cut off
  // again (before the failure is told: standard error may be the same file).
  void Keep() {
#ifndef _WIN32
    if (stream_) stream_->Keep();
#endif
  }
  void Discard() {
#ifndef _WIN32
    if (stream_) stream_->Discard();
#endif
  }

  uint64_t Size() const {
    uint64_t n = spilled_;
    for (std::string_view seg : list_.Pieces()) n += seg.size();
    return n;
  }

#ifndef _WIN32
  // Errno (0: written) of writing everything to `fd` from its current offset.
  int WriteAll(int fd) const {
    if (const int err = CopySpill(fd)) return err;
    return WriteSegments(fd);
  }
#endif

 private:
#ifndef _WIN32
  int WriteSegments(int fd) const {
    for (std::string_view seg : list_.Pieces())
      if (const int err = WriteFully(fd, seg)) return err;
    return 0;
  }

  // The scratch file's bytes to `fd` from its current offset.
  int CopySpill(int fd) const {
    std::vector<char> buffer;
    for (uint64_t at = 0; at < spilled_;) {
      const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(spilled_ - at, std::size_t{1} << 30));
      off_t from = static_cast<off_t>(at);
      ssize_t n = buffer.empty() ? sendfile(fd, spill_.get(), &from, want) : -1;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EINVAL || errno == ENOSYS || !buffer.empty())) {  // a target sendfile cannot write
        buffer.resize(std::size_t{1} << 20);
        n = pread(spill_.get(), buffer.data(), std::min(want, buffer.size()), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        if (const int err = WriteFully(fd, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) return err;
      } else if (n <= 0) {
        return n < 0 ? errno : EIO;
      }
      at += static_cast<uint64_t>(n);
    }
    return 0;
  }
#endif

  [[gnu::noinline]] void Spill() {
#ifndef _WIN32
    if (error_ != 0) return;
    if (!spill_) {
      errno = 0;
      spill_ = Scratch(spillFolder_);
      if (!spill_) {
        error_ = errno ? errno : EIO;
        return;
      }
    }
    if ((error_ = WriteSegments(spill_.get())) != 0) return;
    spilled_ = Size();
    list_.Clear(true);
#else
    if (error_ != 0) return;
    if (!spill_ && !(spill_ = Scratch(spillFolder_))) {
      error_ = ErrnoOf(GetLastError()) ? ErrnoOf(GetLastError()) : EIO;  // (why the last folder refused)
      return;
    }
    for (std::string_view seg : list_.Pieces()) {
      while (!seg.empty()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(seg.size(), std::size_t{1} << 30));
        DWORD n = 0;
        if (!::WriteFile(spill_.get(), seg.data(), want, &n, nullptr) || n == 0) {
          error_ = ErrnoOf(GetLastError()) ? ErrnoOf(GetLastError()) : EIO;
          return;
        }
        seg.remove_prefix(n);
      }
    }
    spilled_ = Size();
    list_.Clear(true);
#endif
  }

#ifdef _WIN32
  // The scratch file's bytes to `f`; false with errno set when that fails.
  bool CopySpill(std::FILE* f) const {
    LARGE_INTEGER start {};
    if (!SetFilePointerEx(spill_.get(), start, nullptr, FILE_BEGIN)) return errno = EIO, false;
    std::vector<char> buffer(std::size_t{1} << 20);
    for (uint64_t at = 0; at < spilled_;) {
      const DWORD want = static_cast<DWORD>(std::min<uint64_t>(spilled_ - at, buffer.size()));
      DWORD n = 0;
      if (!ReadFile(spill_.get(), buffer.data(), want, &n, nullptr) || n == 0) return errno = EIO, false;
      if (std::fwrite(buffer.data(), 1, n, f) != n) return false;
      at += n;
    }
    return true;
  }
#endif

#ifndef _WIN32
  // Standard output that is a regular file at its end, not the input: the
  // result goes into it as it is made, through a buffer small enough to stay
  // in the cache. (Held until the run ends, 40 MB of result were cold by then,
  // and the kernel's copy of them into the file cost a third of a fast run;
  // ripgrep's writes from a small buffer cost it a twentieth.) A run that does
  // not end well cuts the file back to where it stood, so nothing is written
  // all the same: on any failure, and on Ctrl+C or a termination signal, whose
  // handler cuts it too. Only a kill that cannot be caught leaves a part.
  class Stream {
   public:
    static std::unique_ptr<Stream> Open(int fd, int inputFd) {
      struct stat out {}, in {};
      if (fstat(fd, &out) != 0 || !S_ISREG(out.st_mode)) return nullptr;
      if (inputFd >= 0 && fstat(inputFd, &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
        return nullptr;  // (appending to the input the run reads)
      const int flags = fcntl(fd, F_GETFL);
      const off_t at = lseek(fd, 0, SEEK_CUR);
      if (flags < 0 || at < 0) return nullptr;
      // Writing at an offset before the end would overwrite bytes that a cut cannot give back.
      if (!(flags & O_APPEND) && at != out.st_size) return nullptr;
      auto stream = std::make_unique<Stream>(fd, out.st_size);
      Active() = stream.get();
      // Only signals that would end the process: one it ignores (nohup's
      // SIGHUP, a background job's SIGINT) stays ignored.
      struct sigaction act {};
      act.sa_handler = &Stream::OnSignal;
      sigemptyset(&act.sa_mask);
      for (std::size_t k = 0; k < std::size(kSignals); ++k) {
        struct sigaction before {};
        if (sigaction(kSignals[k], nullptr, &before) == 0 && before.sa_handler == SIG_DFL &&
            sigaction(kSignals[k], &act, nullptr) == 0)
          stream->caught_[k] = true;
      }
      return stream;
    }
    ~Stream() {
      for (std::size_t k = 0; k < std::size(kSignals); ++k)
        if (caught_[k]) signal(kSignals[k], SIG_DFL);
      Active() = nullptr;
      if (!kept_) CutBack();
    }

    void Append(std::string_view s, int& error) {
      if (s.size() > kBuffer - used_ && !Flush(error)) return;
      if (s.size() >= kBuffer) return void(WriteAll(s, error));
      std::memcpy(buffer_.get() + used_, s.data(), s.size());
      used_ += s.size();
    }
    // The rest written; false with errno set when a write fails.
    bool Finish() {
      int error = 0;
      if (!Flush(error)) return errno = error, false;
      return true;
    }
    void Keep() { kept_ = true; }
    // Cut back now, and not again (what follows may be the failure's message).
    void Discard() {
      if (!kept_) CutBack();
      kept_ = true;
    }
    void CutBack() const {
      if (ftruncate(fd_, start_) == 0) lseek(fd_, start_, SEEK_SET);
    }
    Stream(int fd, off_t start) : fd_(fd), start_(start) {}

   private:
    static constexpr std::size_t kBuffer = std::size_t{128} << 10;
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static Stream*& Active() {
      static Stream* active = nullptr;
      return active;
    }
    static void OnSignal(int sig) {  // (only async-signal-safe calls)
      if (Stream* s = Active(); s && !s->kept_) s->CutBack();
      signal(sig, SIG_DFL);
      raise(sig);
    }
    bool Flush(int& error) {
      const std::size_t n = used_;
      used_ = 0;
      return WriteAll(std::string_view(buffer_.get(), n), error);
    }
    bool WriteAll(std::string_view s, int& error) {
      if (error == 0) error = WriteFully(fd_, s);
      return error == 0;
    }
    int fd_;
    off_t start_;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kBuffer);
    std::size_t used_ = 0;
    std::atomic<bool> kept_{false};  // (read by the signal handler)
    bool caught_[std::size(kSignals)] = {};
  };
  std::unique_ptr<Stream> stream_;
#endif

  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::size_t spillAt_ = std::size_t{64} << 20;  // bytes of copied pieces
  static constexpr std::size_t kMaxSegments = std::size_t{1} << 20;
  PieceList list_;
  PathString spillFolder_;
#ifndef _WIN32
  UniqueFd spill_;
#else
  Handle spill_;
#endif
  uint64_t spilled_ = 0;
  int error_ = 0;
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
    return out_.Error() == 0;
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
  if (!f) return SystemError(Shown(path), errno);
  return Bytes::Read(f.get(), Shown(path), out);
}

std::optional<IoError> ReadSmallFile(const PathString& path, std::string& out) {
  Bytes b;
  if (auto err = ReadPath(path, b)) return err;
  out.assign(b.View());
  return std::nullopt;
}

// Asked just before the result replaces the target: whether the input is still
// what was read (the result may refer to its pages until it is written).
using InputCheck = std::function<std::optional<IoError>()>;

#ifdef _WIN32
Handle OpenHandle(const PathString& path, DWORD access) {
  const HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

IoError WindowsError(const std::string& name, DWORD code) {
  if (const int err = ErrnoOf(code)) return SystemError(name, err);
  return IoError{IoError::Kind::Windows, name, static_cast<int>(code)};
}

// A file of this run's own beside the target, removed unless it became the target.
class TempFile {
 public:
  explicit TempFile(PathString path) : path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!kept_) _wremove(path_.c_str());
  }
  const PathString& Path() const { return path_; }
  void Kept() { kept_ = true; }

 private:
  PathString path_;
  bool kept_ = false;
};

// Copies the whole of `from` into the open file `to` from its start and ends
// it there; a Windows error code, 0 when done.
DWORD CopyInto(const PathString& from, HANDLE to) {
  File in = OpenFile(from, false);
  if (!in) return ERROR_OPEN_FAILED;
  std::vector<char> buffer(std::size_t{1} << 20);
  LARGE_INTEGER start {};
  if (!SetFilePointerEx(to, start, nullptr, FILE_BEGIN)) return GetLastError();
  while (true) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in.get());
    DWORD written = 0;
    if (n > 0 && (!::WriteFile(to, buffer.data(), static_cast<DWORD>(n), &written, nullptr) || written != n))
      return GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    if (n < buffer.size()) break;
  }
  if (std::ferror(in.get())) return ERROR_READ_FAULT;
  if (!SetEndOfFile(to) || !FlushFileBuffers(to)) return GetLastError();
  return 0;
}

// Writes the result to `path` as writing through the file would, except that
// the file changes only once the whole result is on disk: a target this user
// cannot write is refused first; the result goes to a new file beside it,
// which then takes the target's place with ReplaceFileW (the target's ACL,
// attributes and streams stay). A target with several names (hard links) is
// written through instead, so that every name sees the result. A device is
// written directly.
std::optional<IoError> WriteFile(const PathString& path, const Output& result, const InputCheck& inputIntact) {
  const std::string shown = Shown(path);
  auto failed = [&](int err) { return SystemError(shown, err); };
  const DWORD attributes = GetFileAttributesW(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  Handle out;
  BY_HANDLE_FILE_INFORMATION info {};
  if (exists) {
    out = OpenHandle(path, GENERIC_WRITE);
    if (!out) return WindowsError(shown, GetLastError());
    if (GetFileType(out.get()) != FILE_TYPE_DISK) {
      out.reset();
      if (auto err = inputIntact()) return err;
      File f = OpenFile(path, true);
      if (!f) return failed(errno);
      if (!result.WriteTo(f.get())) return failed(errno);
      if (std::fclose(f.release()) != 0) return failed(errno);
      return std::nullopt;
    }
    if (!GetFileInformationByHandle(out.get(), &info)) return WindowsError(shown, GetLastError());
  }
  static int serial = 0;
  TempFile temp(path + L".siftwell-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial));
  const int fd = _wopen(temp.Path().c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    temp.Kept();  // (not ours)
    return failed(errno);
  }
  std::FILE* raw = _wfdopen(fd, L"wb");
  if (!raw) {
    const int err = errno;
    _close(fd);
    return failed(err);
  }
  File f(raw);
  int err = 0;
  if (!result.WriteTo(f.get()) || _commit(_fileno(f.get())) != 0) err = errno ? errno : EIO;
  if (std::fclose(f.release()) != 0 && err == 0) err = errno ? errno : EIO;
  if (err != 0) return failed(err);
  if (auto changed = inputIntact()) return changed;
  if (!exists) {
    if (!MoveFileExW(temp.Path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return WindowsError(shown, GetLastError());
    temp.Kept();
    return std::nullopt;
  }
  if (info.nNumberOfLinks <= 1) {
    out.reset();  // ReplaceFileW opens the target itself
    if (ReplaceFileW(path.c_str(), temp.Path().c_str(), nullptr, 0, nullptr, nullptr)) {
      temp.Kept();
      // Hidden, system and the like stay too (where ReplaceFileW itself leaves them out).
      const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
      const DWORD now = GetFileAttributesW(path.c_str());
      if (now != INVALID_FILE_ATTRIBUTES && (now & kept) != kept &&
          !SetFileAttributesW(path.c_str(), (now | kept) & ~FILE_ATTRIBUTE_NORMAL))
        return IoError{IoError::Kind::Attributes, shown, static_cast<int>(GetLastError())};
      return std::nullopt;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
      // The target is gone and the result still under its own name.
      if (!MoveFileExW(temp.Path().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH))
        return WindowsError(shown, GetLastError());
      temp.Kept();
      return std::nullopt;
    }
    // Any other failure leaves both files as they were (the target's folder
    // may refuse new names, its owner's rights may not carry over): the
    // target, writable as seen above, is written through instead.
    out = OpenHandle(path, GENERIC_WRITE);
    if (!out) return WindowsError(shown, GetLastError());
  }
  ULARGE_INTEGER free {};
  const uint64_t size = result.Size(), old = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  if (size > old && GetDiskFreeSpaceExW((path + L"\\..").c_str(), &free, nullptr, nullptr) &&
      free.QuadPart < size - old)
    return failed(ENOSPC);
  if (const DWORD code = CopyInto(temp.Path(), out.get())) {
    const IoError e = WindowsError(shown, code);
    return IoError{IoError::Kind::Incomplete, shown, e.kind == IoError::Kind::System ? e.err : EIO};
  }
  return std::nullopt;
}
#else
// The file a path names once symbolic links are followed, also when the last
// link points at a file that does not exist yet (writing creates it there).
std::string FollowLinks(std::string path) {
  std::vector<char> to(PATH_MAX);
  for (int32_t hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    const ssize_t n = readlink(path.c_str(), to.data(), to.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= to.size()) return path;  // opening it says why
    const std::string next(to.data(), static_cast<std::size_t>(n));
    path = next.starts_with('/') ? next : DirectoryOf(path) + "/" + next;
  }
  return path;  // a loop of links: opening it says so
}

// A new file of this run's own beside the target, removed unless it became
// the target.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { Discard(); }
  // False (errno set) when the folder refuses.
  bool Create(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    std::string path = DirectoryOf(target) + "/." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
                       ".siftwell-XXXXXX";
    fd_ = UniqueFd(mkostemp(path.data(), O_CLOEXEC));
    if (fd_) path_ = std::move(path);
    return static_cast<bool>(fd_);
  }
  int Fd() const { return fd_.get(); }
  const std::string& Path() const { return path_; }
  void Kept() { path_.clear(); }
  void Discard() {
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
    fd_.Reset();
  }

 private:
  std::string path_;
  UniqueFd fd_;
};

// Copies `size` bytes from the start of `from` to the start of `to`; errno or 0.
int CopyInto(int from, int to, uint64_t size) {
  std::vector<char> buffer(std::size_t{1} << 20);
  uint64_t at = 0;
  while (at < size) {
    const ssize_t n = pread(from, buffer.data(), static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), size - at)),
                            static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = pwrite(to, buffer.data() + done, static_cast<std::size_t>(n - done),
                               static_cast<off_t>(at) + done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : EIO;
      done += w;
    }
    at += static_cast<uint64_t>(n);
  }
  return 0;
}

// Writes the result to `path` as writing through the file would, except that
// the file changes only once the whole result is ready:
// - a target this user cannot write is refused before anything happens;
// - symbolic links are followed: the file they point at is written;
// - the result goes to a new file beside the target, gets the target's owner,
//   group and mode, is flushed to disk and renamed over it;
// - a target with several names (hard links), with an access ACL, whose owner
//   this user cannot give a new file, or in a folder this user cannot write
//   is written through instead, from a copy of the result, once room for it
//   is reserved: a failure from then on leaves it incomplete (and says so).
// A target that is not a regular file (a device, a pipe) is written directly.
std::optional<IoError> WriteFile(const PathString& path, const Output& result, const InputCheck& inputIntact) {
  const std::string target = FollowLinks(path);
  const std::string shown = Shown(path);
  auto failed = [&](int err) { return SystemError(shown, err); };
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return failed(errno);
  UniqueFd out;
  if (exists) {
    out = UniqueFd(open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!out || fstat(out.get(), &st) != 0) return failed(errno);
    if (!S_ISREG(st.st_mode)) {
      if (auto err = inputIntact()) return err;
      if (const int err = result.WriteAll(out.get())) return failed(err);
      auto changed = inputIntact();
      if (changed) changed->sent = true;
      return changed;
    }
  }
  bool inPlace = exists && (st.st_nlink > 1 || fgetxattr(out.get(), "system.posix_acl_access", nullptr, 0) >= 0);
  TempFile temp;
  if (!inPlace && !temp.Create(target)) {
    if (!exists || (errno != EACCES && errno != EPERM)) return failed(errno);
    inPlace = true;
  }
  if (!inPlace) {
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
      const mode_t mask = umask(0);
      umask(mask);
      mode = 0666 & ~mask;
    }
    struct stat made {};
    if (fstat(temp.Fd(), &made) != 0) return failed(errno);
    if (exists && (made.st_uid != st.st_uid || made.st_gid != st.st_gid) &&
        fchown(temp.Fd(), st.st_uid, st.st_gid) != 0) {
      temp.Discard();
      inPlace = true;
    } else if (fchmod(temp.Fd(), mode) != 0) {  // (after fchown, which may clear set-id bits)
      return failed(errno);
    }
  }
  if (!inPlace) {
    if (const int err = result.WriteAll(temp.Fd())) return failed(err);
    if (fsync(temp.Fd()) != 0) return failed(errno);
    if (auto err = inputIntact()) return err;
    if (rename(temp.Path().c_str(), target.c_str()) != 0) return failed(errno);
    temp.Kept();
    if (UniqueFd folder(open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder)
      fsync(folder.get());  // the rename itself on disk (best effort: the data is)
    return std::nullopt;
  }
  // The result may refer to the input's pages, and the input may be the
  // target: it is copied out whole before the target changes.
  const uint64_t size = result.Size();
  const UniqueFd copy = Scratch(DirectoryOf(target));
  if (!copy) return failed(errno);
  if (const int err = result.WriteAll(copy.get())) return failed(err);
  if (auto err = inputIntact()) return err;
  if (size > 0 && fallocate(out.get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0) {
    if (errno != EOPNOTSUPP && errno != ENOSYS) return failed(errno);
    struct statvfs fs {};  // no reservation on this file system: the free space must do
    const uint64_t old = static_cast<uint64_t>(st.st_size);
    if (size > old && fstatvfs(out.get(), &fs) == 0 && size - old > uint64_t{fs.f_bavail} * fs.f_frsize)
      return failed(ENOSPC);
  }
  if (const int err = CopyInto(copy.get(), out.get(), size)) return IoError{IoError::Kind::Incomplete, shown, err};
  if (ftruncate(out.get(), static_cast<off_t>(size)) != 0 || fsync(out.get()) != 0)
    return IoError{IoError::Kind::Incomplete, shown, errno};
  return std::nullopt;
}
#endif

struct Options {
  bool keep = true;
  std::optional<std::string> pattern;
  std::optional<PathString> patternFile;
  std::optional<std::string> delimiterField;  // default \n
  std::optional<PathString> delimiterFile;
  bool lines = false;
  bool ignoreCase = false;
  std::optional<std::string> templateField;
  bool unique = false;
  bool tally = false;
  bool lineNumbers = false;
  std::optional<std::string> preset;
  std::optional<PathString> presetsFile;
  std::optional<PathString> input;
  std::optional<PathString> output;
  std::optional<double> timeLimit;  // seconds
  std::optional<uint32_t> threads;  // default: one per core
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
    if (a == "--lines") { o.lines = true; continue; }
    if (a == "-i" || a == "--ignore-case") { o.ignoreCase = true; continue; }
    if (a == "--unique") { o.unique = true; continue; }
    if (a == "--tally") { o.tally = true; continue; }
    if (a == "-n" || a == "--line-number") { o.lineNumbers = true; continue; }
    if (a == "--version") { o.version = true; continue; }
    std::string name = a;
    std::optional<PathString> value;
    if (const std::size_t eq = a.find('='); a.starts_with("--") && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = args[i].substr(eq + 1);  // '=' and the name are ASCII: same index in either encoding
    }
    const bool takesValue = name == "-d" || name == "--delimiter" || name == "--delimiter-file" ||
                            name == "--pattern-file" || name == "--input" || name == "-o" || name == "--output" ||
                            name == "--time-limit" || name == "--template" || name == "--preset" ||
                            name == "--presets" || name == "--threads";
    if (!takesValue) return "unknown option " + a;
    if (!value) {
      if (i + 1 >= args.size()) return "option " + a + " needs a value";
      value = args[++i];
    }
    if (name == "-d" || name == "--delimiter") o.delimiterField = Shown(*value);
    else if (name == "--delimiter-file") o.delimiterFile = *value;
    else if (name == "--pattern-file") o.patternFile = *value;
    else if (name == "--input") o.input = *value;
    else if (name == "--template") o.templateField = Shown(*value);
    else if (name == "--preset") o.preset = Shown(*value);
    else if (name == "--presets") o.presetsFile = *value;
    else if (name == "--time-limit") {
      const std::string v = Shown(*value);
      char* end = nullptr;
      const double seconds = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(seconds > 0) || seconds > 1e9)
        return "--time-limit needs a number of seconds greater than 0, not " + v;
      o.timeLimit = seconds;
    } else if (name == "--threads") {
      const std::string v = Shown(*value);
      char* end = nullptr;
      errno = 0;
      const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
      if (v.empty() || v[0] < '0' || v[0] > '9' || *end != '\0' || errno != 0 || n < 1 || n > 4096)
        return "--threads needs a whole number of threads from 1 to 4096, not " + v;
      o.threads = static_cast<uint32_t>(n);
    } else o.output = *value;
  }
  if (o.help || o.version) return std::nullopt;
  std::size_t next = 0;
  if (o.preset) {
    // The command may be left out (keep); the pattern is the preset's.
    const std::string command = positional.empty() ? std::string() : Shown(positional[0]);
    if (command == "keep" || command == "remove") {
      o.keep = command == "keep";
      next = 1;
    }
    if (o.patternFile) return "--pattern-file cannot be used with --preset (the preset holds the pattern)";
  } else {
    if (o.presetsFile) return "--presets names the file for --preset";
    if (positional.empty()) return "missing command (keep or remove)";
    const std::string command = Shown(positional[0]);
    if (command == "keep") o.keep = true;
    else if (command == "remove") o.keep = false;
    else return "unknown command " + command + " (keep or remove)";
    next = 1;
  }
  if (!o.patternFile && !o.preset) {
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

// Options that cannot go together, once a preset's are in.
std::optional<std::string> Conflicts(const Options& o) {
  // (An empty template is the match itself: no template.)
  const bool templated = o.templateField && !o.templateField->empty();
  if (templated && o.lines) return "--template cannot be used with --lines (a line is kept as it stands)";
  if (templated && !o.keep) return "--template applies to keep only";
  if (o.unique && o.tally) return "unique and tally cannot be used together (a tally counts each distinct output once)";
  if (!o.keep && (o.unique || o.tally || o.lineNumbers))
    return std::string(o.unique ? "--unique" : o.tally ? "--tally" : "--line-number") + " applies to keep only";
  return std::nullopt;
}

// ---- Searching in parts on every core ---------------------------------------
// A large text whose matches cannot hold an LF is cut into parts right after
// an LF, about 4 MB each; threads search the parts (the whole text still the
// engine's subject, so anchors and lookaround see what they see in one
// search) and the parts' results go to the output strictly in order, so the
// bytes out are those of one thread. The part being written (the head)
// writes straight to the output; a part ahead of it keeps its result in
// memory, up to a bound, then waits until it is the head. Only a few parts
// ahead of the head are searched at a time: memory stays bounded. The first
// error in text order is the run's error, as in one thread: a part that
// fails stops the parts after it, never those before.

// Bytes of a part; a test-only variable makes them tiny to compare parts with the whole.
std::size_t PartBytes() {
  if (const char* at = std::getenv("SIFTWELL_TEST_PART_BYTES")) {
    const unsigned long long n = std::strtoull(at, nullptr, 10);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return std::size_t{4} << 20;
}

// Why the text is searched on one thread (empty: it may be cut into parts).
std::string OneThreadBecause(const sf::CompiledPattern& re, const Options& o, uint32_t threads, std::size_t size) {
  if (threads <= 1) return "one thread asked for";
  if (sf::IsEmpty(re)) return "the empty pattern";
  if (o.keep && (o.unique || o.tally)) return std::string(o.unique ? "--unique" : "--tally") + " gathers the whole text";
  if (!sf::SearchesInParts(re)) return "a match may hold a line end, or the pattern depends on where a search starts";
  if (size <= PartBytes()) return "a small text";
  return {};
}

// The result of a part ahead of the head: views into the input (long pieces)
// or into blocks of its own (copies).
class PartResult {
 public:
  // `cap`: the bytes it copies before it is Full.
  // `views`: pieces of the input are referred to (whole lines).
  PartResult(std::string_view input, std::size_t cap, bool views)
      : list_(input, std::size_t{1} << 20, false), cap_(cap) {
    if (views) list_.KeepViews();
  }
  void Add(std::string_view s) { list_.Add(s); }
  // Beyond this the part waits to write directly.
  bool Full() const { return list_.CopiedBytes() >= cap_ || list_.Pieces().size() >= cap_ / 16; }
  void MoveTo(Output& out) {
    for (std::string_view piece : list_.Pieces()) out.Append(piece);
    list_.Clear(false);
  }

 private:
  PieceList list_;
  std::size_t cap_;
};

class PartsRun {
 public:
  PartsRun(std::string_view text, const sf::CompiledPattern& re, const Options& o, std::string_view delimiter,
           Output& out, Mapping& input, std::optional<std::chrono::steady_clock::time_point> deadline)
      : text_(text), re_(re), keep_(o.keep), delimiter_(delimiter), out_(out), input_(input), deadline_(deadline) {
    const std::size_t size = PartBytes();
    countLines_ = o.keep && o.lineNumbers;
    checkText_ = sf::AsksTextValidity(re, limits_);
    for (const sf::TextPart& part : sf::CutAtLines(text, size))
      parts_.push_back(Part{part, PartResult(text, 4 * size, o.lines), false, std::nullopt, 0, true});
  }

  std::size_t Parts() const { return parts_.size(); }

  // Searches every part on `threads` threads (this one among them); the
  // first error in text order, if any.
  std::optional<sf::FilterError> Run(uint32_t threads) {
    window_ = std::max<std::size_t>(2 * std::min<std::size_t>(threads, parts_.size()), 4);
    if (countLines_ || checkText_) {
      // What each part must know of the text before it (its first line number) or of
      // the whole (valid UTF-8: so each part's; an LF never splits a character).
      std::atomic<std::size_t> next{0};
      OnThreads(threads, [&] {
        for (std::size_t k; (k = next++) < parts_.size();) {
          Part& part = parts_[k];
          const std::size_t begin = part.range.begin, end = part.range.end;
          if (countLines_) part.lines = sf::LineCounter(text_, begin, 0).At(end);
          if (checkText_) part.valid = siftwell::utf8::IsValid(text_.substr(begin, end - begin));
        }
      });
      uint64_t line = 1;
      bool valid = true;
      for (const Part& part : parts_) valid = valid && part.valid;
      for (Part& part : parts_) {
        part.range.firstLine = line;
        line += part.lines;
        if (checkText_) part.range.textValid = valid;
      }
      if (!valid) {
        // Such a text may be matched by the interpreter a valid run at a
        // time, and a part's search would first classify the whole text
        // before it: the parts would cost the square of the text's size.
        parts_.front().range.end = text_.size();
        parts_.erase(parts_.begin() + 1, parts_.end());
      }
    }
    OnThreads(threads, [this] { Work(); });
    return error_;
  }

  bool TimedOut() const { return timedOut_.load(); }

 private:
  struct Part {
    sf::TextPart range;
    PartResult result;
    bool done = false;
    std::optional<sf::FilterError> error;
    uint64_t lines = 0;  // the line ends in it
    bool valid = true;   // valid UTF-8
  };

  // Runs `work` on this thread and up to threads - 1 more (no more than there
  // are parts); a thread that cannot be started leaves its share to the others.
  template <typename Work>
  void OnThreads(uint32_t threads, const Work& work) {
    std::vector<std::thread> helpers;
    for (uint32_t k = 1; k < threads && k < parts_.size(); ++k) {
      try {
        helpers.emplace_back(work);
      } catch (const std::system_error&) {
        break;
      }
    }
    work();
    for (std::thread& t : helpers) t.join();
  }

  // One part's pieces: straight to the output while it is the head, kept otherwise.
  class PartSink : public sf::ResultSink {
   public:
    PartSink(PartsRun& run, std::size_t index) : run_(run), index_(index) {}
    bool Piece(std::string_view piece) override {
      if (!direct_ && run_.head_.load(std::memory_order_acquire) == index_) TakeOver();
      if (!direct_) {
        run_.parts_[index_].result.Add(piece);
        if (run_.parts_[index_].result.Full()) {
          if (!run_.WaitForHead(index_)) return false;
          TakeOver();
        }
        return true;
      }
      run_.out_.Append(piece);
      return run_.out_.Error() == 0;
    }
    bool Progress(std::size_t scanned) override {
      if (direct_ && scanned > (std::size_t{1} << 20)) run_.input_.Release(scanned - (std::size_t{1} << 20));
      return run_.Going(index_);
    }
    bool Direct() const { return direct_; }

   private:
    void TakeOver() {
      run_.parts_[index_].result.MoveTo(run_.out_);
      direct_ = true;
    }
    PartsRun& run_;
    std::size_t index_;
    bool direct_ = false;
  };

  // Whether part `index` should go on: no stop, no time-out, no error before it.
  bool Going(std::size_t index) {
    if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) timedOut_ = true;
    return !timedOut_.load(std::memory_order_relaxed) && !stop_.load(std::memory_order_relaxed) &&
           index <= firstError_.load(std::memory_order_relaxed);
  }

  // Waits until part `index` is the head; false when the run stops first.
  bool WaitForHead(std::size_t index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return head_.load() == index || stop_.load(); });
    return head_.load() == index && Going(index);
  }

  void Work() {
    while (true) {
      std::size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_.load() || next_ >= parts_.size() || next_ < head_.load() + window_; });
        if (stop_.load() || next_ >= parts_.size()) return;
        index = next_++;
      }
      PartSink sink(*this, index);
      std::optional<sf::FilterError> err;
      if (!Going(index)) {
        err = sf::FilterError{};
        err->kind = sf::FilterError::Kind::Stopped;
      } else {
        try {
          const sf::TextPart& range = parts_[index].range;
          err = keep_ ? sf::KeepPartTo(text_, range, re_, delimiter_, limits_, sink)
                      : sf::RemovePartTo(text_, range, re_, limits_, sink);
        } catch (const std::bad_alloc&) {
          err = sf::FilterError{};
          err->kind = sf::FilterError::Kind::NoMemory;
        }
      }
      Done(index, std::move(err));
    }
  }

  // Part `index` is searched: the parts that are done from the head on go
  // to the output in order, up to the first that failed, which ends the run.
  void Done(std::size_t index, std::optional<sf::FilterError> err) {
    std::lock_guard lock(mutex_);
    Part& part = parts_[index];
    part.done = true;
    if (err) {
      part.error = std::move(err);
      std::size_t first = firstError_.load();
      while (index < first && !firstError_.compare_exchange_weak(first, index)) {
      }
    }
    std::size_t head = head_.load();
    while (head < parts_.size() && parts_[head].done) {
      if (parts_[head].error) {
        error_ = parts_[head].error;
        stop_ = true;
        break;
      }
      try {
        parts_[head].result.MoveTo(out_);
      } catch (const std::bad_alloc&) {
        error_ = sf::FilterError{};
        error_->kind = sf::FilterError::Kind::NoMemory;
        stop_ = true;
        break;
      }
      ++head;
    }
    head_.store(head, std::memory_order_release);
    changed_.notify_all();
  }

  std::string_view text_;
  const sf::CompiledPattern& re_;
  bool keep_;
  std::string_view delimiter_;
  Output& out_;
  Mapping& input_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  const sf::MatchLimits limits_{};
  bool countLines_ = false, checkText_ = false;
  std::vector<Part> parts_;
  std::size_t window_ = 4;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;                    // the next part to search (mutex_)
  std::atomic<std::size_t> head_{0};        // the part whose result goes to the output now
  std::atomic<std::size_t> firstError_{SIZE_MAX};
  std::atomic<bool> stop_{false};
  std::atomic<bool> timedOut_{false};
  std::optional<sf::FilterError> error_;    // the run's error (mutex_)
};

int RunGuarded(const std::vector<PathString>& args);

// Where presets are kept when --presets does not say: on Windows the plugin's
// config folder in a standard Notepad++ install, elsewhere the XDG config
// folder. Empty when the environment names no such place.
PathString DefaultPresetsFile() {
#ifdef _WIN32
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (!appData || !*appData) return {};
  return std::wstring(appData) + L"\\Notepad++\\plugins\\config\\Siftwell-presets.ini";
#else
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/siftwell/presets.ini";
  const char* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.config/siftwell/presets.ini";
#endif
}

std::string Words(const sf::PresetError& e) {
  using K = sf::PresetError::Kind;
  switch (e.kind) {
    case K::Syntax: return "not a [name], key = value or # comment line";
    case K::OutsidePreset: return e.item + " before the first [name]";
    case K::UnknownKey:
      return "unknown key '" + e.item +
             "' (pattern, delimiter, template, lines, match-case, unique, tally, line-numbers)";
    case K::BadSwitch: return e.item + " takes yes or no";
    case K::Repeated: return "'" + e.item + "' given twice";
    case K::NoPattern: return "the preset '" + e.item + "' has no pattern";
    case K::UniqueAndTally: return "the preset '" + e.item + "' has both unique and tally";
    case K::NotWritable: return "the preset '" + e.item + "' cannot be written";
  }
  return "unreadable";
}

// Puts the named preset's settings under the command line's: options given
// there win, switches given there are added. Remove takes only the pattern,
// lines and match case. An error message, or nothing.
std::optional<std::string> ApplyPreset(Options& o) {
  const PathString path = o.presetsFile ? *o.presetsFile : DefaultPresetsFile();
  if (path.empty()) return std::string("no presets file: give --presets FILE");
  std::string text;
  if (auto err = ReadSmallFile(path, text)) return Words(*err);
  const sf::PresetsRead read = sf::ReadPresets(text);
  if (read.error) return Shown(path) + ":" + std::to_string(read.error->line) + ": " + Words(*read.error);
  const sf::Preset* p = sf::FindPreset(read.presets, *o.preset);
  if (!p) return "no preset named '" + *o.preset + "' in " + Shown(path);
  o.pattern = p->pattern;
  o.lines = o.lines || p->lines;
  o.ignoreCase = o.ignoreCase || !p->matchCase;
  if (o.keep) {
    if (!o.delimiterField && !o.delimiterFile) o.delimiterField = p->delimiter;
    if (!o.templateField) o.templateField = p->keepTemplate;
    o.unique = o.unique || p->unique;
    o.tally = o.tally || p->tally;
    o.lineNumbers = o.lineNumbers || p->lineNumbers;
  }
  return std::nullopt;
}

std::string NoMemoryWords() {
  return std::string("not enough memory for this text (") + std::strerror(ENOMEM) + "); nothing was written";
}

int Run(const std::vector<PathString>& args) {
  try {
    return RunGuarded(args);
  } catch (const std::bad_alloc&) {
    return Fail(1, NoMemoryWords());
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
  if (o.preset) {
    if (auto problem = ApplyPreset(o)) return Fail(1, *problem);
  }
  if (auto usage = Conflicts(o)) return Fail(1, *usage + " (see siftwell --help)");
  std::string pattern;
  if (o.patternFile) {
    if (auto err = ReadSmallFile(*o.patternFile, pattern)) return Fail(1, Words(*err));
  } else {
    pattern = *o.pattern;
  }
  if (o.keep && o.delimiterFile) {  // remove takes no delimiter: the file is not read
    std::string field;
    if (auto err = ReadSmallFile(*o.delimiterFile, field)) return Fail(1, Words(*err));
    o.delimiterField = std::move(field);
  }
  const std::string delimiter = sf::ExpandDelimiter(o.delimiterField.value_or("\\n"));

  const std::string inputName = o.input ? Shown(*o.input) : "standard input";
  File inputFile;
  std::FILE* in = stdin;
  if (o.input) {
    inputFile = OpenFile(*o.input, false);
    if (!inputFile) return Fail(1, Words(SystemError(inputName, errno)));
    in = inputFile.get();
  }
  InputWatch watch(fileno(in));
  Bytes bytes;
  std::string_view text;
  Mapping mapping;
#ifdef _WIN32
  // (Windows cannot replace a file that is mapped: an input that is also the
  // output is read instead.)
  const bool mappable = o.input && !(o.output && SameFile(fileno(in), *o.output));
#else
  const bool mappable = o.input.has_value();
#endif
  if (mappable && mapping.Map(fileno(in))) {
    text = mapping.View();
  } else {
    if (auto err = Bytes::Read(in, inputName, bytes)) return Fail(1, Words(*err));
    if (watch.Changed()) return Fail(1, Words(IoError{IoError::Kind::Changed, inputName}));
    watch = InputWatch();  // a copy now: later writes to the file do not reach it
    inputFile.reset();     // (Windows cannot replace a file held open: -o may name it)
    text = bytes.View();
  }
  auto inputIntact = [&]() -> std::optional<IoError> {
    if (Mapping::Shrank()) return IoError{IoError::Kind::Shrank, inputName};
    if (watch.Changed()) return IoError{IoError::Kind::Changed, inputName};
    return std::nullopt;
  };
  sf::CompileOptions options;
  options.matchCase = !o.ignoreCase;
  options.wholeLines = o.lines;
  if (o.templateField) options.keepTemplate = *o.templateField;
  options.keepMode = o.tally ? sf::CompileOptions::KeepMode::Tally
                     : o.unique ? sf::CompileOptions::KeepMode::Unique
                                : sf::CompileOptions::KeepMode::All;
  options.lineNumbers = o.lineNumbers;
  const sf::Compilation compiled = sf::Compile(pattern, options);
  if (compiled.error) return Fail(2, siftwell::cli::ErrorText(*compiled.error));
  if (o.verbose) std::fprintf(stderr, "siftwell: %s\n", sf::DescribeSearch(*compiled.pattern).c_str());

  // The engine reports its own failures; a full output buffer throws out to Run.
#ifndef _WIN32
  Output result(text, o.output ? DirectoryOf(FollowLinks(*o.output)) : std::string());
#else
  Output result(text, o.output ? DirectoryOf(*o.output) : PathString());
#endif
#ifndef _WIN32
  if (!o.output) result.StreamTo(fileno(stdout), fileno(in));
#endif
  // (After a failure the message follows the cut: standard error may be the output's file.)
  auto fail = [&result](int status, const std::string& message) {
    result.Discard();
    return Fail(status, message);
  };
  ResultTo sink(result, mapping, started, o.timeLimit);
  const uint32_t threads = o.threads.value_or(std::max(1u, std::thread::hardware_concurrency()));
  const std::string oneThread = OneThreadBecause(*compiled.pattern, o, threads, text.size());
  std::optional<sf::FilterError> error;
  bool timedOut = false;
  if (oneThread.empty()) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    if (o.timeLimit)
      deadline = started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(*o.timeLimit));
    PartsRun run(text, *compiled.pattern, o, delimiter, result, mapping, deadline);
    if (o.verbose)
      std::fprintf(stderr, "siftwell: %llu parts on %u threads\n", static_cast<unsigned long long>(run.Parts()),
                   static_cast<unsigned>(std::min<std::size_t>(threads, run.Parts())));
    error = run.Run(threads);
    timedOut = run.TimedOut();
  } else {
    if (o.verbose && threads > 1) std::fprintf(stderr, "siftwell: one thread: %s\n", oneThread.c_str());
    error = o.keep ? sf::KeepTo(text, *compiled.pattern, delimiter, sf::MatchLimits{}, sink)
                   : sf::RemoveTo(text, *compiled.pattern, sf::MatchLimits{}, sink);
    timedOut = sink.TimedOut();
  }
  if (auto err = inputIntact()) return fail(1, Words(*err));
  if (o.verbose && result.Spilled() > 0)
    std::fprintf(stderr, "siftwell: %llu bytes of the result went through a scratch file\n",
                 static_cast<unsigned long long>(result.Spilled()));
  if (result.Error() != 0)
    return fail(1, std::string(result.Streams() ? "standard output: " : "a scratch file for the result: ") +
                       std::strerror(result.Error()) + "; nothing was written");
  if (error) {
    if (error->kind == sf::FilterError::Kind::Stopped && timedOut)
      return fail(2, "time limit of " + FormatSeconds(*o.timeLimit) + " s reached; nothing was written");
    if (error->kind == sf::FilterError::Kind::NoMemory) return fail(1, NoMemoryWords());
    return fail(2, siftwell::cli::ErrorText(*error));
  }

  if (o.output) {
    if (auto err = WriteFile(*o.output, result, inputIntact)) return fail(1, Words(*err));
    return 0;
  }
  if (!result.WriteTo(stdout)) {
    const int err = errno;
    return fail(1, std::string("standard output: ") + std::strerror(err) +
                       (result.Streams() ? "; nothing was written" : ""));
  }
  if (auto err = inputIntact()) {
    err->sent = !result.Streams();  // (a streamed result is cut back)
    return fail(1, Words(*err));
  }
  result.Keep();
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
#ifdef __GLIBC__
  // A part's result blocks (1 MB each, from the heap) are freed when it is
  // written and taken again by the parts after it: kept in the heap instead
  // of going back to the system to be faulted in again (keep '\w+' of 100 MB
  // on two threads: 7,500 page faults down to 2,500, 12 % less CPU).
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  return Run(args);
}
#endif
