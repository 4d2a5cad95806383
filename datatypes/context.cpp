#include "datatypes/context.h"

#include <algorithm>
#include <vector>

#include "datatypes/cycles.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/types.h"

namespace oka::_context {

namespace {

Node word_table(Node context) { return context_cell(context)->words(); }

bool values_on_stack(Node context) { return context_cell(context)->header & kValuesOnStack; }

Node values_node(Node context) { return context_cell(context)->values(); }

bool is_self(uint32_t symbol) { return symbol == words::id(Sym::self); }

BufPtr<Cell> value_at(Node context, int32_t position) { return _context::value_at(*context_cell(context), position); }

// Appends an unset value cell to a context's values block.
void append_unset_value(Node context) { unset::make_at(alloc::alloc_tail_cell(values_node(context)).get()); }

// A new word's value is appended after the word: when the values block is full, its room is made before
// a new word goes in, so that a failed allocation leaves the context as it was, never with a word that
// has no value. Most words find room: the lookup that tells a new word stays out of their way.
[[gnu::noinline]] void make_room_for_new_value(Node context, uint32_t symbol, bool ignore_case) {
    if (find_word(context, symbol, ignore_case) < 0) alloc::reserve_tail_cell(values_node(context));
}

void make_room_for_value(Node context, uint32_t symbol, bool ignore_case) {
    BufPtr<SeriesBuffer> values = mem::buffer(values_node(context));
    if (values->tail == values->data_end()) make_room_for_new_value(context, symbol, ignore_case);
}

void rebind_words(Node context) {
    BufPtr<SeriesBuffer> b = mem::buffer(words_node(context));
    for (Cell* w = mem::ptr<Cell>(b->offset); w < mem::ptr<Cell>(b->tail); w++) w->set_context(context);
}

[[noreturn]] void fire_with_word(Err id, const Cell& word) {
    Cell copy = word;
    fire(id, &copy);
}

// The positions of a context's words by canonical symbol id, for binding a block to it: one read per
// word met instead of a probe of the word table. The table is filled from the context's words when
// made and emptied again when left, so that it is all zeros between uses; binding allocates nothing
// and runs no code of the language, so one table serves every bind.
class PositionTable {
public:
    explicit PositionTable(Node context) : context_(context) {
        uint32_t symbols = mem::buffer(symbol::table)->length() + 1;
        if (positions_.size() < symbols) positions_.resize(std::max<size_t>(symbols, 2 * positions_.size()));
        mark(true);
    }
    ~PositionTable() { mark(false); }
    PositionTable(const PositionTable&) = delete;
    PositionTable& operator=(const PositionTable&) = delete;

    int32_t find(uint32_t symbol) const { return positions_[symbol::resolve(symbol)] - 1; }

    // Filling and emptying the table costs a step per word of the context, which pays when the block
    // holds a fair share of that many words. Not for the global context, the largest, which holds
    // letter-case variants of one word: there the word table's probe decides which one a word binds to.
    static bool pays(Node context, const Cell& block) {
        return context != global && word_count(context) <= kWordsPerCell * (series::rs_length_q(block) + kSlack);
    }

private:
    static constexpr uint32_t kWordsPerCell = 8, kSlack = 8;

    // A letter-case variant met again keeps the position of the word met first.
    void mark(bool fill) {
        BufPtr<SeriesBuffer> b = mem::buffer(words_node(context_));
        int32_t position = 0;
        for (Cell* w = mem::ptr<Cell>(b->offset); w < mem::ptr<Cell>(b->tail); w++) {
            int32_t& entry = positions_[symbol::resolve(w->symbol())];
            position++;
            if (!fill || !entry) entry = fill ? position : 0;
        }
    }

    Node context_;
    static inline std::vector<int32_t> positions_;
};

// Binds the words of a block, and of the blocks, parens and paths inside it, that `find` finds in the
// context (their position, or -1).
template <class Find>
void bind_deep(const Cell& block, Node context, bool self, const Find& find) {
    Node node = block.node();
    if (cycles::find_q(node)) return;
    mem::code_changing(node);  // binding rewrites the words of code in place
    cycles::Scope scope(block);
    // Binding never allocates, so the walk may hold the buffer.
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    for (Cell* cell = mem::ptr<Cell>(b->offset) + block.head(); cell < mem::ptr<Cell>(b->tail); cell++) {
        switch (cell->type()) {
        case Type::Word:
            if (self && is_self(cell->symbol())) {
                cell->set_context(context);
                cell->set_position(-1);
                break;
            }
            [[fallthrough]];
        case Type::SetWord:
        case Type::LitWord:
        case Type::GetWord:
        case Type::Refinement:
            if (int32_t position = find(cell->symbol()); position >= 0) {
                cell->set_context(context);
                cell->set_position(position);
            }
            break;
        default:
            if (is_a(cell->type(), TypeClass::any_block)) bind_deep(*cell, context, self, find);
        }
    }
}

}  // namespace

void init() { datatype::register_(Type::Context, {}); }

void make_global() {
    global = create(kGlobalSize, 0, 0, kGlobal);
    runtime::register_root(&global);
}

Node words_node(Node context) { return hashtable::record(word_table(context))->values; }

BufPtr<Cell> word_at(Node context, uint32_t position) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(words_node(context))->offset) + position);
}

uint32_t word_count(Node context) { return mem::buffer(words_node(context))->length(); }

Node create(uint32_t size, uint32_t flags, Node source, Kind kind) {
    OKA_ASSERT(!(flags & ~(kValuesOnStack | kHasSelf)));
    if (size == 0) size = 1;
    Node context = alloc::alloc_unset_cells(2);
    stack::Root root(context);
    mem::buffer(context)->tail += 2 * sizeof(Cell);
    Node table = source ? hashtable::copy(word_table(source), alloc::copy_series(words_node(source)))
                        : hashtable::init(size, nullptr, hashtable::kNames);
    // A context! cell from here on, so that the collector keeps the table while the values are made.
    *context_cell(context) = Cell::of(Type::Context, kind << kKindShift | flags).set_words(table);
    if (source) rebind_words(context);
    if (!(flags & kValuesOnStack)) {
        Node values = alloc::alloc_unset_cells(size);
        context_cell(context)->set_values(values);
    }
    return context;
}

Node make(const Cell& spec) {
    Cell block = spec;
    Node context = create(series::rs_length_q(block), kValuesOnStack, 0, kFunction);
    stack::Root root(context);
    for (uint32_t i = block.head(); i < series::rs_buffer_length_q(block); i++) {
        Cell value = mem::ptr<Cell>(mem::buffer(block.node())->offset)[i];  // add_word may move the buffer
        switch (value.type()) {
        case Type::Word:
        case Type::GetWord:
        case Type::LitWord:
        case Type::Refinement: {
            int32_t position;
            add_word(context, value.symbol(), true, position);
            break;
        }
        default: break;
        }
    }
    return context;
}

Node clone(Cell* value, Kind kind) {
    Node source = value->context();
    const Cell& cell = *context_cell(source);
    Node context = create(word_count(source), cell.header & (kValuesOnStack | kHasSelf), source, kind);
    value->set_context(context);
    return context;
}

int32_t find_word(Node context, uint32_t symbol, bool ignore_case) {
    int32_t unused;
    return hashtable::context_lookup(word_table(context), symbol, ignore_case, 0, unused);
}

int32_t add_word(Node context, uint32_t symbol, bool ignore_case, int32_t& position) {
    return hashtable::context_lookup(word_table(context), symbol, ignore_case, context, position);
}

int32_t add_word_unset(Node context, const Cell& word) {
    if (!values_on_stack(context)) make_room_for_value(context, word.symbol(), true);
    int32_t position;
    int32_t found = add_word(context, word.symbol(), true, position);
    if (found >= 0) return found;
    if (!values_on_stack(context)) append_unset_value(context);
    return position;
}

void set_or_add(Node context, const Cell& word, const Cell& value) {
    Cell copy = value;
    *value_at(context, add_word_unset(context, word)) = copy;
}

BufPtr<Cell> get_unresolved(const Cell& word) {
    if (word.position() >= 0) fire_with_word(Err::script_not_in_context, word);
    if (!is_self(word.symbol())) fire_with_word(Err::script_no_value, word);
    return self_cell(word.context());
}

BufPtr<Cell> set_in_any(Cell* word, const Cell& value, Node context, bool notify) {
    Cell copy = value;
    if (word->position() < 0) {
        int32_t position = find_word(context, word->symbol(), false);
        if (position < 0) position = add_word_unset(context, *word);
        word->set_position(position);
    }
    if (!context_cell(context)->values()) fire_with_word(Err::script_not_defined, *word);
    int32_t position = word->position();
    if (!values_on_stack(context) && kind_of(*context_cell(context)) == kObject) {
        object::assign(context, uint32_t(position), *word, copy, notify);
        return value_at(context, position);
    }
    BufPtr<Cell> slot = value_at(context, position);
    *slot = copy;
    return slot;
}

BufPtr<Cell> get_in(uint32_t symbol, Node context) {
    if (values_on_stack(context)) context = global;
    int32_t position = find_word(context, symbol, true);
    OKA_ASSERT(position >= 0);
    return value_at(context, position);
}

Cell add_global(uint32_t symbol) { return add_global_word(symbol, Spelling::exact); }

Cell add_global_word(uint32_t symbol, Spelling spelling) {
    bool ignore_case = spelling == Spelling::any_case;
    make_room_for_value(global, symbol, ignore_case);
    int32_t position;
    int32_t found = add_word(global, symbol, ignore_case, position);
    Cell entry;
    if (found >= 0) {
        entry = *word_at(global, uint32_t(found));
        // Another spelling asked for: a word of that spelling sharing the entry's value.
        if (ignore_case && entry.symbol() != symbol) entry.set_symbol(symbol);
    } else {
        // A new letter-case variant shares the value cell of the variant met first.
        if (symbol::resolve(symbol) != symbol) {
            int32_t first = find_word(global, symbol, true);
            word_at(global, uint32_t(position))->set_position(word_at(global, uint32_t(first))->position());
        }
        append_unset_value(global);
        entry = *word_at(global, uint32_t(position));
    }
    if (collecting_new_words) *alloc::alloc_tail(runtime::root) = entry;
    return entry;
}

int32_t bind_word(Node context, Cell* word) {
    int32_t position = find_word(context, word->symbol(), true);
    if (position >= 0) {
        word->set_context(context);
        word->set_position(position);
    }
    return position;
}

void bind(const Cell& block, Node context, bool self) {
    if (PositionTable::pays(context, block)) {
        PositionTable table(context);
        bind_deep(block, context, self, [&table](uint32_t symbol) { return table.find(symbol); });
    } else {
        bind_deep(block, context, self, [context](uint32_t symbol) { return find_word(context, symbol, true); });
    }
}

bool collect_set_words(Node context, Cell* block) {
    uint32_t length = series::rs_buffer_length_q(*block);
    if (block->head() > length) block->set_head(length);
    uint32_t before = word_count(context);
    for (uint32_t i = block->head(); i < series::rs_buffer_length_q(*block); i++) {
        Cell value = mem::ptr<Cell>(mem::buffer(block->node())->offset)[i];
        if (value.is(Type::SetWord)) add_word_unset(context, value);
    }
    return word_count(context) > before;
}

}  // namespace oka::_context
