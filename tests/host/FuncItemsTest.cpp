#include "npp/FuncItems.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

void About() {}
void Open() {}

// The bytes of a record exactly as the host would read them.
std::vector<uint8_t> RecordBytes(const FuncItems& table, int index) {
  const auto* base = reinterpret_cast<const uint8_t*>(table.NativePointer());
  const std::size_t size = 136 + 2 * sizeof(void*);
  return {base + index * size, base + (index + 1) * size};
}

template <typename T>
T ReadAt(const std::vector<uint8_t>& bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

constexpr std::size_t P = sizeof(void*);

TEST(CommandTable, EmptyTableHasNoArray) {
  FuncItems table;
  EXPECT_EQ(table.NativePointer(), nullptr);
  EXPECT_EQ(table.Count(), 0);
}

TEST(CommandTable, RecordsAreLaidOutAsTheHostReadsThem) {
  FuncItems table;
  table.Add({u"About", &About, 0, false, {}});
  const auto first = RecordBytes(table, 0);
  table.Add({u"Open Siftwell", &Open, 1, true, ShortcutKey(true, false, true, 88)});
  ASSERT_EQ(table.Count(), 2);

  // The first record moved with the array but its bytes are unchanged.
  EXPECT_EQ(RecordBytes(table, 0), first);

  const auto second = RecordBytes(table, 1);
  EXPECT_EQ(std::memcmp(second.data(), u"Open Siftwell", 14 * sizeof(char16_t)), 0);
  EXPECT_EQ(ReadAt<NppFuncItemDelegate>(second, 128), &Open);
  EXPECT_EQ(ReadAt<int32_t>(second, 128 + P), 1);
  EXPECT_EQ(ReadAt<int32_t>(second, 132 + P), 1);  // _init2Check true is the int32 1

  EXPECT_EQ(ReadAt<ShortcutKey*>(first, 136 + P), nullptr);
  const auto* key = reinterpret_cast<const uint8_t*>(ReadAt<ShortcutKey*>(second, 136 + P));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ((std::vector<uint8_t>{key[0], key[1], key[2], key[3]}), (std::vector<uint8_t>{1, 0, 1, 88}));
}

TEST(CommandTable, RefreshItemsReadsHostAssignedIdentifiers) {
  FuncItems table;
  table.Add({u"About", &About, 0, false, {}});
  table.Add({u"Open Siftwell", &Open, 1, false, {}});
  table.NativePointer()[0]._cmdID = 9;
  table.NativePointer()[1]._cmdID = 10;
  table.RefreshItems();
  EXPECT_EQ(table.Items()[0]._cmdID, 9);
  EXPECT_EQ(table.Items()[1]._cmdID, 10);
  EXPECT_EQ(table.Items()[1]._itemName, u"Open Siftwell");
}

TEST(CommandTable, LongNamesAreCutToWhatTheRecordHolds) {
  FuncItems table;
  table.Add({std::u16string(100, u'x'), &About, 0, false, {}});
  const char16_t* name = table.NativePointer()[0]._itemName;
  EXPECT_EQ(std::u16string(name), std::u16string(63, u'x'));
}

TEST(CommandTable, DisposeReleasesOnceAndStopsAdding) {
  FuncItems table;
  table.Add({u"About", &About, 0, false, ShortcutKey(true, true, false, 65)});
  table.Dispose();
  EXPECT_EQ(table.NativePointer(), nullptr);
  table.Dispose();
  table.Add({u"Late", &Open, 1, false, {}});
  EXPECT_EQ(table.NativePointer(), nullptr);
}

}  // namespace
