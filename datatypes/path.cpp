#include "datatypes/path.h"

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/string.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::path {

namespace {

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

// A number is a capacity (a percent! read as the float it holds) and a block-like value converts as
// for a block; unlike a block, a path is made from nothing else, not even an object's body.
const Cell* make(Cell* proto, Cell* spec, Type target) {
    Cell capacity = *spec;
    if (capacity.is(Type::Percent)) capacity.set_type(Type::Float);
    bool number = capacity.is(Type::Integer) || capacity.is(Type::Float);
    if (!number && !is_a(spec->type(), TypeClass::any_block)) error::fire_bad_make_arg(target, spec);
    return datatype::action<Act::make>(Type::Block)(proto, &capacity, target);
}

// A map, object or typeset becomes the one step of a path; any other value converts as for a block.
const Cell* to(Cell* proto, Cell* spec, Type target) {
    switch (spec->type()) {
    case Type::Map:
    case Type::Object:
    case Type::Typeset: {
        Cell* result = block::push_only_s(1);
        block::rs_append(*result, *spec);
        result->set_type(target);
        return result;
    }
    default: return datatype::action<Act::to>(Type::Block)(proto, spec, target);
    }
}

// The steps from the head, formed or molded, a slash between two of them. A path met again inside
// itself is written as its cycle marker.
int32_t write_steps(Cell* path, Cell* buffer, bool mold, const MoldOptions& options, int32_t part, int32_t indent) {
    if (cycles::detect_q(*path, buffer, &part, mold)) return part;
    cycles::Scope scope(*path);
    for (uint32_t i = path->head(); i < series::rs_buffer_length_q(*path); i++) {
        if (options.limit && part < 1) break;
        if (i > path->head()) part = write(buffer, "/", part);
        Cell* step = stack::push(*block::rs_abs_at(*path, i));
        part = mold ? actions::call<Act::mold>(step, buffer, options.inner(), part, indent)
                    : actions::call<Act::form>(step, buffer, options.limit, part);
        stack::pop(1);
    }
    return part;
}

int32_t form(Cell* value, Cell* buffer, Cell* limit, int32_t part) {
    return write_steps(value, buffer, false, MoldOptions{.limit = limit}, part, 0);
}

// 'a/b, :a/b and a/b: mark the lit-path, the get-path and the set-path.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    if (value->is(Type::LitPath)) part = write(buffer, "'", part);
    if (value->is(Type::GetPath)) part = write(buffer, ":", part);
    part = write_steps(value, buffer, true, options, part, indent);
    if (value->is(Type::SetPath)) part = write(buffer, ":", part);
    return part;
}

// The four path types share one row.
void register_as(Type type) {
    datatype::register_(type, {
                                  implements<Act::make>(make), inherits<Act::reflect>(),    implements<Act::to>(to),
                                  implements<Act::form>(form), implements<Act::mold>(mold), inherits<Act::eval_path>(),
                                  inherits<Act::compare>(),    inherits<Act::append>(),     inherits<Act::at>(),
                                  inherits<Act::back>(),       inherits<Act::change>(),     inherits<Act::clear>(),
                                  inherits<Act::copy>(),       inherits<Act::find>(),       inherits<Act::head>(),
                                  inherits<Act::head_q>(),     inherits<Act::index_q>(),    inherits<Act::insert>(),
                                  inherits<Act::length_q>(),   inherits<Act::move>(),       inherits<Act::next>(),
                                  inherits<Act::pick>(),       inherits<Act::poke>(),       inherits<Act::put>(),
                                  inherits<Act::remove>(),     inherits<Act::reverse>(),    inherits<Act::select>(),
                                  inherits<Act::skip>(),       inherits<Act::swap>(),       inherits<Act::tail>(),
                                  inherits<Act::tail_q>(),     inherits<Act::take>(),       inherits<Act::modify>(),
                              });
}

}  // namespace

void init() {
    for (Type type : {Type::Path, Type::LitPath, Type::SetPath, Type::GetPath}) register_as(type);
}

Cell* push(Cell* cell, Type type) {
    cell->header = uint8_t(type);
    return stack::push(*cell);
}

Cell* make_at(Cell* cell, int32_t capacity) {
    block::make_at(cell, capacity);
    cell->set_type(Type::Path);
    return cell;
}

}  // namespace oka::path
