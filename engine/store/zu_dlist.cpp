#include "store/zu_dlist.h"

#include <stdio.h>
#include <stdlib.h>

// One node from the heap, contents unset; none when memory is short.
static zu_dlist_node *zu_dlist_allocate(void) {
    return static_cast<zu_dlist_node *>(malloc(sizeof(zu_dlist_node)));
}

static void zu_dlist_release(zu_dlist_node *node) {
    free(node);
}

zu_dlist *zu_dlist_new(void) {
    zu_dlist *list = static_cast<zu_dlist *>(malloc(sizeof(zu_dlist)));
    if (!list) return nullptr;
    list->count = 0;
    list->head = nullptr;
    list->tail = nullptr;
    return list;
}

void zu_dlist_delete(zu_dlist *list) {
    if (!list) return;
    zu_dlist_node *node = list->head;
    while (node) {
        zu_dlist_node *next = node->next;
        zu_dlist_release(node);
        node = next;
    }
    free(list);
}

zu_dlist *zu_dlist_push_end(zu_dlist *list, const zu_event *item) {
    if (!list || !item) return nullptr;
    zu_dlist_node *node = zu_dlist_allocate();
    if (!node) return nullptr;
    node->item = *item;
    node->next = nullptr;
    node->prev = list->tail;
    if (list->tail) {
        list->tail->next = node;
    } else {
        list->head = node;
    }
    list->tail = node;
    list->count++;
    return list;
}

zu_dlist *zu_dlist_push_front(zu_dlist *list, const zu_event *item) {
    if (!list || !item) return nullptr;
    zu_dlist_node *node = zu_dlist_allocate();
    if (!node) return nullptr;
    node->item = *item;
    node->prev = nullptr;
    node->next = list->head;
    if (list->head) {
        list->head->prev = node;
    } else {
        list->tail = node;
    }
    list->head = node;
    list->count++;
    return list;
}

int zu_dlist_pop_end(zu_dlist *list, zu_event *out) {
    if (!list || !out || !list->tail) return 0;
    zu_dlist_node *node = list->tail;
    *out = node->item;
    list->tail = node->prev;
    if (list->tail) list->tail->next = nullptr;
    if (list->head == node) list->head = nullptr;
    list->count--;
    zu_dlist_release(node);
    return 1;
}

int zu_dlist_pop_front(zu_dlist *list, zu_event *out) {
    if (!list || !out || !list->head) return 0;
    zu_dlist_node *node = list->head;
    *out = node->item;
    list->head = node->next;
    if (list->head) list->head->prev = nullptr;
    if (list->tail == node) list->tail = nullptr;
    list->count--;
    zu_dlist_release(node);
    return 1;
}

zu_dlist_node *zu_dlist_begin(const zu_dlist *list) {
    return list ? list->head : nullptr;
}

zu_dlist_node *zu_dlist_end(const zu_dlist *list) {
    return list ? list->tail : nullptr;
}

zu_dlist_node *zu_dlist_next(const zu_dlist_node *node) {
    return node ? node->next : nullptr;
}

zu_dlist_node *zu_dlist_prev(const zu_dlist_node *node) {
    return node ? node->prev : nullptr;
}

int zu_dlist_is_end(const zu_dlist_node *node) {
    return node == nullptr;
}

int zu_dlist_item(const zu_dlist_node *node, zu_event *out) {
    if (!node || !out) return 0;
    *out = node->item;
    return 1;
}

zu_dlist_node *zu_dlist_remove_item(zu_dlist *list, zu_dlist_node *node, zu_event *out) {
    if (!list || !node || !out) return nullptr;
    // Unlinking a node of another list (or a released one) would corrupt both
    // lists; the event queue is short, so the walk that rules it out is cheap.
    const zu_dlist_node *walk = list->head;
    while (walk && walk != node) walk = walk->next;
    if (!walk) return nullptr;

    *out = node->item;
    zu_dlist_node *successor = node->next;
    if (list->head == node) list->head = node->next;
    if (list->tail == node) list->tail = node->prev;
    if (node->next) node->next->prev = node->prev;
    if (node->prev) node->prev->next = node->next;
    list->count--;
    zu_dlist_release(node);
    return successor;
}

int32_t zu_dlist_length(const zu_dlist *list) {
    return list ? list->count : 0;
}

void dump_list(const zu_dlist *list) {
    if (!list) {
        printf("list is NULL\n");
        return;
    }
    printf("dlist={%p,%p}->", static_cast<void *>(list->head), static_cast<void *>(list->tail));
    for (const zu_dlist_node *node = list->head; node; node = node->next) {
        printf("%p{n=%p,p=%p}->", static_cast<const void *>(node), static_cast<void *>(node->next),
               static_cast<void *>(node->prev));
    }
    printf("|\n");
}
