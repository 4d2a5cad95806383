#include "datatypes/native.h"

#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka {

namespace {

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

bool wraps_function_q(Type type) { return type == Type::Function || type == Type::Routine; }

// The size of the table that the entry points of a native! or action! index.
int32_t table_size(Type type) { return type == Type::Native ? native::kTableSize : kActionCount; }

// The entry point that an index names in the table of a native! or action!; 0 when it names none.
int32_t entry_of(const Cell& index, Type target) {
    if (!index.is(Type::Integer)) return 0;
    int32_t entry = integer::get(index);
    return entry >= 1 && entry <= table_size(target) ? entry : 0;
}

// The spec text of the built-in at an entry point of a native! or action!, without its brackets.
std::string_view own_spec_text(int32_t entry, Type target) {
    if (target == Type::Action) return kActionArguments[entry - 1];
    std::string_view text = natives::spec_of(uint32_t(entry));
    return text.substr(1, text.size() - 2);
}

// The position of the first value from `index` on that is not a doc string.
uint32_t skip_doc_strings(const Cell& spec, uint32_t index) {
    while (index < series::rs_buffer_length_q(spec) && block::rs_abs_at(spec, index)->is(Type::String)) index++;
    return index;
}

// True when two specs declare the same arguments, refinements and types in the same order; their doc
// strings may differ. Strictly the same: a word taken for a refinement, a get-word or a lit-word, would
// change what the calls hand the built-in.
bool same_arguments(const Cell& spec, const Cell& own) {
    uint32_t i = skip_doc_strings(spec, 0), j = skip_doc_strings(own, 0);
    for (; i < series::rs_buffer_length_q(spec) && j < series::rs_buffer_length_q(own);
         i = skip_doc_strings(spec, i + 1), j = skip_doc_strings(own, j + 1)) {
        Cell value = *block::rs_abs_at(spec, i), own_value = *block::rs_abs_at(own, j);
        if (block::compare_cells(value, own_value, kCompareStrictEqual) != 0) return false;
    }
    return i == series::rs_buffer_length_q(spec) && j == series::rs_buffer_length_q(own);
}

// A native or action trusts the arguments of its calls to be those its built-in spec declares, which
// the interpreter checks against the value's spec: so the spec must declare those. A slot without a
// native refuses every call, whatever the spec.
void check_own_arguments(const Cell& spec, int32_t entry, Type target, Cell* recipe) {
    if (target == Type::Native && uint32_t(entry) > natives::count()) return;
    if (!native::own_arguments_q(spec, entry, target)) error::fire_bad_make_arg(target, recipe);
}

// make native! and make action!: [spec index]. The value keeps its own deep copy of the spec, from
// its head: the calls read it again, so a later change of the given block must not reach them.
const Cell* make(Cell*, Cell* spec, Type target) {
    if (!spec->is(Type::Block) || block::rs_length_q(*spec) != 2) error::fire_bad_make_arg(target, spec);
    Cell* result = stack::push(*block::rs_abs_at(*spec, spec->head()));  // the spec until the value replaces it
    int32_t entry = entry_of(*block::rs_abs_at(*spec, spec->head() + 1), target);
    if (!result->is(Type::Block) || entry == 0) error::fire_bad_make_arg(target, spec);
    *result = *block::clone(*result, block::Nested::blocks);
    interpreter::check_native_spec(*result);
    check_own_arguments(*result, entry, target, spec);
    stack::top = result;  // make_built_in pushes the copy again before it allocates
    return native::make_built_in(target, *result, entry);
}

const Cell* make_op(Cell*, Cell* value, Type) {
    Type wrapped = value->type();
    if (wrapped != Type::Native && wrapped != Type::Action && !wraps_function_q(wrapped))
        error::fire_on_type(Err::script_invalid_type, wrapped);
    if (!op::check_spec(function::spec_of(*value))) fire(Err::script_bad_op_spec);
    if (wraps_function_q(wrapped)) *function::extra(*value, function::kOpFunction) = *value;
    Cell* result = stack::push(*value);
    result->header = uint32_t(Type::Op) | uint32_t(wrapped) << kOpWrappedShift;
    return result;
}

void reflect(Cell* value, int32_t field) {
    if (function::field_q(field, Sym::spec)) {
        // A copy: a change of it must not reach the calls.
        stack::set_last(*block::clone(function::spec_of(*value), block::Nested::blocks));
    } else if (!function::field_q(field, Sym::body)) {
        fire(Err::internal_not_done);
    } else if (wraps_function_q(op::wrapped_type(*value))) {
        stack::set_last(*function::extra(*value, function::kBody));
    } else {
        integer::box(int32_t(value->entry()));  // the entry point is the position in its table
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    const char* text = value->is(Type::Native) ? "?native?" : value->is(Type::Action) ? "?action?" : "?op?";
    return write(buffer, text, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    part = write(buffer, value->is(Type::Native) ? "make native! [" : "make action! [", part);
    part = function::mold_copy(function::spec_of(*value), buffer, options, part, indent);
    return write(buffer, "]", part);
}

int32_t mold_op(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    bool of_function = op::wrapped_type(*value) == Type::Function;
    part = write(buffer, of_function ? "make op! func " : "make op! [", part);
    part = function::mold_copy(function::spec_of(*value), buffer, options.inner(), part, indent);
    if (!of_function) return write(buffer, "]", part);
    if (!function::extra(*value, function::kBody)->is(Type::Block)) return part;
    return function::mold_copy(*function::extra(*value, function::kBody), buffer, options.inner(), part, indent);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (value1->type() != value2->type()) return kNotComparable;
    return function::compare_identities(int32_t(value1->entry()), int32_t(value2->entry()), op);
}

}  // namespace

bool native::own_arguments_q(const Cell& spec, int32_t entry, Type target) {
    Cell* saved = stack::top;
    bool same = same_arguments(spec, *lexer::load(own_spec_text(entry, target)));
    stack::top = saved;
    return same;
}

const Cell* native::push_own(Type target, int32_t entry) {
    Cell* spec = lexer::load(own_spec_text(entry, target));
    return native::make_built_in(target, *spec, entry);
}

const Cell* native::make_built_in(Type target, const Cell& spec, int32_t entry) {
    Cell* result = stack::push(spec);  // the spec until the value replaces it
    Cell* extras = block::push_only_s(2);
    Node context = _context::make(*result);
    block::rs_append(*extras, *_context::context_cell(context));
    block::rs_append(*extras, none::value);
    *result = Cell::of(target).set_entry(uint32_t(entry)).set_spec(result->node()).set_extras(extras->node());
    stack::top = result + 1;
    return result;
}

void native::init() {
    datatype::register_(Type::Native, {
                                          implements<Act::make>(make),
                                          implements<Act::reflect>(reflect),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::compare>(compare),
                                      });
    datatype::register_(Type::Action, {
                                          implements<Act::make>(make),
                                          inherits<Act::reflect>(),
                                          implements<Act::form>(form),
                                          implements<Act::mold>(mold),
                                          implements<Act::compare>(compare),
                                      });
    datatype::register_(Type::Op, {
                                      implements<Act::make>(make_op),
                                      inherits<Act::reflect>(),
                                      implements<Act::form>(form),
                                      implements<Act::mold>(mold_op),
                                      implements<Act::compare>(compare),
                                  });
}

bool op::check_spec(const Cell& spec) {
    int32_t arguments = 0;
    bool word_seen = false;
    for (uint32_t i = 0; i < series::rs_buffer_length_q(spec); i++) {
        Cell value = *block::rs_abs_at(spec, i);
        switch (value.type()) {
        case Type::Word:
            arguments++;
            word_seen = true;
            break;
        case Type::LitWord:
        case Type::GetWord:
            if (!word_seen) return false;  // the left argument is always evaluated
            arguments++;
            break;
        case Type::Refinement:
            if (!function::spec_refinement_q(value, SpecWord::local) &&
                !function::spec_refinement_q(value, SpecWord::extern_))
                return false;
            return arguments == 2;
        case Type::SetWord: return arguments == 2;
        default: break;  // doc strings and type blocks
        }
    }
    return arguments == 2;
}

}  // namespace oka
