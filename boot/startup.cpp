#include "boot/startup.h"

#include <array>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/email.h"
#include "datatypes/error.h"
#include "datatypes/event.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/percent.h"
#include "datatypes/point.h"
#include "datatypes/port.h"
#include "datatypes/ref.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/port_actor.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/handles.h"
#include "runtime/image_state.h"
#include "runtime/image_store.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/types.h"
#include "services/image_codecs.h"
#include "services/natives.h"
#include "services/simple_io.h"

namespace oka {

namespace {

constexpr uint32_t kRootBlockCells = 8730;

// url! and file! reach the network and the file system through the I/O services, which live above the datatypes.
void init_file() { file::init(simple_io::file_actions()); }
void init_url() { url::init(simple_io::url_actions()); }
// port! hands its actions to the port's actor through the evaluator, which lives above the datatypes.
void init_port() { port::init(port_actor::forwarders()); }
// The image layer comes first: image! registers over it.
void init_image() {
    os_image::init();
    image::init(image_codecs::codecs());
}

// The datatypes' inits in the order start-up runs them, each with the types it registers in the order
// it registers them.
struct DatatypeInit {
    void (*init)();
    std::array<Type, 5> types;  // Void after the last
};

constexpr DatatypeInit kDatatypeInits[] = {
    {datatype::init, {Type::Datatype}},
    {unset::init, {Type::Unset}},
    {none::init, {Type::None}},
    {logic::init, {Type::Logic}},
    {series::init, {Type::Series}},
    {block::init, {Type::Block}},
    {string::init, {Type::String}},
    {integer::init, {Type::Integer}},
    {symbol::init, {Type::Symbol}},
    {_context::init, {Type::Context}},
    {word::init, {Type::Word, Type::SetWord, Type::LitWord, Type::GetWord, Type::Refinement}},
    {char_::init, {Type::Char}},
    {native::init, {Type::Native, Type::Action, Type::Op}},
    {path::init, {Type::Path, Type::LitPath, Type::SetPath, Type::GetPath}},
    {function::init, {Type::Function, Type::Routine}},
    {paren::init, {Type::Paren}},
    {issue::init, {Type::Issue}},
    {object::init, {Type::Object}},
    {bitset::init, {Type::Bitset}},
    {triple::init, {Type::Triple}},
    {float_::init, {Type::Float}},
    {typeset::init, {Type::Typeset}},
    {error::init, {Type::Error}},
    {time::init, {Type::Time}},
    {binary::init, {Type::Binary}},
    {money::init, {Type::Money}},
    {percent::init, {Type::Percent}},
    {tuple::init, {Type::Tuple}},
    {handle::init, {Type::Handle}},
    {tag::init, {Type::Tag}},
    {email::init, {Type::Email}},
    {ref::init, {Type::Ref}},
    {init_url, {Type::Url}},
    {init_file, {Type::File}},
    {date::init, {Type::Date}},
    {init_port, {Type::Port}},
    {vector::init, {Type::Vector}},
    {event::init, {Type::Event}},
    {pair::init, {Type::Pair}},
    {point::init, {Type::Point2D, Type::Point3D}},
    {hash::init, {Type::Hash}},
    {map::init, {Type::Map}},
    {init_image, {Type::Image}},
};

// An inherited action slot copies the parent's entry when the child registers, so every parent of
// runtime/types.def must be registered before its children.
constexpr bool parents_first() {
    std::array<bool, kTypeTableSize> registered{};
    for (const DatatypeInit& d : kDatatypeInits) {
        for (Type type : d.types) {
            if (type == Type::Void) break;
            Type parent = type_parent(type);
            if (registered[int(type)] || (parent != Type::Void && !registered[int(parent)])) return false;
            registered[int(type)] = true;
        }
    }
    return true;
}
static_assert(parents_first(), "each datatype registers once, after its parent");

// Each datatype registers itself. After each init the registered types are exactly the ones listed up
// to its row, so the order checked above is the order that runs.
void register_datatypes() {
    std::array<bool, kTypeTableSize> listed{};
    for (const DatatypeInit& d : kDatatypeInits) {
        d.init();
        for (Type type : d.types) listed[int(type)] = type != Type::Void;
        for (int id = 1; id < kTypeTableSize; id++) OKA_ASSERT(datatype::registered_q(Type(id)) == listed[id]);
    }
}

// A block with a fixed buffer, appended to the root block.
Node make_fixed_block_in_root(uint32_t cells) { return block::make_in(&runtime::root, int32_t(cells))->node(); }

}  // namespace

void sys::get_args(int argc, char** argv) {
    args = static_cast<char**>(sys::allocate_zeroed((argc + 1) * sizeof(char*)));
    for (int i = 0; i < argc; i++) {
        uint32_t size = uint32_t(std::strlen(argv[i])) + 1;
        args[i] = static_cast<char*>(sys::allocate(size));
        std::memcpy(args[i], argv[i], size);
    }
    arg_count = argc;
}

namespace {

// What C++ holds of the language memory as the boot leaves it, carried by every heap image besides the
// registered roots (boot/image_start.h).
void keep_in_images() {
    for (void (*keep)() :
         {alloc::keep_in_images, collector::keep_in_images, stack::keep_in_images, handles::keep_in_images,
          cycles::keep_in_images, symbol::keep_in_images, random::keep_in_images, object::keep_in_images})
        keep();
    image_state::keep(runtime::root, _context::collecting_new_words);
}

}  // namespace

void runtime::init() {
    _context::collecting_new_words = true;
    io::init_print_hooks();
    console::init_output();
    random::init();
    alloc::init();
    collector::init();
    handles::init();
    cycles::init();
    register_datatypes();
    actions::init();
    alloc::alloc_node_frame(kNodeFrameSlots);
    alloc::alloc_series_frame();
    block::make_at_fixed(&root, kRootBlockCells, true);
    stack::init(make_fixed_block_in_root(stack::kDataStackCells));
    stack::init_calls(make_fixed_block_in_root(stack::kCallStackCells));
    lexer::init();
    symbol::init_table();
    _context::make_global();
    datatype::make_words();
    words::build();
    words::build_spec_words();
    system_objects::init();
    error::make_catalog();
    natives::init();
    natives::add_services_natives();
    parse::init();
    ownership::init();
    interpreter::init();
    trace::init();
    keep_in_images();
}

}  // namespace oka
