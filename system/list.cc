// The doubly linked list of the engine's frame list. Nodes are the list's,
// elements are the caller's.
#include <stdlib.h>

#include "tlx_system.h"

namespace {

tlx_list* NewNode(void* data) {
  tlx_list* node = static_cast<tlx_list*>(malloc(sizeof(tlx_list)));
  if (node == nullptr) return nullptr;
  node->data = data;
  node->next = nullptr;
  node->prev = nullptr;
  return node;
}

void FreeNode(tlx_list* node) {
  node->data = nullptr;
  node->next = nullptr;
  node->prev = nullptr;
  free(node);
}

}  // namespace

extern "C" {

tlx_list* tlx_list_first(tlx_list* list) {
  if (list == nullptr) return nullptr;
  while (list->prev != nullptr) list = list->prev;
  return list;
}

tlx_list* tlx_list_last(tlx_list* list) {
  if (list == nullptr) return nullptr;
  while (list->next != nullptr) list = list->next;
  return list;
}

tlx_list* tlx_list_nth(tlx_list* list, uint32_t index) {
  list = tlx_list_first(list);
  while (list != nullptr && index > 0) {
    list = list->next;
    --index;
  }
  return list;
}

tlx_list* tlx_list_append(tlx_list* list, void* data) {
  tlx_list* node = NewNode(data);
  if (node == nullptr) return list;
  if (list == nullptr) return node;
  tlx_list* last = tlx_list_last(list);
  last->next = node;
  node->prev = last;
  return list;
}

tlx_list* tlx_list_prepend(tlx_list* list, void* data) {
  tlx_list* node = NewNode(data);
  if (node == nullptr) return list;
  tlx_list* first = tlx_list_first(list);
  if (first != nullptr) {
    first->prev = node;
    node->next = first;
  }
  return node;
}

tlx_list* tlx_list_insert(tlx_list* list, void* data, int32_t index) {
  tlx_list* at = index < 0 ? nullptr : tlx_list_nth(list, static_cast<uint32_t>(index));
  if (at == nullptr) return tlx_list_append(list, data);
  tlx_list* node = NewNode(data);
  if (node == nullptr) return list;
  node->next = at;
  node->prev = at->prev;
  if (at->prev != nullptr) at->prev->next = node;
  at->prev = node;
  return node->prev == nullptr ? node : list;
}

tlx_list* tlx_list_remove(tlx_list* list, const void* data) {
  for (tlx_list* node = list; node != nullptr; node = node->next) {
    if (node->data != data) continue;
    tlx_list* result = node == list ? node->next : list;
    if (node->prev != nullptr) node->prev->next = node->next;
    if (node->next != nullptr) node->next->prev = node->prev;
    FreeNode(node);
    return result;
  }
  return list;
}

void tlx_list_free(tlx_list* list) {
  if (list != nullptr && list->prev != nullptr) list->prev->next = nullptr;
  while (list != nullptr) {
    tlx_list* next = list->next;
    FreeNode(list);
    list = next;
  }
}

uint32_t tlx_list_length(tlx_list* list) {
  uint32_t count = 0;
  for (list = tlx_list_first(list); list != nullptr; list = list->next) ++count;
  return count;
}

}  // extern "C"
