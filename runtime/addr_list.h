/* Doubly linked lists threaded through records of the language memory by their 32-bit addresses.
   A record type has `next` and `prev` address fields; the list is its head and tail addresses. */
#pragma once

#include "runtime/memory.h"

namespace oka {

template <class Record>
void list_append(Addr item, Addr& head, Addr& tail) {
    Record* r = mem::ptr<Record>(item);
    r->prev = tail;
    r->next = 0;
    if (tail)
        mem::ptr<Record>(tail)->next = item;
    else
        head = item;
    tail = item;
}

template <class Record>
void list_unlink(Addr item, Addr& head, Addr& tail) {
    Record* r = mem::ptr<Record>(item);
    if (r->prev)
        mem::ptr<Record>(r->prev)->next = r->next;
    else
        head = r->next;
    if (r->next)
        mem::ptr<Record>(r->next)->prev = r->prev;
    else
        tail = r->prev;
}

}  // namespace oka
