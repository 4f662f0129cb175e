/*
 * A doubly linked list of untyped pointers.
 *
 * The list owns its items but never its elements: whoever adds an element
 * frees it. The list has no lock of its own; a list shared between threads is
 * guarded by a mutex of its owner.
 */
#ifndef INKORA_LIST_H
#define INKORA_LIST_H

#include <stdint.h>

#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct inkora_list_item {
    void* ptr;                     /* the element, not owned by the list */
    struct inkora_list_item* next; /* following item or NULL */
    struct inkora_list_item* prev; /* preceding item or NULL */
} inkora_list_item;

typedef struct inkora_list {
    inkora_list_item* first; /* NULL when the list is empty */
    inkora_list_item* last;  /* NULL when the list is empty */
} inkora_list;

/* Returns a new empty list (zero-filled), or NULL when memory runs out. */
INKORA_API inkora_list* inkora_create_list(void);

/* Frees every item and then the list; the elements are untouched. NULL: nothing. */
INKORA_API void inkora_list_free(inkora_list* list);

/* Appends ptr at the tail. Returns the new item, or NULL for a NULL list. */
INKORA_API inkora_list_item* inkora_list_add(inkora_list* list, void* ptr);

/* Unlinks and frees item. Returns 1 on success, 0 if list or item is NULL. */
INKORA_API uint8_t inkora_list_remove(inkora_list* list, inkora_list_item* item);

/* Number of items; 0 for a NULL list. */
INKORA_API uint32_t inkora_list_count(const inkora_list* list);

/* First item whose ptr equals ptr (pointer comparison), else NULL. */
INKORA_API inkora_list_item* inkora_list_find(const inkora_list* list, const void* ptr);

/* Removes the first item holding ptr. Returns 1 if one was removed, else 0. */
INKORA_API uint8_t inkora_list_remove_ptr(inkora_list* list, const void* ptr);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_LIST_H */
