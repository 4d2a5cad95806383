/* Raising errors: the evaluator's side of `fire` (runtime/error.h).

   Every layer raises through `fire` and the error helpers that runtime/error.h declares; their bodies
   live here, because an error is an error! value (datatypes/error.h), named by the call it arose in and
   shown to the tracer (evaluator/trace.h), which only this layer knows. stack::throw_error sends an
   error value that is already made, as `do` of an error! does.

   Rules: raising never returns. Making an error allocates, but for the ready-made no-memory and
   stack-overflow errors, whose raising allocates nothing. */
#pragma once

#include "runtime/cell.h"

namespace oka::stack {

// Sends an error to the nearest try frame: names the function it happened in (the error's where and
// stack fields), unrolls the call stack to that frame, pushes the error and throws kThrowError. With no
// try frame to take it, the error is printed and the process ends with status -2.
[[noreturn]] void throw_error(const Cell& error);

}  // namespace oka::stack
