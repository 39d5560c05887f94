#include "platform/Lock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {
bool OtherThreadCanEnter(TCriticalSection& section) {
  bool entered = false;
  std::thread([&] {
    entered = section.TryEnter();
    if (entered) section.Leave();
  }).join();
  return entered;
}
}  // namespace

TEST(CriticalSection, ReentersOnTheSameThreadAndExcludesOthersUntilFullyLeft) {
  TCriticalSection section;
  {
    TCriticalSectionGuard outer(section);
    ASSERT_TRUE(section.TryEnter());  // a handler under the lock takes it again
    section.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(section)) << "still held once";
  }
  EXPECT_TRUE(OtherThreadCanEnter(section));
}

TEST(ThreadList, RemoveTakesTheFirstEqualItemAndLockListHoldsTheLock) {
  TThreadList<int> list;
  for (int item : {1, 2, 1}) list.Add(item);
  list.Remove(1);
  list.Remove(7);
  auto items = list.LockList();
  EXPECT_EQ(*items, (std::vector<int>{2, 1}));
  items->push_back(4);
  EXPECT_EQ(items->back(), 4);
  // Add and Remove take the same, re-entrant lock.
  list.Add(5);
  EXPECT_EQ(items->size(), 4u);
}
