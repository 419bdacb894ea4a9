#include "npp/TextRecords.h"

#include <algorithm>
#include <cstring>

#include "win/TextCodec.h"

namespace {

size_t CheckedSize(int32_t n) {
  if (n < 0) throw std::length_error("negative native buffer size");
  return static_cast<size_t>(n);
}

}  // namespace

// ---- TextRange -----------------------------------------------------------------

TextRange::TextRange(CharacterRange chrRange, int32_t stringCapacity)
    : text(std::make_unique<char[]>(CheckedSize(stringCapacity))), capacity(stringCapacity) {
  _sciTextRange.chrg = chrRange;
  _sciTextRange.lpstrText = text.get();
}

TextRange::TextRange(int32_t cpmin, int32_t cpmax, int32_t stringCapacity)
    : TextRange(CharacterRange(cpmin, cpmax), stringCapacity) {}

TextRange::~TextRange() { Dispose(); }

void TextRange::_initNativeStruct() {
  if (_disposed) throw RecordReleasedError("TextRange used after release");
  if (!_ptrSciTextRange) _ptrSciTextRange = std::make_unique<Sci_TextRange>();
  *_ptrSciTextRange = _sciTextRange;
}

void TextRange::_readNativeStruct() {
  // The text address belongs to this object for its whole life: only the range comes back.
  if (!_disposed && _ptrSciTextRange) _sciTextRange.chrg = _ptrSciTextRange->chrg;
}

intptr_t TextRange::NativePointer() {
  _initNativeStruct();
  return reinterpret_cast<intptr_t>(_ptrSciTextRange.get());
}

std::u16string TextRange::lpstrText() {
  if (_disposed) return {};
  _readNativeStruct();
  const size_t size = static_cast<size_t>(capacity);
  const char* begin = text.get();
  const char* end = std::find(begin, begin + size, '\0');
  return siftwell::win::TextCodec::FromAnsi(std::string_view(begin, static_cast<size_t>(end - begin)));
}

CharacterRange TextRange::chrg() {
  _readNativeStruct();
  return _sciTextRange.chrg;
}

void TextRange::chrg(CharacterRange value) {
  if (_disposed) throw RecordReleasedError("TextRange used after release");
  _sciTextRange.chrg = value;
  _initNativeStruct();
}

void TextRange::Dispose() noexcept {
  if (_disposed) return;
  text.reset();
  _ptrSciTextRange.reset();
  _disposed = true;
}

// ---- TextToFind ----------------------------------------------------------------

TextToFind::TextToFind(CharacterRange chrRange, std::u16string_view text) {
  _sciTextToFind.chrg = chrRange;
  SetSearchText(text);
}

TextToFind::TextToFind(int32_t cpmin, int32_t cpmax, std::u16string_view text)
    : TextToFind(CharacterRange(cpmin, cpmax), text) {}

TextToFind::~TextToFind() { Dispose(); }

void TextToFind::SetSearchText(std::u16string_view value) {
  const std::string ansi = siftwell::win::TextCodec::ToAnsi(value);
  auto buffer = std::make_unique<char[]>(ansi.size() + 1);
  std::memcpy(buffer.get(), ansi.data(), ansi.size());
  _freeNativeString();
  searchText = std::move(buffer);
  _sciTextToFind.lpstrText = searchText.get();
}

void TextToFind::_freeNativeString() noexcept {
  searchText.reset();
  _sciTextToFind.lpstrText = nullptr;
}

void TextToFind::_initNativeStruct() {
  if (_disposed) throw RecordReleasedError("TextToFind used after release");
  if (!_ptrSciTextToFind) _ptrSciTextToFind = std::make_unique<Sci_TextToFind>();
  *_ptrSciTextToFind = _sciTextToFind;
}

void TextToFind::_readNativeStruct() {
  // Only the two ranges come back; the text address is this object's own.
  if (_disposed || !_ptrSciTextToFind) return;
  _sciTextToFind.chrg = _ptrSciTextToFind->chrg;
  _sciTextToFind.chrgText = _ptrSciTextToFind->chrgText;
}

intptr_t TextToFind::NativePointer() {
  _initNativeStruct();
  return reinterpret_cast<intptr_t>(_ptrSciTextToFind.get());
}

void TextToFind::lpstrText(std::u16string_view value) {
  if (_disposed) throw RecordReleasedError("TextToFind used after release");
  SetSearchText(value);
  if (_ptrSciTextToFind) _ptrSciTextToFind->lpstrText = _sciTextToFind.lpstrText;
}

CharacterRange TextToFind::chrg() {
  _readNativeStruct();
  return _sciTextToFind.chrg;
}

void TextToFind::chrg(CharacterRange value) {
  if (_disposed) throw RecordReleasedError("TextToFind used after release");
  _readNativeStruct();  // keep a found range the editor wrote
  _sciTextToFind.chrg = value;
  _initNativeStruct();
}

CharacterRange TextToFind::chrgText() {
  _readNativeStruct();
  return _sciTextToFind.chrgText;
}

void TextToFind::Dispose() noexcept {
  if (_disposed) return;
  _freeNativeString();
  _ptrSciTextToFind.reset();
  _disposed = true;
}

// ---- ClikeStringArray ----------------------------------------------------------

ClikeStringArray::ClikeStringArray(int32_t num, int32_t stringCapacity) {
  const size_t count = CheckedSize(num);
  const size_t size = CheckedSize(stringCapacity);
  _nativeArray = std::make_unique<void*[]>(count + 1);  // all slots null, the last one stays so
  _nativeItems.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    _nativeItems.push_back({std::make_unique<std::byte[]>(size), size});
    _nativeArray[i] = _nativeItems.back().data.get();
  }
}

ClikeStringArray::ClikeStringArray(const std::vector<std::u16string>& lstStrings) {
  _nativeArray = std::make_unique<void*[]>(lstStrings.size() + 1);
  _nativeItems.reserve(lstStrings.size());
  for (size_t i = 0; i < lstStrings.size(); ++i) {
    const std::u16string& s = lstStrings[i];
    const size_t size = (s.size() + 1) * sizeof(char16_t);
    Item item{std::make_unique<std::byte[]>(size), size};
    std::memcpy(item.data.get(), s.data(), s.size() * sizeof(char16_t));
    _nativeItems.push_back(std::move(item));
    _nativeArray[i] = _nativeItems.back().data.get();
  }
}

ClikeStringArray::~ClikeStringArray() { Dispose(); }

intptr_t ClikeStringArray::NativePointer() const noexcept {
  return _disposed ? 0 : reinterpret_cast<intptr_t>(_nativeArray.get());
}

std::vector<std::u16string> ClikeStringArray::_getManagedItems(bool unicode) const {
  std::vector<std::u16string> result;
  if (_disposed) return result;
  result.reserve(_nativeItems.size());
  for (const Item& item : _nativeItems) {
    if (unicode) {
      std::u16string s;
      for (size_t k = 0; k + sizeof(char16_t) <= item.size; k += sizeof(char16_t)) {
        char16_t unit;
        std::memcpy(&unit, item.data.get() + k, sizeof unit);
        if (unit == 0) break;
        s.push_back(unit);
      }
      result.push_back(std::move(s));
    } else {
      const char* begin = reinterpret_cast<const char*>(item.data.get());
      const char* end = std::find(begin, begin + item.size, '\0');
      result.push_back(siftwell::win::TextCodec::FromAnsi(std::string_view(begin, static_cast<size_t>(end - begin))));
    }
  }
  return result;
}

std::vector<std::u16string> ClikeStringArray::ManagedStringsAnsi() const { return _getManagedItems(false); }

std::vector<std::u16string> ClikeStringArray::ManagedStringsUnicode() const { return _getManagedItems(true); }

void ClikeStringArray::Dispose() noexcept {
  if (_disposed) return;
  for (Item& item : _nativeItems) item.data.reset();
  _nativeArray.reset();
  _disposed = true;
}
