// Doubly linked list of untyped pointers. Items are allocated with calloc so
// that C callers may free lists built here and the other way round is never
// needed: every item is released by this module.

#include "inkora-list.h"

#include <cstdlib>

extern "C" {

inkora_list* inkora_create_list(void) {
    return static_cast<inkora_list*>(std::calloc(1, sizeof(inkora_list)));
}

void inkora_list_free(inkora_list* list) {
    if (list == nullptr) {
        return;
    }
    inkora_list_item* item = list->first;
    while (item != nullptr) {
        inkora_list_item* next = item->next;
        std::free(item);
        item = next;
    }
    std::free(list);
}

inkora_list_item* inkora_list_add(inkora_list* list, void* ptr) {
    if (list == nullptr) {
        return nullptr;
    }
    auto* item = static_cast<inkora_list_item*>(std::calloc(1, sizeof(inkora_list_item)));
    if (item == nullptr) {
        return nullptr;
    }
    item->ptr = ptr;
    item->prev = list->last;
    if (list->last != nullptr) {
        list->last->next = item;
    } else {
        list->first = item;
    }
    list->last = item;
    return item;
}

uint8_t inkora_list_remove(inkora_list* list, inkora_list_item* item) {
    if (list == nullptr || item == nullptr) {
        return 0;
    }
    if (item->prev != nullptr) {
        item->prev->next = item->next;
    }
    if (item->next != nullptr) {
        item->next->prev = item->prev;
    }
    if (list->first == item) {
        list->first = item->next;
    }
    if (list->last == item) {
        list->last = item->prev;
    }
    std::free(item);
    return 1;
}

uint32_t inkora_list_count(const inkora_list* list) {
    uint32_t count = 0;
    if (list == nullptr) {
        return 0;
    }
    for (const inkora_list_item* item = list->first; item != nullptr; item = item->next) {
        ++count;
    }
    return count;
}

inkora_list_item* inkora_list_find(const inkora_list* list, const void* ptr) {
    if (list == nullptr) {
        return nullptr;
    }
    for (inkora_list_item* item = list->first; item != nullptr; item = item->next) {
        if (item->ptr == ptr) {
            return item;
        }
    }
    return nullptr;
}

uint8_t inkora_list_remove_ptr(inkora_list* list, const void* ptr) {
    inkora_list_item* item = inkora_list_find(list, ptr);
    if (item == nullptr) {
        return 0;
    }
    return inkora_list_remove(list, item);
}

} // extern "C"
