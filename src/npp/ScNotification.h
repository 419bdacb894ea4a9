// The notification record the host passes to beNotified, in the editor
// component's notification layout, with its two typed accessors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "npp/Position.h"
#include "win/NativeTypes.h"

struct ScNotificationHeader {
  HWND hwndFrom;
  intptr_t IdFrom;
  uint32_t Code;
};

// The record's position field: its value is readable only through ScNotification::Position,
// while the record keeps a standard layout.
class ScNotificationPositionField {
  friend struct ScNotification;
  int32_t value;
};

struct ScNotification {
  ScNotificationHeader Header;
  ScNotificationPositionField position;
  int32_t character;
  int32_t Mmodifiers;
  int32_t ModificationType;
  intptr_t TextPointer;
  int32_t Length;
  int32_t LinesAdded;
  int32_t Message;
  intptr_t wParam;
  intptr_t lParam;
  int32_t LineNumber;
  int32_t FoldLevelNow;
  int32_t FoldLevelPrev;
  int32_t Margin;
  int32_t ListType;
  int32_t X;
  int32_t Y;
  int32_t Token;
  int32_t AnnotationLinesAdded;
  int32_t Updated;
  int32_t ListCompletionMethod;

  // A new Position made from the record's position field.
  ::Position Position() const noexcept { return ::Position(position.value); }
  // The character field cut to one UTF-16 code unit (upper 16 bits dropped).
  char16_t Character() const noexcept { return static_cast<char16_t>(static_cast<uint32_t>(character) & 0xFFFFu); }
};

static_assert(std::is_standard_layout_v<ScNotification>);
static_assert(sizeof(ScNotificationHeader) == (sizeof(void*) == 4 ? 12 : 24));
static_assert(offsetof(ScNotification, position) == (sizeof(void*) == 4 ? 12 : 24));
static_assert(offsetof(ScNotification, TextPointer) == (sizeof(void*) == 4 ? 28 : 40));
static_assert(offsetof(ScNotification, wParam) == (sizeof(void*) == 4 ? 44 : 64));
static_assert(offsetof(ScNotification, ListCompletionMethod) == (sizeof(void*) == 4 ? 92 : 120));
static_assert(sizeof(ScNotification) == (sizeof(void*) == 4 ? 96 : 128));
