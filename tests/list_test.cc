// The engine's doubly linked list: order, links in both directions, and the
// list pointer each operation hands back.
#include <vector>

#include <gtest/gtest.h>

#include "tlx_system.h"

namespace {

int items[8] = {0, 1, 2, 3, 4, 5, 6, 7};

// Walks forward from the first node and checks every back link on the way.
std::vector<int> Values(tlx_list* list) {
  std::vector<int> values;
  tlx_list* previous = nullptr;
  for (tlx_list* node = tlx_list_first(list); node != nullptr; node = node->next) {
    EXPECT_EQ(previous, node->prev);
    values.push_back(*static_cast<int*>(node->data));
    previous = node;
  }
  return values;
}

tlx_list* Build(std::initializer_list<int> values) {
  tlx_list* list = nullptr;
  for (int v : values) list = tlx_list_append(list, &items[v]);
  return list;
}

TEST(ListTest, EmptyList) {
  EXPECT_EQ(nullptr, tlx_list_first(nullptr));
  EXPECT_EQ(nullptr, tlx_list_last(nullptr));
  EXPECT_EQ(nullptr, tlx_list_nth(nullptr, 0));
  EXPECT_EQ(0u, tlx_list_length(nullptr));
  EXPECT_EQ(nullptr, tlx_list_remove(nullptr, &items[0]));
  tlx_list_free(nullptr);
}

TEST(ListTest, AppendKeepsTheFirstNodePrependReturnsTheNewOne) {
  tlx_list* list = tlx_list_append(nullptr, &items[1]);
  ASSERT_NE(nullptr, list);
  tlx_list* first = list;
  EXPECT_EQ(first, tlx_list_append(list, &items[2]));
  list = tlx_list_prepend(list, &items[0]);
  EXPECT_NE(first, list);
  EXPECT_EQ(nullptr, list->prev);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), Values(list));
  EXPECT_EQ(3u, tlx_list_length(list->next));  // counted from the first node
  EXPECT_EQ(&items[2], tlx_list_last(list)->data);
  EXPECT_EQ(list, tlx_list_first(tlx_list_last(list)));
  EXPECT_EQ(&items[1], tlx_list_nth(list->next->next, 1)->data);  // index from the first
  EXPECT_EQ(nullptr, tlx_list_nth(list, 3));
  // Prepending through a middle node still puts the new node first.
  list = tlx_list_prepend(list->next, &items[7]);
  EXPECT_EQ((std::vector<int>{7, 0, 1, 2}), Values(list));
  tlx_list_free(list);
}

TEST(ListTest, InsertAtIndex) {
  struct Case {
    int32_t index;
    std::vector<int> expected;
    bool new_first;
  };
  const Case cases[] = {
      {0, {7, 1, 2, 3}, true},  {1, {1, 7, 2, 3}, false}, {2, {1, 2, 7, 3}, false},
      {3, {1, 2, 3, 7}, false}, {7, {1, 2, 3, 7}, false}, {-1, {1, 2, 3, 7}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    tlx_list* list = Build({1, 2, 3});
    tlx_list* result = tlx_list_insert(list, &items[7], c.index);
    EXPECT_EQ(c.new_first, result != list);
    if (c.new_first) {
      EXPECT_EQ(&items[7], result->data);
    }
    EXPECT_EQ(c.expected, Values(result));
    tlx_list_free(result);
  }
  tlx_list* single = tlx_list_insert(nullptr, &items[4], 5);
  EXPECT_EQ((std::vector<int>{4}), Values(single));
  tlx_list_free(single);
}

TEST(ListTest, RemoveUnlinksTheFirstMatch) {
  tlx_list* list = Build({1, 2, 1, 3});
  // Not present: unchanged.
  EXPECT_EQ(list, tlx_list_remove(list, &items[6]));
  // Middle match: the list pointer stays.
  EXPECT_EQ(list, tlx_list_remove(list, &items[2]));
  EXPECT_EQ((std::vector<int>{1, 1, 3}), Values(list));
  // The given node itself: its successor comes back.
  tlx_list* second = list->next;
  EXPECT_EQ(second, tlx_list_remove(list, &items[1]));
  list = second;
  EXPECT_EQ((std::vector<int>{1, 3}), Values(list));
  // The walk starts at the given node: an earlier match is not seen.
  EXPECT_EQ(list->next, tlx_list_remove(list->next, &items[1]));
  EXPECT_EQ((std::vector<int>{1, 3}), Values(list));
  list = tlx_list_remove(list, &items[1]);
  list = tlx_list_remove(list, &items[3]);
  EXPECT_EQ(nullptr, list);
}

}  // namespace
