/* The datatype registry: every datatype's name and its row of action implementations, and each
   action's arguments as spec text (the last column of runtime/actions.def).

   Each datatype registers once at start-up, its parent first, with one value per action slot: its own
   implementation, unsupported, or inherited (the parent's entry for that slot, copied at registration).
   The action dispatchers (evaluator/actions.h) index the rows by type id and slot. The tables are
   filled during start-up and never change afterwards. */
#pragma once

#include <initializer_list>
#include <iterator>
#include <span>
#include <string_view>

#include "runtime/action_options.h"
#include "runtime/cell.h"

namespace oka {

enum class Act : uint8_t {
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) Name = slot,
#include "runtime/actions.def"
#undef OKA_ACTION
};

inline constexpr int kActionCount = 0
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) +1
#include "runtime/actions.def"
#undef OKA_ACTION
    ;
static_assert(kActionCount == 62, "every datatype has a row of 62 action slots");

// The arguments and refinements of each action in frame order, as spec text, by slot - 1.
inline constexpr std::string_view kActionArguments[] = {
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) arguments,
#include "runtime/actions.def"
#undef OKA_ACTION
};
static_assert(std::size(kActionArguments) == kActionCount, "one spec text per action");

// The word of each action, by slot - 1.
inline constexpr std::string_view kActionWords[] = {
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) word,
#include "runtime/actions.def"
#undef OKA_ACTION
};
static_assert(std::size(kActionWords) == kActionCount, "one word per action");

// The signature of a datatype's implementation of action A.
template <Act A>
struct ActionSignature;
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) \
    template <>                                                 \
    struct ActionSignature<Act::Name> {                         \
        using type = Result(*) Params;                          \
    };
#include "runtime/actions.def"
#undef OKA_ACTION
template <Act A>
using ActionImpl = typename ActionSignature<A>::type;

using AnyAction = void (*)();

// One value of a registration row: an implementation, unsupported (no function) or inherited.
struct ActionSlot {
    AnyAction fn;
    bool inherit;
};
inline constexpr ActionSlot kUnsupported{nullptr, false};
inline constexpr ActionSlot kInherit{nullptr, true};

// A slot value named by its action, so that a registration lists only the slots a type fills; the
// implementation's signature is checked against the action's at compile time.
struct ActionEntry {
    Act slot;
    ActionSlot value;
};
template <Act A>
constexpr ActionEntry implements(ActionImpl<A> fn) {
    return {A, {reinterpret_cast<AnyAction>(fn), false}};
}
template <Act A>
constexpr ActionEntry inherits() {
    return {A, kInherit};
}

namespace datatype {

struct TypeName {
    const char* name;  // with its final "!"
    uint32_t length;   // without the "!"
};

// Registers a type with a full row of kActionCount slot values. A row of any other length is a
// build fault: it is reported and the process ends.
void register_(Type id, Type parent, const char* name, std::span<const ActionSlot> slots);
// Registers a type under the name and parent of runtime/types.def; slots not listed are unsupported.
void register_(Type id, std::initializer_list<ActionEntry> entries);

Type highest_type();
bool registered_q(Type id);
const TypeName& type_name(Type id);
AnyAction action_entry(Type id, Act slot);

template <Act A>
ActionImpl<A> action(Type id) {
    return reinterpret_cast<ActionImpl<A>>(action_entry(id, A));
}

}  // namespace datatype

}  // namespace oka
