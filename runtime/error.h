/* Raising language errors.

   Every language error is raised through `fire` with an id of the error catalogue (runtime/errors.def)
   and up to three argument values; it never returns. The error travels as the throw code kThrowError
   to the nearest protected call at that level.

   Every layer raises through `fire` and the helpers below, but their bodies are the evaluator's
   (evaluator/raise.cpp): an error is an error! value, named by the call it arose in and shown to the
   tracer, which only the layers above know. This header is their face below.

   Each raise also records its id and arguments (error::raised): an error raised before the catalogue
   exists, or one whose report runs out of memory, is reported from that record.

   C++ code may also run out of memory outside the language memory: a container's growth throws
   std::bad_alloc. Where the interpreter makes a call (gathering its arguments and running a native or
   an action), and inside every try frame, that exception becomes the no-memory error
   (no_memory_for_bad_alloc), so that a try takes it like any other error. */
#pragma once

#include <new>

#include "runtime/cell.h"

namespace oka {

enum class Err : uint16_t {
#define OKA_ERROR(Name, word, code, message) Name = code,
#include "runtime/errors.def"
};

enum class ErrorCategory : uint8_t {
#define OKA_ERROR_CATEGORY(Name, word, text, base) Name,
#include "runtime/errors.def"
};

[[noreturn]] void fire(Err id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// Runs `body`; a std::bad_alloc thrown in it raises the no-memory error in its place, from the stacks as
// the C++ frames it passed left them. The try block costs nothing while nothing is thrown.
template <class F>
OKA_ALWAYS_INLINE void no_memory_for_bad_alloc(F&& body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        fire(Err::internal_no_memory);
    }
}

namespace error {
// make refused its spec: script bad-make-arg with the type and the spec.
[[noreturn]] void fire_bad_make_arg(Type type, const Cell* spec);
// Raises `id` with one integer! argument.
[[noreturn]] void fire_with_integer(Err id, int32_t value);
// Raises `id` with a binary! of the bytes as its argument. They are copied before the binary is made,
// so they may lie in a series buffer.
[[noreturn]] void fire_with_bytes(Err id, const uint8_t* bytes, uint32_t length);
// Raises `id` with the datatype `type` as its first argument and `value`, when given, as its second.
[[noreturn]] void fire_on_type(Err id, Type type, const Cell* value = nullptr);
// Raises `id` with the running function's name, the datatype `type` and the word of the call's
// argument `argument` (from 0): the arguments of expect-arg, cannot-use and not-related.
[[noreturn]] void fire_in_function(Err id, Type type, int32_t argument = 0);
// Raises `id` with the word of the running native or action (for an operator, the word of the native
// or action it stands for: multiply, not *) and the datatype `type`: the arguments of not-related and
// cannot-use, whose messages name the operation.
[[noreturn]] void fire_on_action(Err id, Type type);
// Raises script invalid-refine-arg with the word of the refinement (part, skip ...) and its argument.
[[noreturn]] void fire_refinement(const char* refinement, const Cell* value);
}  // namespace error

namespace error {

struct CategoryInfo {
    const char* word;  // as the category is named in scripts
    const char* text;  // the category's text in reports ("Script Error")
    uint16_t base;     // code of its first error
};

struct ErrorInfo {
    Err id;
    const char* word;     // the id as named in scripts
    const char* message;  // Oka text: a string, or a block of strings and argument words
};

inline constexpr int kCategoryCount = 10;
inline constexpr ErrorCategory category_of(Err id) { return ErrorCategory(uint16_t(id) / 100); }
const CategoryInfo& category_info(ErrorCategory category);
const ErrorInfo& info(Err id);

// The last error raised, with copies of its arguments.
struct Raised {
    Err id;
    int arg_count;
    Cell args[3];
};
inline Raised raised;

// The report of the last error raised: "*** <category text>: <message>".
void print_raised();

}  // namespace error

}  // namespace oka
