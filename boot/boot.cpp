#include "boot/boot.h"

#include <string>
#include <string_view>

#include "boot/boot_data.h"
#include "console/line_input.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/system_objects.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "library/routines.h"
#include "platform/os.h"
#include "runtime/print_hooks.h"
#include "runtime/registry.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "runtime/unicode.h"
#include "services/okabin.h"
#include "view/tui/routines.h"

namespace oka::boot {

namespace {

struct ActionSpec {
    Act slot;
    const char* word;
    const char* arguments;
};

constexpr ActionSpec kActionSpecs[] = {
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) {Act::Name, word, arguments},
#include "runtime/actions.def"
#undef OKA_ACTION
};

// The actions the run-time uses inside (path selection, comparison) have no word of their own.
bool internal_action(Act slot) { return slot == Act::eval_path || slot == Act::set_path || slot == Act::compare; }

// Makes a native! or action! from its spec text and table slot, and binds its global word to it.
void define(Type type, const char* word, std::string_view spec_text, uint32_t slot) {
    Cell* saved = stack::top;
    Cell* spec = lexer::load(spec_text);
    const Cell* made = native::make_built_in(type, *spec, int32_t(slot));
    Cell name = word::load(word);
    word::set_value(&name, *made);
    stack::top = saved;
}

// The typesets named after the classes of types (any-word!, series! ...), so that the language's sets
// and the run-time's tests agree.
void define_class_typesets() {
    for (int c = 0; c < kTypeClassCount; c++) {
        const char* name = typeset_name(TypeClass(c));
        if (!name) continue;
        Cell word = word::load(name);
        word::set_value(&word, typeset::from_mask(class_mask(TypeClass(c))));
    }
}

// The object view of the global context: an object whose context is the global one, with no class and
// no handlers, also kept as the context's own value.
Cell* push_words_object() {
    Cell* words = object::push(_context::global, uint32_t(-1));
    *_context::self_cell(_context::global) = *words;
    return words;
}

// Pushes the first value of a text.
Cell* push_loaded(std::string_view text) { return stack::push(*block::rs_abs_at(*lexer::load(text), 0)); }

// A path as a file!, or none while file! is not part of the run-time.
Cell* push_file(std::string_view path) {
    if (!datatype::registered_q(Type::File)) return stack::push(none::value);
    Node text = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(path.data()), uint32_t(path.size()));
    return stack::push(Cell::of(Type::File).set_node(text));
}

// The folder for cached data: $APPDATA/Oka/, else $XDG_CONFIG_HOME/Oka/, else ~/.config/Oka/.
std::string cache_folder() {
    if (const char* appdata = platform::get_env("APPDATA")) return std::string(appdata) + "/Oka/";
    if (const char* config = platform::get_env("XDG_CONFIG_HOME")) return std::string(config) + "/Oka/";
    const char* home = platform::get_env("HOME");
    return std::string(home ? home : "") + "/.config/Oka/";
}

// Sets the field at a path of system to the value `push` pushes.
void set_system_field(const char* path, Cell* (*push)()) {
    Cell* saved = stack::top;
    Cell* value = push();
    *library::field_cell(path) = *value;
    stack::top = saved;
}

// What the system object holds of the run-time itself, filled in once the boot scripts made it.
void fill_system() {
    struct Field {
        const char* path;
        Cell* (*push)();
    };
    static constexpr Field kFields[] = {
        {"system/version", [] { return push_loaded(binary::utf8_of(*library::field_cell("system/version"))); }},
        {"system/build/date", [] { return push_loaded(sys::build_date()); }},
        {"system/words", push_words_object},
        {"system/catalog/errors", [] { return stack::push(error::catalog()); }},
    };
    for (const Field& field : kFields) set_system_field(field.path, field.push);
}

// The part of start-up that depends on where and how the program runs: the current folder as
// system/options/path (set through its handler, which keeps it in step with the process's folder), and
// the view's set-up, which measures the terminal and reads its colour depth from the environment (the
// screen face, the metrics and the font words are in place before any script runs). It runs as the boot
// scripts do, as library code.
constexpr std::string_view kRunScript = R"(
    system/options/path: to-oka-file get-current-dir
    system/view/platform/init
)";

}  // namespace

void define_built_ins() {
    datatype::set_words();
    define_class_typesets();
    Cell null_handle = word::load("null-handle");
    word::set_value(&null_handle, *handle::push_null());
    stack::pop(1);
    for (uint32_t slot = 1; slot <= natives::count(); slot++) {
        std::string_view spec = natives::spec_of(slot);
        define(Type::Native, natives::word_of(slot), spec.substr(1, spec.size() - 2), slot);
    }
    for (const ActionSpec& a : kActionSpecs)
        if (!internal_action(a.slot)) define(Type::Action, a.word, a.arguments, uint32_t(a.slot));
    install_routine_tables();
    library::bind_global_routines();
}

void install_routine_tables() {
    library::init();
    line_input::add_routines();
    gui::add_routines();
}

void run_boot_block(const Cell& code) {
    Cell* saved = stack::top;
    interpreter::eval_block(code, false);
    stack::top = saved;
}

void run_boot_script(std::string_view text) {
    Cell* saved = stack::top;
    run_boot_block(*lexer::load(text));
    stack::top = saved;
}

void build_library() {
    function::building_library = true;
    Cell scripts = *block::rs_abs_at(runtime::root, okabin::boot_load(kBootData, kBootDataSize));
    // A routine held by an object field is in its place as soon as the script that made the object has run.
    for (uint32_t i = 0; i < block::rs_length_q(scripts); i++) {
        run_boot_block(*block::rs_abs_at(scripts, i));
        library::bind_field_routines();
    }
    function::building_library = false;
    fill_system();
    system_objects::cache();
}

void build_start_up() {
    define_built_ins();
    build_library();
    _context::collecting_new_words = false;
}

void start_run() {
    set_system_field("system/options/cache", [] { return push_file(cache_folder()); });
    function::building_library = true;
    run_boot_script(kRunScript);
    function::building_library = false;
}

void finish_start_up() {
    build_start_up();
    start_run();
}

}  // namespace oka::boot
