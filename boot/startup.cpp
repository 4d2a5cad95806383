#include "boot/startup.h"

#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/paren.h"
#include "datatypes/path.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/triple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/cycles.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/print_hooks.h"
#include "runtime/symbol_table.h"
#include "runtime/words.h"
#include "services/random.h"

namespace oka {

namespace {

constexpr uint32_t kRootBlockCells = 8730;

// Each datatype registers itself, every parent before its children.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    integer::init();
    symbol::init();
    _context::init();
    word::init();
    char_::init();
    native::init();
    path::init();
    function::init();
    paren::init();
    issue::init();
    object::init();
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    time::init();
}

// A block with a fixed buffer, appended to the root block.
Node make_fixed_block_in_root(uint32_t cells) { return block::make_in(&runtime::root, int32_t(cells))->data2; }

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
    case_folding::init();
    alloc::alloc_node_frame(kNodeFrameSlots);
    alloc::alloc_series_frame();
    block::make_at_fixed(&root, kRootBlockCells, true);
    stack::init(make_fixed_block_in_root(stack::kDataStackCells));
    stack::init_calls(make_fixed_block_in_root(stack::kCallStackCells));
    lexer::init();
    symbol::init_table(root);
    _context::make_global();
    datatype::make_words();
    words::build();
    words::build_spec_words();
    error::make_catalog();
    natives::init();
    parse::init();
    ownership::init();
    interpreter::init();
    trace::init();
}

}  // namespace oka
