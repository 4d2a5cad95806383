// OKABIN reference paths: how the reader follows a path to a value decoded before, and how the writer
// records where each shareable value went, so that the value met again is written as a path to it.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/function.h"
#include "datatypes/symbol.h"
#include "runtime/error.h"
#include "services/okabin_internal.h"

namespace oka::okabin {

void Nesting::too_deep() {
    depth_--;
    fire(Err::internal_too_deep);
}

uint32_t append_growing(Node block, const Cell& value) {
    uint32_t index = mem::buffer(block)->length();
    block::rs_append(Cell::of(Type::Block).set_node(block), value);
    return index;
}

namespace {

// Cell i of a series of cells, counted from its buffer's first used cell; a fault past its tail.
Cell cell_at(const Input& in, Node series, uint32_t i, const uint8_t* at) {
    if (!series || i >= mem::buffer(series)->length()) in.fail(at);
    return *block::rs_abs_at(Cell::of(Type::Block).set_node(series), i);
}

// The values whose buffer holds cells a path counts: the block types, hash! and map!.
bool cells_q(Type type) { return type_layout(type) == Layout::cells || type_layout(type) == Layout::hash; }

}  // namespace

Node context_carried(const Cell& value) {
    switch (value.type()) {
    case Type::Word:
    case Type::SetWord:
    case Type::LitWord:
    case Type::GetWord:
    case Type::Refinement:
    case Type::Object:
    case Type::Error:
    case Type::Function: return value.context();
    default: return 0;
    }
}

// Each index selects a cell of a block, a value of a word's or an object's context, a cell of a
// native's spec, or a function's spec (0) or body (1). A function's context keeps its values on the
// data stack, so a path through a word bound to one follows the function instead.
Cell resolve(const Input& in, const std::vector<uint32_t>& path, const uint8_t* at) {
    Cell current = Cell::of(Type::Block).set_node(in.target);
    for (size_t k = 0; k < path.size(); k++) {
        uint32_t i = path[k];
        Type type = current.type();
        if (word_q(type)) {
            if (!current.context()) in.fail(at);
            Cell context = *_context::context_cell(current.context());
            if (!(context.header & kValuesOnStack)) {
                // An error's fields are counted from its first argument, whichever value leads there.
                bool error = _context::self_cell(current.context())->is(Type::Error);
                current = cell_at(in, context.values(), error ? i + 3 : i, at);
                continue;
            }
            current = *_context::self_cell(current.context());
            type = current.type();
            if (type != Type::Function) in.fail(at);
        }
        if (cells_q(type)) {
            current = cell_at(in, current.node(), i, at);
        } else if (type == Type::Native || type == Type::Action) {
            current = cell_at(in, current.spec(), i, at);
        } else if (type == Type::Object || type == Type::Error) {
            Cell context = *_context::context_cell(current.context());
            current = cell_at(in, context.values(), type == Type::Error ? i + 3 : i, at);
        } else if ((type == Type::Function || type == Type::Op) && i == 0) {
            Node spec = current.spec();
            current = k + 1 < path.size() ? cell_at(in, spec, path[++k], at) : Cell::of(Type::Block).set_node(spec);
        } else if (type == Type::Function && i == 1) {
            current = *function::extra(current, function::kBody);
            if (!current.is(Type::Block)) in.fail(at);
        } else {
            in.fail(at);
        }
    }
    return current;
}

// ---- writing ----

uint32_t Output::symbol(uint32_t id) {
    auto [entry, added] = symbol_index.try_emplace(id, uint32_t(symbol_ids.size()));
    if (!added) return entry->second;
    symbol_ids.push_back(id);
    offsets.push_back(uint32_t(strings.size()));
    strings += symbol::name(id);
    strings += '\0';
    if (!compact) strings.resize((strings.size() + 7) & ~size_t(7), '\0');
    return entry->second;
}

const uint32_t* Output::find(Node key) const {
    auto entry = written.find(key);
    return entry == written.end() ? nullptr : paths.data() + entry->second;
}

void Output::enter(Node key) {
    path_stack.push_back(counter);
    counter = 0;
    written.emplace(key, uint32_t(paths.size()));
    paths.push_back(uint32_t(path_stack.size()));
    paths.insert(paths.end(), path_stack.begin(), path_stack.end());
}

void Output::leave() {
    counter = path_stack.back();
    path_stack.pop_back();
}

Node key_of(const Cell& value) {
    Kind kind = kind_of(value.type());
    if (series_kind_q(kind)) return value.node();
    switch (kind) {
    case Kind::word:
    case Kind::object:
    case Kind::error:
    case Kind::function: return value.context() == _context::global ? 0 : value.context();
    default: return 0;
    }
}

// A context whose owner has a record (an object, an error, a function) travels with the word; the
// global context needs none. Any other binding (an unbound word, a native's context) has no form that
// would decode as the same binding, and writing the word bare would rebind it to the global context.
Cell owner_of_word(const Cell& word) {
    if (word.context() == _context::global) return Cell::of(Type::Unset);
    if (word.context()) {
        Cell owner = *_context::self_cell(word.context());
        bool carried = owner.is(Type::Object) || owner.is(Type::Error) || owner.is(Type::Function);
        if (carried && owner.context() == word.context()) return owner;
    }
    fire(Err::access_no_codec, &word);
}

}  // namespace oka::okabin
