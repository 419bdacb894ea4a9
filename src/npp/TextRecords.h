// Native text records for the editor messages that take the address of a record:
// SCI_GETTEXTRANGE / SCI_GETSTYLEDTEXT (Sci_TextRange) and SCI_FINDTEXT (Sci_TextToFind),
// plus a null-terminated native array of string buffers.
//
// Each object keeps a local copy of its record and, from the first NativePointer read or
// chrg write on, a native copy that it rewrites in place. Memory is released once, by
// Dispose or on destruction. After Dispose nothing touches the released memory: range
// reads return the last local copy, text reads return empty text, and NativePointer or a
// text write throws RecordReleasedError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "npp/CharacterRange.h"

struct Sci_TextRange {
  CharacterRange chrg;
  char* lpstrText;
};
static_assert(sizeof(Sci_TextRange) == (sizeof(void*) == 4 ? 12 : 16));
static_assert(offsetof(Sci_TextRange, lpstrText) == 8);

struct Sci_TextToFind {
  CharacterRange chrg;
  const char* lpstrText;
  CharacterRange chrgText;
};
static_assert(sizeof(Sci_TextToFind) == (sizeof(void*) == 4 ? 20 : 24));
static_assert(offsetof(Sci_TextToFind, lpstrText) == 8);
static_assert(offsetof(Sci_TextToFind, chrgText) == (sizeof(void*) == 4 ? 12 : 16));

// Use of a record's memory after it was released.
class RecordReleasedError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class TextRange {
 public:
  // A text buffer of exactly stringCapacity bytes (cleared); no native record yet.
  TextRange(CharacterRange chrRange, int32_t stringCapacity);
  TextRange(int32_t cpmin, int32_t cpmax, int32_t stringCapacity);
  ~TextRange();
  TextRange(const TextRange&) = delete;
  TextRange& operator=(const TextRange&) = delete;

  // Writes the local copy to the native record (allocated on first use); its address.
  intptr_t NativePointer();
  // The buffer's text up to its first zero byte (never past its capacity), from the ANSI code page.
  std::u16string lpstrText();
  CharacterRange chrg();
  void chrg(CharacterRange value);
  // Size of the text buffer in bytes, as given to the constructor.
  int32_t Capacity() const noexcept { return capacity; }
  bool Disposed() const noexcept { return _disposed; }
  void Dispose() noexcept;

 private:
  void _initNativeStruct();
  void _readNativeStruct();

  Sci_TextRange _sciTextRange{};
  std::unique_ptr<Sci_TextRange> _ptrSciTextRange;
  bool _disposed = false;
  std::unique_ptr<char[]> text;
  int32_t capacity;
};

class TextToFind {
 public:
  // The search text becomes a zero-terminated buffer in the ANSI code page; chrgText starts at 0, 0.
  TextToFind(CharacterRange chrRange, std::u16string_view searchText);
  TextToFind(int32_t cpmin, int32_t cpmax, std::u16string_view searchText);
  ~TextToFind();
  TextToFind(const TextToFind&) = delete;
  TextToFind& operator=(const TextToFind&) = delete;

  intptr_t NativePointer();
  // Replaces the search text. The native record, if there is one, gets the new address at once,
  // so it never holds the address of a released buffer.
  void lpstrText(std::u16string_view value);
  CharacterRange chrg();
  void chrg(CharacterRange value);
  CharacterRange chrgText();
  bool Disposed() const noexcept { return _disposed; }
  void Dispose() noexcept;

 private:
  void _initNativeStruct();
  void _readNativeStruct();
  void _freeNativeString() noexcept;
  void SetSearchText(std::u16string_view value);

  Sci_TextToFind _sciTextToFind{};
  std::unique_ptr<Sci_TextToFind> _ptrSciTextToFind;
  bool _disposed = false;
  std::unique_ptr<char[]> searchText;
};

class ClikeStringArray {
 public:
  // num buffers of stringCapacity bytes each (cleared), then a null slot.
  ClikeStringArray(int32_t num, int32_t stringCapacity);
  // One zero-terminated UTF-16 copy per string, in list order, then a null slot.
  explicit ClikeStringArray(const std::vector<std::u16string>& lstStrings);
  ~ClikeStringArray();
  ClikeStringArray(const ClikeStringArray&) = delete;
  ClikeStringArray& operator=(const ClikeStringArray&) = delete;

  // Address of the pointer array (0 after release).
  intptr_t NativePointer() const noexcept;
  // The buffers as 8-bit ANSI text up to the first zero byte (empty list after release).
  std::vector<std::u16string> ManagedStringsAnsi() const;
  // The buffers as UTF-16 text up to the first zero unit (empty list after release).
  std::vector<std::u16string> ManagedStringsUnicode() const;
  bool Disposed() const noexcept { return _disposed; }
  void Dispose() noexcept;

 private:
  struct Item {
    std::unique_ptr<std::byte[]> data;
    size_t size;
  };
  std::vector<std::u16string> _getManagedItems(bool unicode) const;

  std::unique_ptr<void*[]> _nativeArray;
  std::vector<Item> _nativeItems;
  bool _disposed = false;
};
