/* The boot environment: the built-in functions bound to their global words, and the library code
   written in Oka (the scripts of boot/, library/, console/ and view/, built into the program as the
   boot data), evaluated once at start-up in boot order. */
#pragma once

#include <string_view>

namespace oka::boot {

// Makes a native! for every filled slot of the natives table and an action! for every action that
// scripts call, each bound to its global word, gives every datatype name word its datatype, and every
// class of types that has a typeset name (runtime/type_classes.def) its typeset, null-handle the null
// handle!, and every routine of the routine table that a global word holds its routine! value
// (library/routines.h).
void define_built_ins();
// The routine tables in C++ that define_built_ins installs (library/routines.h): a start from the heap
// image, whose memory holds the routine! values already, installs them again. Once the words they name
// exist, nothing in it allocates.
void install_routine_tables();

// Decodes the boot data (boot/boot_data.h) and evaluates its scripts in boot order, each as
// run_boot_script does (the functions they make are library code: function::kCompiled), binding the
// routines held by object fields as soon as a script made their objects, then fills in what the system
// object holds of the run-time itself (its version and build date, system/words, the error catalogue),
// and caches the objects of system the run-time reads.
void build_library();
// Evaluates one script of the boot environment. Nothing catches an error there: it prints its report
// and ends the process with status -2.
void run_boot_script(std::string_view text);

// Start-up after runtime::init, in two steps. The first, the built-ins and then the library, makes the
// same memory in every process of a build, which is what a heap image holds (boot/image_start.h); words
// added to the global context from then on are no longer also kept in the root block. The second runs
// in every process, after the first or after the image is mapped: what depends on the environment, the
// current folder and the terminal (system/options/cache and path, the view's screen and colour depth).
void build_start_up();
void start_run();
// Both steps.
void finish_start_up();

}  // namespace oka::boot
