/* The boot environment: the built-in functions bound to their global words, and the library code
   written in Oka (the embedded scripts under boot/), evaluated once at start-up in order. */
#pragma once

#include <string_view>

namespace oka::boot {

// Makes a native! for every filled slot of the natives table and an action! for every action that
// scripts call, each bound to its global word, gives every datatype name word its datatype, and every
// class of types that has a typeset name (runtime/type_classes.def) its typeset, and null-handle the
// null handle!.
void define_built_ins();

// Evaluates the embedded library scripts in boot order, each as run_boot_script does.
void run_library();
// Evaluates one script of the boot environment. Nothing catches an error there: it prints its report
// and ends the process with status -2.
void run_boot_script(std::string_view text);

// The end of start-up (after runtime::init): the built-ins, then the library. Words added to the
// global context from then on are no longer also kept in the root block.
void finish_start_up();

}  // namespace oka::boot
