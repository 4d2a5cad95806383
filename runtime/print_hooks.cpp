#include "runtime/print_hooks.h"

#include <algorithm>
#include <cstdio>

#include "runtime/console_output.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace oka::io {

namespace {

CallbackList<PrintCallback> print_callbacks;
CallbackList<PartCallback> part_callbacks;
PrintBracket print_bracket{};
WaitHook wait_hook = nullptr;

template <class Callback>
Callback* allocate_entries(uint32_t capacity) {
    return static_cast<Callback*>(sys::allocate(capacity * sizeof(Callback)));
}

template <class Callback>
void grow(CallbackList<Callback>& list) {
    Callback* entries = allocate_entries<Callback>(list.capacity + kHookListGrowth);
    std::copy_n(list.entries, list.count, entries);
    sys::free(list.entries);
    list.entries = entries;
    list.capacity += kHookListGrowth;
}

template <class Callback>
void append(CallbackList<Callback>& list, Callback callback) {
    if (!callback) return;
    if (list.count == list.capacity) grow(list);
    list.entries[list.count++] = callback;
}

template <class Callback>
void remove_first(CallbackList<Callback>& list, Callback callback) {
    Callback* end = list.entries + list.count;
    Callback* found = std::find(list.entries, end, callback);
    if (!callback || found == end) return;
    std::copy(found + 1, end, found);
    list.count--;
}

}  // namespace

void init_print_hooks() {
    print_callbacks = {allocate_entries<PrintCallback>(kHookListGrowth), 0, kHookListGrowth};
    part_callbacks = {allocate_entries<PartCallback>(kHookListGrowth), 0, kHookListGrowth};
    append(print_callbacks, PrintCallback(print_string));
}

void add_print_hooks(PrintCallback print, PartCallback part) {
    append(print_callbacks, print);
    append(part_callbacks, part);
}

void remove_print_hooks(PrintCallback print, PartCallback part) {
    remove_first(print_callbacks, print);
    remove_first(part_callbacks, part);
}

void call_print_hooks(const Cell* string, bool line) {
    for (uint32_t i = 0; i < print_callbacks.count; i++) print_callbacks.entries[i](string, line);
}

void call_print_part_hooks(const char* text, uint32_t length) {
    for (uint32_t i = 0; i < part_callbacks.count; i++) part_callbacks.entries[i](text, length);
}

const CallbackList<PrintCallback>& print_list() { return print_callbacks; }
const CallbackList<PartCallback>& part_list() { return part_callbacks; }

void set_print_bracket(PrintBracket bracket) { print_bracket = bracket; }

void set_wait_hook(WaitHook hook) { wait_hook = hook; }
bool wait_in_view(double seconds) { return wait_hook && wait_hook(seconds); }

PrintScope::PrintScope() {
    if (print_bracket.begin) print_bracket.begin();
}

PrintScope::~PrintScope() {
    std::fflush(stdout);
    if (print_bracket.end) print_bracket.end();
}

void print_string(const Cell* string, bool line) {
    PrintScope scope;
    BufPtr<SeriesBuffer> buffer = mem::buffer(string->node());
    uint32_t unit = buffer->unit();
    if (unit != 1 && unit != 2 && unit != 4) {
        sys::print_items({"Error: unknown string encoding: ", int32_t(unit)});
        return;
    }
    Addr start = buffer->offset + string->head() * unit;
    uint32_t byte_length = start < buffer->tail ? buffer->tail - start : 0;  // a head past the tail: nothing
    console::write_text(mem::ptr(start), byte_length, int(unit), line);
}

}  // namespace oka::io

namespace oka::sys {

// Fixed, so that every build of the same sources is identical.
const char* build_date() { return "17-Nov-2026/17:57:26"; }

}  // namespace oka::sys
