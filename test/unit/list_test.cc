// The linked list: insertion at both ends and in the middle, removal, reuse of freed
// nodes and long lists.
#include "utils/list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "utils/string.h"

using namespace nubrix;

namespace {

// The values front to back, checked against a walk back to front.
std::vector<int> values(const List<int>& l) {
  std::vector<int> forward, backward;
  for (auto it = l.begin(); it != l.end(); ++it) forward.push_back(*it);
  for (auto it = l.last(); !it.is_null(); --it) backward.insert(backward.begin(), *it);
  EXPECT_EQ(forward, backward);
  EXPECT_EQ(forward.size(), l.length());
  return forward;
}

TEST(ListTest, InsertAndRemove) {
  List<int> l;
  EXPECT_TRUE(l.is_empty());
  EXPECT_TRUE(l.first().is_null());
  l.push(2);
  l.push(3);
  l.unshift(1);
  EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3}));
  auto three = l.last();
  auto mid = l.insert(three, 25);  // before 3
  EXPECT_EQ(values(l), (std::vector<int>{1, 2, 25, 3}));
  l.insert(l.end(), 4);
  l.insert(l.first(), 0);
  EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2, 25, 3, 4}));
  auto after = l.erase(mid);
  EXPECT_EQ(*after, 3);
  EXPECT_EQ(values(l), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_TRUE(l.erase(l.last()).is_null());
  EXPECT_EQ(l.shift(), 0);
  EXPECT_EQ(values(l), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(l.erase(l.end()).is_null());
  EXPECT_EQ(l.shift(), 1);
  EXPECT_EQ(l.shift(), 2);
  EXPECT_EQ(l.shift(), 3);
  EXPECT_TRUE(l.is_empty());
  EXPECT_TRUE(l.first().is_null());
  EXPECT_TRUE(l.last().is_null());
  EXPECT_EQ(l.shift(), 0);  // an empty list gives a default value
  l.unshift(9);
  EXPECT_EQ(values(l), (std::vector<int>{9}));
}

TEST(ListTest, FreedNodesAreReused) {
  List<int> l;
  for (int i = 0; i < 3; i++) l.push(i);
  auto mid = l.first();
  ++mid;
  List<int>::Node* freed = mid.node();
  l.erase(mid);
  EXPECT_EQ(l.push(7).node(), freed);
  EXPECT_EQ(values(l), (std::vector<int>{0, 2, 7}));
  std::vector<List<int>::Node*> nodes;
  for (auto it = l.begin(); it != l.end(); ++it) nodes.push_back(it.node());
  l.clear();
  EXPECT_EQ(l.length(), 0u);
  for (int i = 0; i < 3; i++) {
    List<int>::Node* n = l.push(i).node();
    EXPECT_NE(std::find(nodes.begin(), nodes.end(), n), nodes.end());
  }
}

TEST(ListTest, ManyNodes) {
  List<int> l;
  const int n = 20000;
  for (int i = 0; i < n; i++) l.push(i);
  EXPECT_EQ(l.length(), (uint32_t)n);
  int i = 0;
  for (auto it = l.begin(); it != l.end(); i++) it = (i % 2) ? l.erase(it) : ++it;
  std::vector<int> v = values(l);
  ASSERT_EQ(v.size(), (size_t)n / 2);
  for (size_t k = 0; k < v.size(); k++) ASSERT_EQ(v[k], (int)k * 2);
  for (int k = 0; k < n / 2; k++) l.unshift(-k);
  EXPECT_EQ(l.length(), (uint32_t)n);
  EXPECT_EQ(*l.first(), -(n / 2 - 1));
  EXPECT_EQ(*l.last(), n - 2);
}

TEST(ListTest, ValuesAreDestroyedAndMoved) {
  String s("held by the list");
  {
    List<String> l;
    l.push(s);
    l.push(s);
    l.unshift(String("front"));
    EXPECT_EQ(s.ref_count(), 3);
    l.erase(l.last());
    EXPECT_EQ(s.ref_count(), 2);
    String front = l.shift();
    EXPECT_TRUE(front.equals("front"));
    List<String> moved(std::move(l));
    EXPECT_EQ(l.length(), 0u);
    EXPECT_EQ(moved.length(), 1u);
    l.push(String("reused after move"));
    EXPECT_TRUE(l.first()->equals("reused after move"));
    List<String> assigned;
    assigned.push(String("dropped"));
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.first()->shares_core_with(s));
  }
  EXPECT_EQ(s.ref_count(), 1);
}

}  // namespace
