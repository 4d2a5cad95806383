#include "boot/startup.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/console_output.h"
#include "runtime/cycles.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"

namespace oka {

namespace {

constexpr uint32_t kRootBlockCells = 8730;

// Each datatype registers itself, every parent before its children.
void register_datatypes() {
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    integer::init();
}

// A block with a fixed buffer, appended to the root block.
Node make_fixed_block_in_root(uint32_t cells) {
    Node node = alloc::alloc_fixed_series(cells, sizeof(Cell), 0);
    block::make_at(alloc::alloc_tail(runtime::root).get(), node);
    return node;
}

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
    io::init_print_hooks();
    console::init_output();
    alloc::init();
    handles::init();
    cycles::init();
    register_datatypes();
    actions::init();
    alloc::alloc_node_frame(kNodeFrameSlots);
    alloc::alloc_series_frame();
    block::make_at(&root, alloc::alloc_fixed_series(kRootBlockCells, sizeof(Cell), 0));
    stack::init(make_fixed_block_in_root(stack::kDataStackCells));
    stack::init_calls(make_fixed_block_in_root(stack::kCallStackCells));
}

}  // namespace oka
