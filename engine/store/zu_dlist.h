// The engine's doubly linked list of event records, copied by value. The list
// owns its nodes and the item copies inside them, never what an item points to.
// Every operation accepts none (null) arguments without faulting.
#ifndef ZU_DLIST_H
#define ZU_DLIST_H

#include <stdint.h>

#include "zu.h"

struct zu_dlist_node {
    zu_event item;        // the node's own copy of the record
    zu_dlist_node *next;  // none at the tail
    zu_dlist_node *prev;  // none at the head
};

// Invariants: count 0 <=> head and tail none; head->prev and tail->next none;
// walking next from head reaches tail after count nodes.
struct zu_dlist {
    int32_t count;
    zu_dlist_node *head;
    zu_dlist_node *tail;
};

// A new empty list, or none when memory is short.
zu_dlist *zu_dlist_new(void);
// Releases every node and the list; ignores none.
void zu_dlist_delete(zu_dlist *list);

// Append (or prepend) a copy of item. Returns list, or none with the list
// unchanged when list or item is none or no node can be allocated.
zu_dlist *zu_dlist_push_end(zu_dlist *list, const zu_event *item);
zu_dlist *zu_dlist_push_front(zu_dlist *list, const zu_event *item);

// Copy the last (first) item to out and drop its node: 1. Returns 0 touching
// nothing when list or out is none or the list is empty.
int zu_dlist_pop_end(zu_dlist *list, zu_event *out);
int zu_dlist_pop_front(zu_dlist *list, zu_event *out);

// Walking: begin is the head node, end the tail node itself (not a position
// past it); a walk stops at none, which zu_dlist_is_end reports as 1.
zu_dlist_node *zu_dlist_begin(const zu_dlist *list);
zu_dlist_node *zu_dlist_end(const zu_dlist *list);
zu_dlist_node *zu_dlist_next(const zu_dlist_node *node);
zu_dlist_node *zu_dlist_prev(const zu_dlist_node *node);
int zu_dlist_is_end(const zu_dlist_node *node);

// Copies the node's item to out: 1; 0 when node or out is none.
int zu_dlist_item(const zu_dlist_node *node, zu_event *out);

// Copies the node's item to out, drops the node and returns its successor
// (none after the tail). Returns none with the list unchanged when list, node
// or out is none, or when node is not a node of this list.
zu_dlist_node *zu_dlist_remove_item(zu_dlist *list, zu_dlist_node *node, zu_event *out);

// Number of nodes, kept (constant time); 0 for none.
int32_t zu_dlist_length(const zu_dlist *list);

// Prints the list's links on standard output: "list is NULL" for none, else
// "dlist={head,tail}->", "node{n=next,p=prev}->" per node, and "|".
void dump_list(const zu_dlist *list);

#endif
