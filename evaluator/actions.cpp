#include "evaluator/actions.h"

#include <algorithm>

#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/refinements.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::actions {

namespace {

StackEntry* table = nullptr;

Cell* arg(int k) { return stack::arguments() + k; }

// Implementations that read their operands from the frame and write the result slot themselves.
template <Act A>
void run_on_frame() {
    implementation_for<A>(arg(0))();
}

// ---- series positions, for the /part normalisations ----

int32_t series_length(const Cell& series) { return int32_t(mem::buffer(series.node())->length()); }

void clamp_head(Cell* series) {
    int32_t length = series_length(*series);
    if (int32_t(series->head()) > length) series->set_head(uint32_t(length));
}

// The head of a /part position: it must lie in the same series as `series`.
int32_t part_position(const Cell* series, Cell* part) {
    if (part->type() != series->type() || part->node() != series->node() || part->is(Type::Port))
        error::fire_refinement("part", part);
    clamp_head(part);
    return int32_t(part->head());
}

// A negative count moves the series' head back by that many (not below 0); the count becomes the
// distance moved.
int32_t move_head_back(Cell* series, int32_t count) {
    int32_t head = int32_t(series->head());
    auto moved = int32_t(std::min<int64_t>(head, -int64_t(count)));  // the lowest count has no int32 negation
    series->set_head(uint32_t(head - moved));
    return moved;
}

// The number of units of the value that append or insert take with /part, or 0 when the action has
// nothing to do. The value is a series or a map: a buffer of units in word 2.
int32_t value_part_count(Cell* value, Cell* part) {
    bool buffered = is_a(value->type(), TypeClass::series) || value->is(Type::Map);
    if (!buffered || !value->node()) fire(Err::script_invalid_part, part);
    clamp_head(value);
    int32_t count = part->is(Type::Integer) ? integer::get(*part) : part_position(value, part) - int32_t(value->head());
    if (count < 0) count = int32_t(value->head()) == 0 ? 0 : move_head_back(value, count);
    return count;
}

// The number of units that change replaces with /part, measured on the series being changed.
int32_t change_part_count(Cell* series, Cell* part) {
    bool positional = !series->is(Type::Port) && !series->is(Type::Image);
    if (positional) clamp_head(series);
    int32_t count =
        part->is(Type::Integer) ? integer::get(*part) : part_position(series, part) - int32_t(series->head());
    if (count < 0) count = positional ? move_head_back(series, count) : 0;
    return count;
}

// The /dup count, 1 without the refinement. The actions' specs leave its type open, so anything but an
// integer is refused here rather than read as one.
int32_t dup_count(Cell* count) {
    if (!count) return 1;
    if (!count->is(Type::Integer)) error::fire_refinement("dup", count);
    return integer::get(*count);
}

// form and mold write into a new string: the frame keeps only its result slot, the buffer is pushed
// above it, and with /part the text is cut to the limit. The actions' specs leave the limit's type
// open, so anything but an integer is refused here rather than read as one.
template <class Write>
void write_to_new_string(Cell* limit_arg, Write write) {
    if (limit_arg && !limit_arg->is(Type::Integer)) error::fire_refinement("part", limit_arg);
    int32_t limit = limit_arg ? integer::get(*limit_arg) : 0x7FFFFFFF;
    Cell limit_cell = limit_arg ? *limit_arg : none::value;
    stack::keep();
    Cell* buffer = string::rs_make_at(stack::push_next(), 16);
    if (!limit_arg || limit >= 1) {
        write(buffer, limit_arg ? &limit_cell : nullptr, limit);
        if (limit_arg) string::clip_tail(buffer, limit);
    }
    stack::set_last(*buffer);
}

}  // namespace

void init() {
    table = static_cast<StackEntry*>(sys::allocate(kActionCount * sizeof(StackEntry)));
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) table[slot - 1] = &Name##_s;
#include "runtime/actions.def"
#undef OKA_ACTION
}

StackEntry entry(Act slot) { return table[int(slot) - 1]; }

ActionImpl<Act::eval_path> get_path_action_ptr(const Cell* value, const Cell* path, const Cell* element,
                                               int32_t index) {
    AnyAction fn = datatype::action_entry(value->type(), Act::eval_path);
    if (fn) return reinterpret_cast<ActionImpl<Act::eval_path>>(fn);
    Cell datatype, selector = *element;
    datatype::make_at(&datatype, value->type());
    if (!path) fire(Err::script_bad_path_type2, &selector, &datatype);
    // The report shows the path up to the element that failed.
    Cell whole = *path, cut = *path;
    cut.set_node(alloc::copy_series(path->node()));
    BufPtr<SeriesBuffer> b = mem::buffer(cut.node());
    b->tail = std::min(b->tail, b->offset + (cut.head() + uint32_t(index) + 1) * uint32_t(sizeof(Cell)));
    fire(Err::script_bad_path_type, &whole, &datatype, &cut);
}

// reflect and modify name a field by a word, their second argument, whose symbol the datatypes look up.
void check_field_word() {
    constexpr int32_t kField = 1;
    if (!is_a(arg(kField)->type(), TypeClass::all_word))
        error::fire_in_function(Err::script_expect_arg, arg(kField)->type(), kField);
}

void compare_s(int32_t op) {
    Cell* args = stack::arguments();
    logic::box(compare(args, args + 1, op));
}

int32_t get_index_arg() {
    const Cell* index = arg(1);
    switch (index->type()) {
    case Type::Integer: return integer::get(*index);
    case Type::Char: return index->int32();
    case Type::Logic: return index->truth() ? 1 : 2;
    default: return 0;
    }
}

// ---- the stack entry points, in slot order ----

void make_s(const int32_t*) {
    Cell* proto = arg(0);
    Type target = proto->is(Type::Datatype) ? proto->named_type() : proto->type();
    auto impl = reinterpret_cast<ActionImpl<Act::make>>(get_action_ptr_from(target, proto, Act::make));
    stack::set_last(*impl(proto, arg(1), target));
}

void random_s(const int32_t* positions) {
    Refinements<Act::random> r(positions);
    call<Act::random>(arg(0), r.given("seed"), r.given("secure"), r.given("only"));
}

void reflect_s(const int32_t*) {
    check_field_word();
    call<Act::reflect>(arg(0), int32_t(arg(1)->symbol()));
}

void to_s(const int32_t*) {
    Cell* proto = arg(0);
    Type target = proto->is(Type::Datatype) ? proto->named_type() : proto->type();
    auto impl = reinterpret_cast<ActionImpl<Act::to>>(get_action_ptr_from(target, proto, Act::to));
    stack::set_last(*impl(proto, arg(1), target));
}

void form_s(const int32_t* positions) {
    write_to_new_string(Refinements<Act::form>(positions).arg("part"),
                        [](Cell* buffer, Cell* limit, int32_t part) { call<Act::form>(arg(0), buffer, limit, part); });
}

void mold_s(const int32_t* positions) {
    Refinements<Act::mold> r(positions);
    bool only = r.given("only"), all = r.given("all"), flat = r.given("flat");
    write_to_new_string(r.arg("part"), [&](Cell* buffer, Cell* limit, int32_t part) {
        call<Act::mold>(arg(0), buffer, MoldOptions{.only = only, .all = all, .flat = flat, .limit = limit}, part, 0);
    });
}

void eval_path_s(const int32_t*) {
    Cell* parent = arg(0);
    auto impl = get_path_action_ptr(parent, nullptr, arg(1), 0);
    stack::set_last(*impl(parent, arg(1), nullptr, EvalPathOptions{.get = true, .last = true}));
}

// A selection with a value to set goes through the eval-path implementations.
void set_path_s(const int32_t*) {
    Cell* parent = arg(0);
    auto impl = get_path_action_ptr(parent, nullptr, arg(1), 0);
    stack::set_last(*impl(parent, arg(1), arg(2), EvalPathOptions{.last = true}));
}

void compare_s(const int32_t*) { integer::box(call<Act::compare>(arg(0), arg(1), integer::get(*arg(2)))); }

void absolute_s(const int32_t*) { run_on_frame<Act::absolute>(); }
void add_s(const int32_t*) { run_on_frame<Act::add>(); }
void divide_s(const int32_t*) { run_on_frame<Act::divide>(); }
void multiply_s(const int32_t*) { run_on_frame<Act::multiply>(); }
void negate_s(const int32_t*) { call<Act::negate>(arg(0)); }
void power_s(const int32_t*) { run_on_frame<Act::power>(); }
void remainder_s(const int32_t*) { run_on_frame<Act::remainder>(); }

void round_s(const int32_t* positions) {
    Refinements<Act::round> r(positions);
    call<Act::round>(arg(0), RoundOptions{.scale = r.arg("to"),
                                          .even = r.given("even"),
                                          .down = r.given("down"),
                                          .half_down = r.given("half-down"),
                                          .floor = r.given("floor"),
                                          .ceiling = r.given("ceiling"),
                                          .half_ceiling = r.given("half-ceiling")});
}

void subtract_s(const int32_t*) { run_on_frame<Act::subtract>(); }
void even_q_s(const int32_t*) { logic::box(call<Act::even_q>(arg(0))); }
void odd_q_s(const int32_t*) { logic::box(call<Act::odd_q>(arg(0))); }
void and__s(const int32_t*) { run_on_frame<Act::and_>(); }
void complement_s(const int32_t*) { stack::set_last(*call<Act::complement>(arg(0))); }
void or__s(const int32_t*) { run_on_frame<Act::or_>(); }
void xor__s(const int32_t*) { run_on_frame<Act::xor_>(); }

// append and insert share their normalisation; only the last flag of the implementation differs. Most
// calls name no refinement: they pass the default options as they stand, which keeps the common append
// as cheap as a call with plain arguments.
template <Act A>
void add_to_series(const int32_t* positions, bool append) {
    static constexpr EditOptions kPlain;
    Refinements<A> r(positions);
    if (!r.given("part") && !r.given("only") && !r.given("dup")) return call<A>(arg(0), arg(1), kPlain, append);
    Cell* part = r.arg("part");
    int32_t count = part ? value_part_count(arg(1), part) : -1;
    EditOptions options{.part = count, .only = r.given("only"), .dup = dup_count(r.arg("dup"))};
    if (options.part == 0 || options.dup < 1) return;  // the series, unchanged, is the result
    call<A>(arg(0), arg(1), options, append);
}

void append_s(const int32_t* positions) { add_to_series<Act::append>(positions, true); }
void at_s(const int32_t*) { run_on_frame<Act::at>(); }
void back_s(const int32_t*) { run_on_frame<Act::back>(); }

// A value that has no change of its own is refused before /part measures it as a series.
void change_s(const int32_t* positions) {
    auto change = implementation_for<Act::change>(arg(0));
    Refinements<Act::change> r(positions);
    Cell* part = r.arg("part");
    int32_t count = part ? change_part_count(arg(0), part) : -1;
    EditOptions options{.part = count, .only = r.given("only"), .dup = dup_count(r.arg("dup"))};
    if (options.dup < 1) return;
    change(arg(0), arg(1), options);
}

void clear_s(const int32_t*) { call<Act::clear>(arg(0)); }

void copy_s(const int32_t* positions) {
    Refinements<Act::copy> r(positions);
    CopyOptions options{.part = r.arg("part"), .deep = r.given("deep"), .types = r.arg("types")};
    constexpr int32_t kKindArgument = 5;  // in "value /part length /deep /types kind", as errors name it
    if (options.types && !options.types->is(Type::Datatype) && !options.types->is(Type::Typeset))
        error::fire_in_function(Err::script_expect_arg, options.types->type(), kKindArgument);
    Cell* result = unset::push();
    stack::set_last(*call<Act::copy>(arg(0), result, options));
}

// find and select read the refinements they share alike.
template <Act A>
SelectOptions select_options(Refinements<A> r) {
    return {.part = r.arg("part"),
            .only = r.given("only"),
            .case_ = r.given("case"),
            .same = r.given("same"),
            .any = r.given("any"),
            .with = r.arg("with"),
            .skip = r.arg("skip"),
            .last = r.given("last"),
            .reverse = r.given("reverse")};
}

void find_s(const int32_t* positions) {
    Refinements<Act::find> r(positions);
    FindOptions options{select_options(r)};
    options.tail = r.given("tail");
    options.match = r.given("match");
    stack::set_last(*call<Act::find>(arg(0), arg(1), options));
}

void head_s(const int32_t*) { run_on_frame<Act::head>(); }
void head_q_s(const int32_t*) { run_on_frame<Act::head_q>(); }
void index_q_s(const int32_t*) { run_on_frame<Act::index_q>(); }
void insert_s(const int32_t* positions) { add_to_series<Act::insert>(positions, false); }

void length_q_s(const int32_t*) {
    int32_t length = call<Act::length_q>(arg(0));
    if (length < 0)
        none::box();
    else
        integer::box(length);
}

void move_s(const int32_t* positions) {
    stack::set_last(*call<Act::move>(arg(0), arg(1), Refinements<Act::move>(positions).arg("part")));
}

void next_s(const int32_t*) { run_on_frame<Act::next>(); }
void pick_s(const int32_t*) { stack::set_last(*call<Act::pick>(arg(0), get_index_arg(), arg(1))); }
void poke_s(const int32_t*) { stack::set_last(*call<Act::poke>(arg(0), get_index_arg(), arg(2), arg(1))); }

void put_s(const int32_t* positions) {
    stack::set_last(*call<Act::put>(arg(0), arg(1), arg(2), Refinements<Act::put>(positions).given("case")));
}

void remove_s(const int32_t* positions) {
    Refinements<Act::remove> r(positions);
    call<Act::remove>(arg(0), r.arg("part"), r.arg("key"));
}

void reverse_s(const int32_t* positions) {
    Refinements<Act::reverse> r(positions);
    call<Act::reverse>(arg(0), r.arg("part"), r.arg("skip"));
}

void select_s(const int32_t* positions) {
    stack::set_last(*call<Act::select>(arg(0), arg(1), select_options(Refinements<Act::select>(positions))));
}

void sort_s(const int32_t* positions) {
    Refinements<Act::sort> r(positions);
    stack::set_last(*call<Act::sort>(arg(0), SortOptions{.case_ = r.given("case"),
                                                         .skip = r.arg("skip"),
                                                         .compare = r.arg("compare"),
                                                         .part = r.arg("part"),
                                                         .all = r.given("all"),
                                                         .reverse = r.given("reverse"),
                                                         .stable = r.given("stable")}));
}

void skip_s(const int32_t*) { run_on_frame<Act::skip>(); }
void swap_s(const int32_t*) { call<Act::swap>(arg(0), arg(1)); }
void tail_s(const int32_t*) { run_on_frame<Act::tail>(); }
void tail_q_s(const int32_t*) { run_on_frame<Act::tail_q>(); }

void take_s(const int32_t* positions) {
    Refinements<Act::take> r(positions);
    stack::set_last(*call<Act::take>(arg(0), r.arg("part"), r.given("deep"), r.given("last")));
}

void trim_s(const int32_t* positions) {
    Refinements<Act::trim> r(positions);
    call<Act::trim>(arg(0), TrimOptions{.head = r.given("head"),
                                        .tail = r.given("tail"),
                                        .auto_ = r.given("auto"),
                                        .lines = r.given("lines"),
                                        .all = r.given("all"),
                                        .with = r.arg("with")});
}

void create_s(const int32_t*) { stack::set_last(*call<Act::create>(arg(0))); }
void close_s(const int32_t*) { stack::set_last(*call<Act::close>(arg(0))); }
void delete__s(const int32_t*) { stack::set_last(*call<Act::delete_>(arg(0))); }
void modify_s(const int32_t* positions) {
    check_field_word();
    call<Act::modify>(arg(0), arg(1), arg(2), Refinements<Act::modify>(positions).given("case"));
}

void open_s(const int32_t* positions) {
    Refinements<Act::open> r(positions);
    stack::set_last(*call<Act::open>(arg(0), OpenOptions{.new_ = r.given("new"),
                                                         .read = r.given("read"),
                                                         .write = r.given("write"),
                                                         .seek = r.given("seek"),
                                                         .allow = r.arg("allow")}));
}

void open_q_s(const int32_t*) { stack::set_last(*call<Act::open_q>(arg(0))); }
void query_s(const int32_t*) { stack::set_last(*call<Act::query>(arg(0))); }

void read_s(const int32_t* positions) {
    Refinements<Act::read> r(positions);
    stack::set_last(*call<Act::read>(arg(0), ReadOptions{.part = r.arg("part"),
                                                         .seek = r.arg("seek"),
                                                         .binary = r.given("binary"),
                                                         .lines = r.given("lines"),
                                                         .info = r.given("info"),
                                                         .as = r.arg("as")}));
}

void rename_s(const int32_t*) { stack::set_last(*call<Act::rename>(arg(0), arg(1))); }
void update_s(const int32_t*) { stack::set_last(*call<Act::update>(arg(0))); }

void write_s(const int32_t* positions) {
    Refinements<Act::write> r(positions);
    stack::set_last(*call<Act::write>(arg(0), arg(1),
                                      WriteOptions{.binary = r.given("binary"),
                                                   .lines = r.given("lines"),
                                                   .info = r.given("info"),
                                                   .append = r.given("append"),
                                                   .part = r.arg("part"),
                                                   .seek = r.arg("seek"),
                                                   .allow = r.arg("allow"),
                                                   .as = r.arg("as")}));
}

}  // namespace oka::actions
