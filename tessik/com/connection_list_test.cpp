#include "com/connection_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tessik {
namespace {

int a, b, c, d, e, f;

std::vector<int*> Slots(const ConnectionList<int*>& list) {
  std::vector<int*> out;
  for (std::size_t i = 0; i < list.size(); ++i) out.push_back(list.get(i));
  return out;
}

bool Add(ConnectionList<int*>& list, int* p) { return list.Add(p); }

int* Remove(ConnectionList<int*>& list, const int* p) {
  return list.RemoveFirst([p](int* s) { return s == p; });
}

TEST(ConnectionList, FirstSinkIsHeldDirectlyAndLeavesNoSlotWhenRemoved) {
  ConnectionList<int*> list;
  EXPECT_EQ(list.size(), 0u);
  ASSERT_TRUE(Add(list, &a));
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a}));
  EXPECT_EQ(Remove(list, &a), &a);
  EXPECT_EQ(list.size(), 0u);
  EXPECT_EQ(list.get(0), nullptr);
}

TEST(ConnectionList, SecondSinkMakesFourSlotsThatDoubleWhenFull) {
  ConnectionList<int*> list;
  ASSERT_TRUE(Add(list, &a));
  ASSERT_TRUE(Add(list, &b));
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a, &b, nullptr, nullptr}));
  ASSERT_TRUE(Add(list, &c));
  ASSERT_TRUE(Add(list, &d));
  ASSERT_TRUE(Add(list, &e));
  EXPECT_EQ(list.size(), 8u);
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a, &b, &c, &d, &e, nullptr, nullptr, nullptr}));
}

TEST(ConnectionList, FreedSlotIsTakenByTheNextSinkAndSlotsNeverShrink) {
  ConnectionList<int*> list;
  ASSERT_TRUE(Add(list, &a));
  ASSERT_TRUE(Add(list, &b));
  ASSERT_TRUE(Add(list, &c));
  EXPECT_EQ(Remove(list, &b), &b);
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a, nullptr, &c, nullptr}));
  ASSERT_TRUE(Add(list, &d));
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a, &d, &c, nullptr}));
  Remove(list, &a);
  Remove(list, &d);
  Remove(list, &c);
  EXPECT_EQ(list.size(), 4u);
  ASSERT_TRUE(Add(list, &f));
  EXPECT_EQ(list.get(0), &f);
}

TEST(ConnectionList, RemovingWhatIsNotThereChangesNothing) {
  ConnectionList<int*> list;
  EXPECT_EQ(Remove(list, &a), nullptr);
  ASSERT_TRUE(Add(list, &a));
  EXPECT_EQ(Remove(list, &b), nullptr);
  EXPECT_EQ(Remove(list, nullptr), nullptr);
  EXPECT_EQ(Slots(list), (std::vector<int*>{&a}));
}

TEST(ConnectionList, SameSinkTwiceTakesTwoSlotsAndLeavesOneAtATime) {
  ConnectionList<int*> list;
  ASSERT_TRUE(Add(list, &a));
  ASSERT_TRUE(Add(list, &a));
  EXPECT_EQ(Remove(list, &a), &a);
  EXPECT_EQ(Slots(list), (std::vector<int*>{nullptr, &a, nullptr, nullptr}));
  EXPECT_EQ(Remove(list, &a), &a);
  EXPECT_EQ(Remove(list, &a), nullptr);
}

TEST(ConnectionList, IndexOutsideTheListIsEmpty) {
  ConnectionList<int*> list;
  ASSERT_TRUE(Add(list, &a));
  EXPECT_EQ(list.get(1), nullptr);
  ASSERT_TRUE(Add(list, &b));
  EXPECT_EQ(list.get(4), nullptr);
}

TEST(ConnectionList, OwningSlotsLetGoOfTheirSinksOnRemoveAndClear) {
  ConnectionList<std::shared_ptr<int>> list;
  auto one = std::make_shared<int>(1);
  auto two = std::make_shared<int>(2);
  auto s = one;
  ASSERT_TRUE(list.Add(s));
  s = two;
  ASSERT_TRUE(list.Add(s));
  s.reset();
  EXPECT_EQ(one.use_count(), 2);
  auto removed = list.RemoveFirst([&](const std::shared_ptr<int>& p) { return p == one; });
  EXPECT_EQ(removed, one);
  removed.reset();
  EXPECT_EQ(one.use_count(), 1);
  list.Clear();
  EXPECT_EQ(two.use_count(), 1);
  EXPECT_EQ(list.size(), 0u);
}

}  // namespace
}  // namespace tessik
