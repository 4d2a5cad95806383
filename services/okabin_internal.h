/* What the files of the OKABIN codec share: the record kind of each datatype, the reader's input and
   symbol table, the writer's output with its symbol table and reference bookkeeping, the builders
   that make values from the fields a form read (okabin_build.cpp), and the readers and writers of the
   two record forms (okabin_compact.cpp, okabin_plain.cpp).

   Rules: the reader checks every read against the end of the payload before it makes the read
   (Input::need), and reports a fault at the position of the read that failed. A form only reads
   fields; the builders make every value, so that both forms keep the same checks. The writer keeps
   its output in C++ memory, so that encoding allocates nothing in the language memory until the end. */
#pragma once

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/types.h"
#include "services/okabin.h"

namespace oka::okabin {

// What a type's record holds (services/okabin_records.def).
enum class Kind : uint8_t {
    invalid,
    no_codec,
    datatype,
    empty,
    logic,
    char_,
    integer,
    float_,
    percent,
    pair,
    point2d,
    point3d,
    date,
    typeset,
    tuple,
    money,
    issue,
    word,
    cells,
    hash,
    map,
    text,
    binary,
    vector,
    image,
    bitset,
    error,
    native,
    op,
    context,
    object,
    function,
};

// The kinds whose record holds a series: its buffer is what references share.
constexpr bool series_kind_q(Kind kind) {
    return kind == Kind::cells || kind == Kind::hash || kind == Kind::map || kind == Kind::text ||
           kind == Kind::binary || kind == Kind::vector || kind == Kind::image || kind == Kind::bitset;
}

inline constexpr auto kKinds = [] {
    std::array<Kind, kTypeTableSize> kinds{};
#define OKABIN_RECORD(Name, kind) kinds[int(Type::Name)] = Kind::kind;
#include "services/okabin_records.def"
    return kinds;
}();

inline constexpr int kRecordRows = 0
#define OKABIN_RECORD(Name, kind) +1
#include "services/okabin_records.def"
    ;
static_assert(kRecordRows == kTypeCount - 2, "every datatype but symbol! and series! has a record row");

// word!, set-word!, lit-word!, get-word! and refinement!: the types of word records.
inline bool word_q(Type type) { return type >= Type::Word && type <= Type::Refinement; }

inline Kind kind_of(Type type) { return uint8_t(type) < kTypeTableSize ? kKinds[uint8_t(type)] : Kind::invalid; }

// ---- reading ----

// How a name of the symbol table is written in a value's mold: as a word (and the other words, with their
// marks), or after the "#" of an issue, whose names may be numbers.
enum class Spelling : uint8_t { word = 1, issue = 2 };

struct Input {
    const uint8_t* data = nullptr;  // the container's bytes from its start, or the decompressed rest
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;      // the end of the records
    const uint8_t* payload = nullptr;  // the start of the records, to which the plain form aligns
    uint32_t base = 0;                 // the position in the container of data[0]
    bool codec = true;
    Node target = 0;  // the block receiving the roots, where reference paths start
    uint32_t root_base = 0;
    uint32_t depth = 0;
    // The symbol table: offsets (u32 each), the strings area, and what each symbol of the data has
    // become: its global id (0 until met) and its binding in the global context (no type until a bare
    // word of it is met). The global context only grows while data decodes, so a binding looked up
    // once holds for every later word of that symbol.
    const uint8_t* offsets = nullptr;
    uint32_t symbol_count = 0;
    const uint8_t* strings = nullptr;
    uint32_t strings_size = 0;
    struct Symbol {
        uint32_t id = 0;
        Cell global{0, 0, 0, 0};
        uint8_t spelled = 0;  // the Spelling bits its name was found to have
    };
    std::vector<Symbol> symbols;
    // The reader of one record of the data's form, which appends its value to a block.
    void (*read_record)(Input& in, Node parent) = nullptr;
    // The blocks whose records are being read, with the number they will hold: a value inside one may
    // refer to it at a head its records have not reached yet.
    std::unordered_map<Node, uint32_t> filling;
    class Filling {
    public:
        Filling(Input& in, Node block, uint32_t count) : in_(in), block_(block) { in.filling.emplace(block, count); }
        ~Filling() { in_.filling.erase(block_); }
        Filling(const Filling&) = delete;
        Filling& operator=(const Filling&) = delete;

    private:
        Input& in_;
        Node block_;
    };
    // The length of a series decoded before, or that of a block being read once it is whole.
    uint32_t length_of(const Cell& series) const;

    uint32_t position(const uint8_t* at) const { return uint32_t(at - data) + base + 1; }
    [[noreturn]] void fail(const uint8_t* at) const;
    [[noreturn]] void fail() const { fail(pos); }
    size_t left() const { return size_t(end - pos); }
    void need(size_t n) const {
        if (left() < n) fail();
    }
    uint8_t byte() {
        need(1);
        return *pos++;
    }
    uint32_t u32();
    // The global symbol id of a symbol index of the data, read at `at`, for a value of that spelling.
    // Data from outside (a codec's) may only hold names that the lexer reads back as the same value:
    // a word named `print "x"` would mold as code.
    uint32_t symbol(uint32_t index, const uint8_t* at, Spelling spelling = Spelling::word) {
        if (index < symbol_count && symbols[index].id && (!codec || symbols[index].spelled & uint8_t(spelling)))
            return symbols[index].id;
        return intern(index, at, spelling);
    }
    // The first use of a symbol index, or of a spelling of it: its name checked, interned the first time.
    uint32_t intern(uint32_t index, const uint8_t* at, Spelling spelling);
    // Reads a symbol table of `count` symbols and `size` bytes of names from the position on; a table
    // that does not fit is a fault at `at`, where its header stands.
    void read_symbol_table(uint32_t count, uint32_t size, const uint8_t* container_end, const uint8_t* at);
};

// Raises internal too-deep when the data nests deeper than the run-time's walks can follow.
class Nesting {
public:
    explicit Nesting(uint32_t& depth) : depth_(depth) {
        if (++depth_ >= cycles::kDepth) too_deep();
    }
    ~Nesting() { depth_--; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

private:
    [[noreturn]] void too_deep();
    uint32_t& depth_;
};

// A record as its header announced it: the type, the per-type flag F (compact form), the new-line and
// reference marks, and where it starts (where a fault in it is reported).
struct Record {
    Type type = Type::Void;
    bool flag = false;
    bool new_line = false;
    bool reference = false;
    const uint8_t* at = nullptr;

    uint32_t header() const { return uint8_t(type) | (new_line ? kCellNewLine : 0); }
    // An empty cell of the record's type and line break, for its payload to be set.
    Cell cell() const { return Cell::of(type, new_line ? kCellNewLine : 0); }
};

// The value a reference path leads to from the target block; a path that does not resolve is a fault
// at `at`.
Cell resolve(const Input& in, const std::vector<uint32_t>& path, const uint8_t* at);
// The context a value carries for a word bound to it (a word's, an object's, an error's or a
// function's), or 0.
Node context_carried(const Cell& value);

uint32_t append_growing(Node block, const Cell& value);

// Appends a copy of a value to a block and answers its index. The blocks made here are sized to their
// records at once, so the next cell is nearly always there; a block that must grow takes the general
// path.
inline uint32_t append(Node block, const Cell& value) {
    BufPtr<SeriesBuffer> buffer = mem::buffer(block);
    if (buffer->tail >= buffer->data_end()) return append_growing(block, value);
    uint32_t index = buffer->length();
    *mem::ptr<Cell>(buffer->tail) = value;
    buffer->tail += sizeof(Cell);
    return index;
}

// ---- building values from records (both forms) ----

// Each appends the value a record makes to the block `parent`; the records inside it are read with
// the form's reader, Input::read_record.

// A context record: its kind, whether its values live on the data stack, whether it has a self value,
// whether its values follow, and its words.
struct ContextRecord {
    _context::Kind kind;
    bool on_stack;
    bool self;
    bool values;
    std::vector<uint32_t> symbols;
};

// A reference record of a series type over the value found, which must hold the same storage.
Cell shared_series(const Input& in, const Record& r, uint32_t head, const Cell& found);
// The owner (object or function) of the context that the value found carries.
Cell shared_owner(const Input& in, const Record& r, const Cell& found);
void append_block(Input& in, const Record& r, uint32_t head, uint32_t count, Node parent);
void append_map(Input& in, const Record& r, uint32_t count, Node parent, const uint8_t* count_at);
// Byte data at the position, which the caller then moves past.
void append_text(Input& in, const Record& r, uint32_t head, uint32_t count, uint32_t unit, Node parent,
                 const uint8_t* count_at);
void append_bytes(Input& in, const Record& r, uint32_t head, uint32_t count, bool negated, Node parent);
// An image record's pixels after its sides, read from the input.
void read_image(Input& in, const Record& r, uint32_t head, uint32_t width, uint32_t height, Node parent,
                const uint8_t* size_at);
void append_vector_record(Input& in, const Record& r, uint32_t head, Type element, uint32_t size, uint32_t count,
                          Node parent, const uint8_t* form_at);

// A word of the data's symbol `index`, read at `at`, bound to the global context.
Cell global_word(Input& in, const Record& r, uint32_t index, const uint8_t* at);
// A word bound to the context of a root of the boot data; position -1 looks the symbol up there.
Cell boot_word(const Input& in, const Record& r, uint32_t symbol, uint32_t root, int32_t index);
Cell bound_word(const Input& in, const Record& r, uint32_t symbol, Node context, int32_t index);
// A word whose owner follows inline: the word takes its place first, so that the owner's values may
// refer to it, and is bound as soon as the owner's context holds its words.
void append_word_with_owner(Input& in, const Record& r, uint32_t symbol, int32_t index, Node parent);
// The boot data's set-word: the word and the value appended last take the word's value and leave.
void assign_set_word(Input& in, const Record& r, Node parent, uint32_t start);

void append_object(Input& in, const Record& r, int32_t class_id, bool handlers, const ContextRecord& record,
                   Node parent);
void append_function(Input& in, const Record& r, const ContextRecord& record, Node parent);
void append_standalone_context(Input& in, const Record& r, const ContextRecord& record, Node parent);
void append_native(Input& in, const Record& r, uint32_t entry, Node parent, const uint8_t* entry_at);
void append_op(Input& in, const Record& r, Node parent);
void append_error(Input& in, const Record& r, uint32_t code, Node parent, const uint8_t* code_at);

void read_compact(Input& in, bool symbols, const uint8_t* container_end);
void read_plain(Input& in, bool symbols, const uint8_t* container_end);

// ---- writing ----

struct Output {
    bool compact;
    std::vector<uint8_t> bytes;  // the records
    // The symbol table: ids in order, their indexes, and the names area.
    std::vector<uint32_t> symbol_ids;
    std::unordered_map<uint32_t, uint32_t> symbol_index;
    std::vector<uint32_t> offsets;
    std::string strings;
    // Reference bookkeeping: the index of the next record among its siblings, the indexes of the
    // enclosing levels, and the path of each series or context written (count, then indexes).
    uint32_t counter = 0;
    std::vector<uint32_t> path_stack;
    std::vector<uint32_t> paths;
    std::unordered_map<Node, uint32_t> written;
    uint32_t depth = 0;

    // The 0-based index of a symbol in the table, added on first use.
    uint32_t symbol(uint32_t id);
    // The stored path of a key written before, or null.
    const uint32_t* find(Node key) const;
    // Opens the level of a value with this key (recorded under the path of the value) and closes it.
    void enter(Node key);
    void leave();
};

void write_compact(Output& out, const Cell& value);
void write_plain(Output& out, const Cell& value);

// The key of a value that can be shared and written as a reference, or 0: the series node, or the
// context node of words, objects, errors and functions (not the global context's).
Node key_of(const Cell& value);
// The owner (the self value) of a word's context when the word must be written with it, or an unset
// cell for a word written bare (bound to the global context). Raises access no-codec for a word whose
// binding no record can carry.
Cell owner_of_word(const Cell& word);

}  // namespace oka::okabin
