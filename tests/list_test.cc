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
  for (tlx_list* node = tlx_list_first(list); node != nullptr; previous = node, node = node->next) {
    EXPECT_EQ(previous, node->prev);
    values.push_back(*static_cast<int*>(node->data));
  }
  return values;
}

TEST(ListTest, BuildAndQueryFromAnyNode) {
  tlx_list* list = tlx_list_append(tlx_list_append(nullptr, &items[1]), &items[2]);
  list = tlx_list_prepend(list->next, &items[0]);  // through a middle node: still first
  list = tlx_list_insert(list, &items[7], 0);      // a new first node comes back
  EXPECT_EQ(&items[7], list->data);
  EXPECT_EQ(list, tlx_list_insert(list, &items[6], 2));
  EXPECT_EQ(list, tlx_list_insert(list, &items[5], -1));  // negative or past the end: appended
  EXPECT_EQ(list, tlx_list_insert(list, &items[4], 99));
  EXPECT_EQ((std::vector<int>{7, 0, 6, 1, 2, 5, 4}), Values(list));
  tlx_list* last = tlx_list_last(list);
  EXPECT_EQ(list, tlx_list_first(last));
  EXPECT_EQ(7u, tlx_list_length(last));               // counted from the first node
  EXPECT_EQ(&items[6], tlx_list_nth(last, 2)->data);  // indexed from the first node
  EXPECT_EQ(nullptr, tlx_list_nth(list, 7));
  tlx_list_free(list->next);  // frees the rest and cuts the link to it
  EXPECT_EQ(nullptr, list->next);
  tlx_list_free(list);
}

TEST(ListTest, RemoveUnlinksTheFirstMatchFromTheGivenNodeOn) {
  tlx_list* list = nullptr;
  for (int v : {1, 2, 1, 3}) list = tlx_list_append(list, &items[v]);
  EXPECT_EQ(list, tlx_list_remove(list, &items[6]));  // not present: unchanged
  EXPECT_EQ(list, tlx_list_remove(list, &items[2]));  // a later match: the list pointer stays
  tlx_list* second = list->next;
  EXPECT_EQ(second, tlx_list_remove(list, &items[1]));  // the given node: its successor
  list = second;
  EXPECT_EQ(list->next, tlx_list_remove(list->next, &items[1]));  // an earlier match is not seen
  EXPECT_EQ((std::vector<int>{1, 3}), Values(list));
  list = tlx_list_remove(list, &items[1]);
  EXPECT_EQ(nullptr, tlx_list_remove(list, &items[3]));
  EXPECT_EQ(0u, tlx_list_length(nullptr));
}

}  // namespace
