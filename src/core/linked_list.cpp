// The intrusive doubly linked list: a head and a tail sentinel with the nodes between.
#include "gamelib/core.h"

namespace gamelib {

void InitLinkedList(LinkedListNode* head, LinkedListNode* tail) {
  if (head == nullptr || tail == nullptr) return;
  head->prev = nullptr;
  head->next = tail;
  tail->prev = head;
  tail->next = nullptr;
}

void AddLinkedListNode(LinkedList* list, LinkedListNode* node, int value, void* data) {
  if (list == nullptr || node == nullptr) return;
  // A zero-filled list has never been set up; do it here instead of following nulls.
  if (list->tail.prev == nullptr || list->head.next == nullptr) InitLinkedList(&list->head, &list->tail);
  node->value = value;
  node->data = data;
  LinkedListNode* before = list->tail.prev;
  node->prev = before;
  node->next = &list->tail;
  before->next = node;
  list->tail.prev = node;
}

void RemoveLinkedListNode(LinkedListNode* node) {
  if (node == nullptr) return;
  // Only a node with both neighbours is linked: an unlinked node (null links) and a
  // sentinel are left alone, so a second removal does nothing.
  if (node->prev == nullptr || node->next == nullptr) return;
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->prev = nullptr;
  node->next = nullptr;
}

}  // namespace gamelib
