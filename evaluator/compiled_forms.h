/* Compiled forms of code: what the interpreter works out about a block's expressions, kept from one
   evaluation of the block to the next.

   A form belongs to a block's buffer (its node) and head index. It is a tree of steps, one per
   expression and per part of one: constants, word reads, set-words, calls of functions that take a
   fixed count of evaluated arguments, infix operators, parens, and the math and comparisons that the
   interpreter computes in place. Each step keeps the position where its code starts and the one after
   it, so that the interpreter can leave the form at any step and go on with the general evaluation
   from there; it does so whenever what it meets is not what the form was made for.

   Rules:
   - Made at a block's second untraced evaluation (the first may be its only one), by the interpreter
     (interpreter::run_expressions), never while tracing. OKA_COMPILE=1 in the environment at start-up
     turns forms on, OKA_COMPILE=0 off (the default, until forms run faster than the general
     evaluation): a switch for tests and diagnosis, which must see the same results either way.
   - A form holds no pointer into the language memory: nodes, positions, and copies of code cells
     (constants, words) and of the function values it expects.
   - The code: every series a form was made from (the block, the parens it took in) is flagged
     kSeriesCompiled, and whatever changes the cells of such a series calls mem::code_changing first
     (the series actions through ownership::check, binding), which drops every form made from it. A
     form that runs while it is dropped is kept alive by its Hold; the interpreter asks dropped() after
     each step that may run code, and evaluates the rest in the general way.
   - Blocks and parens whose code is evaluated where they stand (a paren, the blocks of `either` and
     `if`) are taken into the form: the steps of their expressions are its own, their series among the
     form's code, and the interpreter runs them without looking for a form of their own.
   - The words: a form assumes nothing of their values. A step reads each word's value where it is used
     (which the evaluation needs anyway) and compares it with the kind the form was made for: a plain
     value, or the very function or operator. Where the value's cell is (a Slot) is kept from one use
     to the next while mem::epoch says that no buffer has moved. A step that meets another hands itself to the general
     evaluation before it has changed anything, and the step around it goes on from where that one
     ended. A word after an expression is looked at where it could make an infix call.
   - The collector: forms hold their nodes weakly. After marking, a form whose code or whose expected
     functions were not reached is dropped, since the cycle may give their nodes to new series.
   - Check builds compare the form's copy of its code with the code at every use, so that a writer of
     code that misses the barrier fails the tests. */
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace oka::compiled {

enum class StepKind : uint8_t {
    // Computed in place: they change nothing, so one that cannot finish hands its whole tree back.
    Constant,      // a value that evaluates to itself: `cell`; a block taken in as a branch has the
                   // steps of its expressions as children
    Word,          // word `cell`, holding a plain value
    InPlaceCall,   // word `cell` holding the function `expect`, computed in place on its two arguments
    InPlaceParen,  // a paren whose code is one expression computed in place: the child
    // Evaluated: they may run any code.
    Call,     // word `cell` holding the function `expect`, called on its arguments: the children
    Paren,    // the paren `cell`, evaluated as a block: by the steps of its expressions, its children, if any
    Branch,   // `either` or `if` (word `cell` holding the native `expect`) on a condition and literal blocks:
              // the children, each block a Constant (or an Expression of one) with the steps of its code
    SetWord,  // set-word `cell`, set to the value of the expression that is the child
    // Either: the operand (the first child) and the infix steps after it.
    Expression,
    Infix,  // op word `cell` holding `expect`, applied to the value so far and the operand (the child)
};

// Where a word of a form found its value, and mem::epoch then: until the next series allocation or
// collection no buffer moves, so the value is still in that cell. A word of a function's frame keeps
// its context cell instead, as the values are in the frame of each call. Set by the interpreter as it
// runs the form; an epoch of kNever is none.
inline constexpr uint64_t kNever = UINT64_MAX;
struct Slot {
    uint64_t epoch = kNever;
    Addr at = 0;
    bool frame = false;
};

// The steps computed in place run as one program of these, in order, on a small stack of values.
enum class OpCode : uint8_t {
    Constant,  // pushes `cell`
    Word,      // pushes the value of word `cell`, unless it is one that evaluation would not take as it is
    Compute,   // word `cell` holding `expect` computes in place on the top two values, which it replaces
    // Compute with its second value taken where it stands, not pushed: the constant `operand`, or the
    // value of word `operand` (taken as Word takes it). The step of that operand then has no program
    // of its own: it is computed only with its parent.
    ComputeConstant,
    ComputeWord,
    NoOp,  // word `cell` does not hold an op! (an infix call would follow the expression before it)
};

struct Op {
    OpCode code;
    uint32_t in_place_kind;  // the computing ops: how the function computes (actions::InPlace)
    int32_t in_place_op;
    Cell cell;
    Cell expect;
    Cell operand;
    mutable Slot slot;  // of word `cell`
    mutable Slot operand_slot;
};

// The deepest stack a program may take.
inline constexpr uint32_t kProgramDepth = 16;

struct Step {
    StepKind kind;
    bool pure;               // computed in place, with all its children: by the ops of its program
    bool with_infix;         // an expression: the general evaluation takes the operators after it too
    bool word_follows;       // an expression followed by a word, which may have become an op!
    uint32_t in_place_kind;  // for InPlaceCall and a pure Infix: how the function computes (actions::InPlace)
    int32_t in_place_op;
    uint32_t position;  // where its code starts
    uint32_t next;      // the position after it
    uint32_t children;  // index of its first child in Form::children
    uint32_t count;     // its number of children
    uint32_t program;   // a pure step: the index of its program's first op in Form::ops, and its end
    uint32_t program_end;
    uint32_t depth;  // a pure step: the stack its program takes
    Cell cell;
    Cell expect;
    mutable Slot slot;  // of word `cell`
};

class Form {
public:
    std::vector<Step> steps;
    std::vector<uint32_t> children;         // step indexes
    std::vector<uint32_t> statements;       // the top-level expressions, in order
    std::vector<Op> ops;                    // the programs of the pure steps
    std::vector<Node> code;                 // the series it was made from, the block first
    std::vector<Node> functions;            // the extras of the functions it expects
    std::vector<std::vector<Cell>> copies;  // check builds: the cells of each series of `code`
    uint32_t refs = 1;                      // the table's, and each Hold's
    bool dropped_ = false;

    bool dropped() const { return dropped_; }
    const Step& child(const Step& step, uint32_t k) const { return steps[children[step.children + k]]; }
};

// Keeps a form alive while it runs.
class Hold {
public:
    explicit Hold(Form& form) : form_(form) { form.refs++; }
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    Form& form_;
};

// Reads OKA_COMPILE and sets the barrier's and the collector's hooks.
void init();

// Whether forms are in use: OKA_COMPILE set and not 0. They are off by default while the general
// evaluation is as fast.
inline bool enabled = false;

// The forms found last, by a hash of their block's node and head: most evaluations of a block find its
// form here. A slot whose form is null tells that the code has none (yet): it counts the code's
// evaluations until one is made, so that code evaluated once costs no more than the slot.
struct Recent {
    Node node = 0;
    uint32_t head = 0;
    Form* form = nullptr;
    bool settled = false;  // no form, and none will be made: the code took nothing
    uint32_t evaluations = 0;
};
inline constexpr uint32_t kRecentSlots = 4096;
inline Recent recent[kRecentSlots];

OKA_ALWAYS_INLINE Recent& recent_slot(Node node, uint32_t head) {
    return recent[((node >> 2) * 0x9E3779B1u + head) >> 20 & (kRecentSlots - 1)];
}

// form_of past the recent slots.
Form* look_up(const Cell& block);

// The form of `block`'s code from its head: null while there is none (forms off, the block's first
// evaluation, code with nothing the forms take). Making one reads the spec of each function it calls,
// which may allocate.
OKA_ALWAYS_INLINE Form* form_of(const Cell& block) {
    Recent& slot = recent_slot(block.node(), block.head());
    if (slot.node == block.node() && slot.head == block.head() && (slot.settled || (slot.form && !kChecks)))
        return slot.form;
    return look_up(block);
}

// Drops every form made from the series of `node` (the barrier's call).
void forget(Node node);

// The count of forms held, for the tests.
uint32_t count();

}  // namespace oka::compiled
