#include "runtime/object_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using runtime::ANY_NUMBER;
using runtime::ObjectNumber;

struct Record {
  int value = 0;
  int extra = 0;
  bool is_live() const { return value != 0; }
};

using Table = runtime::ObjectTable<Record>;

// The free step records the values of the records it is given, in order; a record of value 13 fails.
std::vector<int> freed;

bool free_record(Record& record) {
  freed.push_back(record.value);
  return record.value != 13;
}

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    freed.clear();
    table = runtime::create_object_table<Record>(16, free_record);
  }

  Record* make_live(ObjectNumber number, int value = 1) {
    auto allocation = table->allocate_object(number);
    allocation.record->value = value;
    return allocation.record;
  }

  std::unique_ptr<Table> table;
};

TEST_F(ObjectTableTest, NumberBeyondCapacityGrowsToNumberPlusStep) {
  EXPECT_EQ(table->capacity(), 16);
  make_live(20);
  EXPECT_EQ(table->capacity(), 36);
  for (ObjectNumber n = 16; n < 36; ++n)
    if (n != 20) {
      EXPECT_TRUE(table->slot_is_null(n)) << n;
    }
  EXPECT_FALSE(table->slot_is_null(20));
}

TEST_F(ObjectTableTest, AllocatedRecordsAreZeroFilled) {
  auto first = table->allocate_object(3);
  EXPECT_EQ(first.number, 3);
  EXPECT_EQ(first.record->value, 0);
  EXPECT_EQ(first.record->extra, 0);
  first.record->value = 5;
  first.record->extra = 9;
  auto again = table->allocate_object(3);
  EXPECT_EQ(again.record, first.record) << "a slot keeps its record";
  EXPECT_EQ(again.record->value, 0);
  EXPECT_EQ(again.record->extra, 0);
}

TEST_F(ObjectTableTest, ReusingANumberRunsTheFreeStepOnItsLiveRecordOnly) {
  make_live(2, 5);
  make_live(2, 6);
  EXPECT_EQ(freed, std::vector<int>{5});
  table->release_object(2);
  table->allocate_object(2);  // a released record has nothing left to free
  EXPECT_EQ(freed, std::vector<int>{5});
}

TEST_F(ObjectTableTest, ReleasedNumberLooksEmptyAtOnceButKeepsItsRecord) {
  Record* record = make_live(4);
  ASSERT_EQ(table->get_object(4), record);
  table->release_object(4);
  EXPECT_EQ(table->get_object(4), nullptr);
  EXPECT_EQ(table->find_object(4), record);
  EXPECT_EQ(record->value, 0);
}

TEST_F(ObjectTableTest, DynamicHandlesNeverEqualASlotIndex) {
  std::vector<ObjectNumber> handles;
  for (int i = 0; i < 50; ++i) handles.push_back(table->allocate_object(ANY_NUMBER).number);
  for (ObjectNumber handle : handles) {
    EXPECT_LT(handle, ANY_NUMBER);
    EXPECT_NE(table->find_object(handle), nullptr);
  }
  // A table that grows past the numbers still does not mistake a handle for a slot.
  make_live(100);
  for (ObjectNumber handle : handles) EXPECT_NE(table->find_object(handle), nullptr);
}

TEST_F(ObjectTableTest, GetObjectAppliesTheLiveTestToDynamicRecordsButFindObjectDoesNot) {
  auto dynamic = table->allocate_object(ANY_NUMBER);
  EXPECT_EQ(table->get_object(dynamic.number), nullptr);
  EXPECT_EQ(table->find_object(dynamic.number), dynamic.record);
  dynamic.record->value = 7;
  EXPECT_EQ(table->get_object(dynamic.number), dynamic.record);
}

TEST_F(ObjectTableTest, ReleasedOrUnknownHandlesFindNothing) {
  auto dynamic = table->allocate_object(ANY_NUMBER);
  dynamic.record->value = 1;
  table->release_object(dynamic.number);
  EXPECT_EQ(table->find_object(dynamic.number), nullptr);
  EXPECT_EQ(table->get_object(dynamic.number), nullptr);
  EXPECT_EQ(table->find_object(-12345), nullptr);
  EXPECT_EQ(table->get_object(1000), nullptr);
  table->release_object(-12345);  // changes nothing
  table->release_object(1000);
  EXPECT_EQ(table->capacity(), 16);
}

TEST_F(ObjectTableTest, FreeAllFreesNumbersAscendingThenDynamicNewestFirst) {
  make_live(3, 3);
  make_live(0, 10);
  auto older = table->allocate_object(ANY_NUMBER);
  older.record->value = 21;
  auto newer = table->allocate_object(ANY_NUMBER);
  newer.record->value = 22;
  EXPECT_TRUE(table->free_all_objects());
  EXPECT_EQ(freed, (std::vector<int>{10, 3, 22, 21}));
  EXPECT_EQ(table->get_object(0), nullptr);
  EXPECT_EQ(table->get_object(3), nullptr);
  EXPECT_EQ(table->find_object(newer.number), nullptr);
  EXPECT_EQ(table->find_object(older.number), nullptr);
}

TEST_F(ObjectTableTest, FreeAllReportsAFailedFreeStepAndStillReleasesEveryRecord) {
  make_live(1, 13);
  make_live(2, 7);
  EXPECT_FALSE(table->free_all_objects());
  EXPECT_EQ(table->get_object(1), nullptr);
  EXPECT_EQ(table->get_object(2), nullptr);
  EXPECT_TRUE(table->free_all_objects());
}

TEST_F(ObjectTableTest, FreeAllWithoutCallbackDoesNothing) {
  auto plain = runtime::create_object_table<Record>(16, nullptr);
  plain->allocate_object(1).record->value = 1;
  plain->free_all_objects();
  EXPECT_NE(plain->get_object(1), nullptr);
}

TEST_F(ObjectTableTest, NextLiveObjectSkipsFreeSlots) {
  make_live(1);
  table->allocate_object(2);  // not live
  make_live(5);
  ObjectNumber number = -99;
  std::vector<ObjectNumber> seen;
  while (table->next_live_object(number)) {
    seen.push_back(number);
    table->release_object(number);
  }
  EXPECT_EQ(seen, (std::vector<ObjectNumber>{1, 5}));
}

TEST_F(ObjectTableTest, NumbersBelowAnyNumberGetNoRecord) { EXPECT_EQ(table->allocate_object(-5).record, nullptr); }

}  // namespace
