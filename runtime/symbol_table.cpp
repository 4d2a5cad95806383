#include "runtime/symbol_table.h"

#include "runtime/hashtable.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"
#include "runtime/root.h"

namespace oka::symbol {

namespace {

constexpr uint32_t kInitialSymbols = 4000;

}  // namespace

void init_table() {
    runtime::register_root(&table);
    table = alloc::alloc_cells(kInitialSymbols);
    Cell symbols = Cell::of(Type::Block).set_node(table);
    index = hashtable::init(kInitialSymbols, &symbols, hashtable::kNames);
}

void keep_in_images() { image_state::keep(index); }

uint32_t lookup(const uint8_t* name, uint32_t length, bool ignore_case) {
    return hashtable::symbol_lookup(index, name, length, ignore_case);
}

uint32_t resolve(uint32_t id) {
    int32_t alias = mem::ptr<Cell>(mem::buffer(table)->offset)[id - 1].alias();
    return alias > 0 ? uint32_t(alias) : id;
}

}  // namespace oka::symbol
