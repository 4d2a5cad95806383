#include "datatypes/port.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/unset.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::port {

namespace {

// Every port shares one class id: the fields of system/standard/port in its order.
constexpr uint32_t kPortClass = 2;

// The actions a native actor may implement: append and every one after it.
constexpr int kFirstActorSlot = int(Act::append);
constexpr size_t kActorSlots = size_t(kActionCount - kFirstActorSlot + 1);
static_assert(kActorSlots == 38, "a native actor has an entry per action from append to write");

using NativeActor = std::array<AnyAction, kActorSlots>;
std::vector<NativeActor> native_actors;

// ---- make ----

// The spec as an object: itself, or a copy of system/standard/url-parts made with the block.
Cell* spec_object(Cell* spec) {
    if (spec->is(Type::Object)) return spec;
    Cell* parts = stack::push(object::field_of(system_objects::references.standard, "url-parts"));
    if (!parts->is(Type::Object)) datatype::make_at(parts, Type::Object);
    return stack::push(*datatype::action<Act::make>(Type::Object)(parts, spec, Type::Object));
}

void set_field(const Cell& port, Field field, const Cell& value) { object::get_values(port)[field] = value; }

// A copy of system/standard/port, typed port!.
Cell* push_port() {
    Cell prototype = object::field_of(system_objects::references.standard, "port");
    if (!prototype.is(Type::Object) || object::get_size(prototype) <= kExtra) fire(Err::access_invalid_port);
    Cell* port = object::clone_object(prototype, unset::push(), false, nullptr, false);
    port->header = uint8_t(Type::Port);
    port->set_class_id(kPortClass);
    *_context::self_cell(port->context()) = *port;
    return port;
}

const Cell* make(Cell*, Cell* spec, Type) {
    Cell* given = stack::push(*spec);
    Cell* object = spec_object(given);
    Cell scheme = object::get_size(*object) > 0 ? object::get_values(*object)[0] : none::value;
    if (!scheme.is(Type::Word)) fire(Err::access_no_scheme, given);
    Cell* port = push_port();
    set_field(*port, kSpec, *object);
    set_field(*port, kScheme, scheme);
    Cell* schemes = stack::push(object::field_of(system_objects::references.system, "schemes"));
    Cell* name = stack::push(scheme);
    Cell* found =
        schemes->is(Type::None) ? schemes : stack::push(*actions::call<Act::select>(schemes, name, SelectOptions{}));
    if (!found->is(Type::Object)) fire(Err::access_unknown_scheme, given);
    Cell actor = object::field_of(*found, "actor");
    if (!actor.is(Type::Object) && !actor.is(Type::Handle)) fire(Err::access_invalid_actor, given);
    set_field(*port, kActor, actor);
    return port;
}

// ---- text and comparison ----

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    return object::mold_fields(value, buffer, "make port! [", options, part, indent);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return mold(value, buffer, MoldOptions{}, part, 0); }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Port)) return kNotComparable;
    return object::compare_fields(value1, value2, op);
}

// ---- native actors ----

// The entry of a port whose actor is a handle naming a native table, or null for any other actor.
AnyAction native_action(const Cell* port, Act slot) {
    Cell actor = object::get_values(*port)[kActor];
    if (!actor.is(Type::Handle)) return nullptr;
    auto index = size_t(actor.handle_value());
    AnyAction fn =
        index >= 1 && index <= native_actors.size() ? native_actors[index - 1][int(slot) - kFirstActorSlot] : nullptr;
    if (!fn) fire(Err::access_no_port_action);
    return fn;
}

}  // namespace

void init(std::span<const ActionEntry> forwarders) {
    ActionSlot row[kActionCount];
    std::fill(std::begin(row), std::end(row), kUnsupported);
    for (Act slot : {Act::reflect, Act::eval_path}) row[int(slot) - 1] = kInherit;
    for (ActionEntry entry : {implements<Act::make>(make), implements<Act::form>(form), implements<Act::mold>(mold),
                              implements<Act::compare>(compare)})
        row[int(entry.slot) - 1] = entry.value;
    for (const ActionEntry& entry : forwarders) row[int(entry.slot) - 1] = entry.value;
    datatype::register_(Type::Port, type_parent(Type::Port), type_text(Type::Port), row);
    actions::native_port_action = native_action;
}

Cell get_actor(const Cell& port) {
    Cell actor = object::get_values(port)[kActor];
    if (!actor.is(Type::Object)) fire(Err::access_invalid_port);
    return actor;
}

int32_t register_native_actor(std::initializer_list<ActionEntry> actions) {
    NativeActor& table = native_actors.emplace_back();
    table.fill(nullptr);
    for (const ActionEntry& entry : actions) {
        OKA_ASSERT(int(entry.slot) >= kFirstActorSlot);
        table[int(entry.slot) - kFirstActorSlot] = entry.value.fn;
    }
    return int32_t(native_actors.size());
}

}  // namespace oka::port
