#include "npp/FuncItems.h"

#include <algorithm>
#include <cstring>

#ifdef _WIN32
#include "npp/Win32.h"
#endif

FuncItems::FuncItems() = default;
FuncItems::~FuncItems() { Dispose(); }

void FuncItems::RtlMoveMemory(void* destination, const void* source, int32_t length) {
  if (length <= 0) return;
#ifdef _WIN32
  Win32::RtlMoveMemory(destination, source, length);
#else
  std::memmove(destination, source, static_cast<std::size_t>(length));
#endif
}

void FuncItems::Add(const FuncItem& funcItem) {
  if (_disposed) return;
  const int32_t oldBytes = Count() * _sizeFuncItem;
  _funcItems.push_back(funcItem);

  // Value-initialised: unused name units and padding are zero, never garbage.
  auto block = std::make_unique<NativeFuncItem[]>(_funcItems.size());
  if (_nativePointer) RtlMoveMemory(block.get(), _nativePointer.get(), oldBytes);

  NativeFuncItem& record = block[_funcItems.size() - 1];
  const std::size_t units = std::min(funcItem._itemName.size(), NativeFuncItem::kNameUnits - 1);
  std::copy_n(funcItem._itemName.data(), units, record._itemName);
  record._itemName[units] = u'\0';
  record._pFunc = funcItem._pFunc;
  record._cmdID = funcItem._cmdID;
  record._init2Check = funcItem._init2Check ? 1 : 0;
  record._pShKey = nullptr;
  if (funcItem._pShKey._key != 0) {
    _shortCutKeys.push_back(std::make_unique<ShortcutKey>(funcItem._pShKey));
    record._pShKey = _shortCutKeys.back().get();
  }
  _nativePointer = std::move(block);
}

void FuncItems::RefreshItems() {
  if (!_nativePointer) return;
  for (std::size_t i = 0; i < _funcItems.size(); ++i) _funcItems[i]._cmdID = _nativePointer[i]._cmdID;
}

void FuncItems::Dispose() {
  if (_disposed) return;
  _shortCutKeys.clear();
  _nativePointer.reset();
  _disposed = true;
}
