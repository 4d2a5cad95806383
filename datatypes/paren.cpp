#include "datatypes/paren.h"

#include "datatypes/block.h"
#include "datatypes/cycles.h"
#include "datatypes/string.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::paren {

namespace {

int32_t write(Cell* buffer, const char* text, int32_t part) { return string::write_token(buffer, text, false, part); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    if (cycles::detect_q(*value, buffer, &part, true)) return part;
    if (!options.only) part = write(buffer, "(", part);
    part = block::mold_each(value, buffer, options, part, indent);
    if (!options.only) part = write(buffer, ")", part);
    return part;
}

}  // namespace

void init() {
    datatype::register_(
        Type::Paren,
        {
            inherits<Act::make>(),   inherits<Act::random>(),     inherits<Act::reflect>(),   inherits<Act::to>(),
            inherits<Act::form>(),   implements<Act::mold>(mold), inherits<Act::eval_path>(), inherits<Act::compare>(),
            inherits<Act::append>(), inherits<Act::at>(),         inherits<Act::back>(),      inherits<Act::change>(),
            inherits<Act::clear>(),  inherits<Act::copy>(),       inherits<Act::find>(),      inherits<Act::head>(),
            inherits<Act::head_q>(), inherits<Act::index_q>(),    inherits<Act::insert>(),    inherits<Act::length_q>(),
            inherits<Act::move>(),   inherits<Act::next>(),       inherits<Act::pick>(),      inherits<Act::poke>(),
            inherits<Act::put>(),    inherits<Act::remove>(),     inherits<Act::reverse>(),   inherits<Act::select>(),
            inherits<Act::sort>(),   inherits<Act::skip>(),       inherits<Act::swap>(),      inherits<Act::tail>(),
            inherits<Act::tail_q>(), inherits<Act::take>(),       inherits<Act::modify>(),
        });
}

Cell* push(Cell* cell) {
    cell->header = uint8_t(Type::Paren);
    return stack::push(*cell);
}

}  // namespace oka::paren
