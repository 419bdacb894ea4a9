// The plugin's command table: the list of commands for our own use and, beside
// it, the contiguous native array the host builds its menu from and writes the
// command identifiers it assigns back into.
#pragma once

// windows.h makes RtlMoveMemory a macro; here it names our member.
#undef RtlMoveMemory

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A command callback: called by the host on its UI thread. Plain C function.
using NppFuncItemDelegate = void (*)();

// Shortcut record, 4 bytes as the host reads it. _key 0 means "no shortcut".
struct ShortcutKey {
  uint8_t _isCtrl = 0;
  uint8_t _isAlt = 0;
  uint8_t _isShift = 0;
  uint8_t _key = 0;

  constexpr ShortcutKey() = default;
  constexpr ShortcutKey(bool isCtrl, bool isAlt, bool isShift, uint8_t key)
      : _isCtrl(isCtrl ? 1 : 0), _isAlt(isAlt ? 1 : 0), _isShift(isShift ? 1 : 0), _key(key) {}
};
static_assert(sizeof(ShortcutKey) == 4);

// One command as we keep it.
struct FuncItem {
  std::u16string _itemName;
  NppFuncItemDelegate _pFunc = nullptr;
  int32_t _cmdID = 0;
  bool _init2Check = false;
  ShortcutKey _pShKey;
};

// One command as the host reads it: 136 + 2 * pointer size bytes, no gaps.
struct NativeFuncItem {
  static constexpr std::size_t kNameUnits = 64;  // 63 characters and a NUL
  char16_t _itemName[kNameUnits];
  NppFuncItemDelegate _pFunc;
  int32_t _cmdID;
  int32_t _init2Check;
  ShortcutKey* _pShKey;
};
static_assert(offsetof(NativeFuncItem, _pFunc) == 128);
static_assert(offsetof(NativeFuncItem, _cmdID) == 128 + sizeof(void*));
static_assert(offsetof(NativeFuncItem, _init2Check) == 132 + sizeof(void*));
static_assert(offsetof(NativeFuncItem, _pShKey) == 136 + sizeof(void*));
static_assert(sizeof(NativeFuncItem) == 136 + 2 * sizeof(void*));
static_assert(sizeof(void*) != 4 || sizeof(NativeFuncItem) == 144);
static_assert(sizeof(void*) != 8 || sizeof(NativeFuncItem) == 152);

class FuncItems {
 public:
  FuncItems();
  ~FuncItems();
  FuncItems(const FuncItems&) = delete;
  FuncItems& operator=(const FuncItems&) = delete;

  // Appends one command; moves the native array (so only before the host has it).
  void Add(const FuncItem& funcItem);
  // Copies the identifiers the host wrote into the native records into Items.
  void RefreshItems();
  // Frees the shortcut blocks and the native array; a second call does nothing.
  void Dispose();

  NativeFuncItem* NativePointer() const { return _nativePointer.get(); }
  const std::vector<FuncItem>& Items() const { return _funcItems; }
  int32_t Count() const { return static_cast<int32_t>(_funcItems.size()); }

 private:
  static void RtlMoveMemory(void* destination, const void* source, int32_t length);

  std::vector<FuncItem> _funcItems;
  const int32_t _sizeFuncItem = static_cast<int32_t>(sizeof(NativeFuncItem));
  std::vector<std::unique_ptr<ShortcutKey>> _shortCutKeys;
  std::unique_ptr<NativeFuncItem[]> _nativePointer;
  bool _disposed = false;
};
