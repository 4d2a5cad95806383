/* The options of the actions that take many refinements, one struct per action (or per family of
   actions that share them), as runtime/actions.def names them in the actions' signatures.

   An action's stack entry point fills its struct once from the call's refinements; native code that
   calls an implementation directly names only what it sets, as in FindOptions{} or
   MoldOptions{.all = true}.

   Rules: each field is one refinement of the action, named after it and in the order the action lists
   them (eval-path has none: its fields tell a path step where it stands); a flag is false and an
   argument cell null when the call does not name the refinement, and a default-made struct is a call
   that names none. A struct is passed by const reference and not kept past the call. */
#pragma once

#include "runtime/cell.h"

namespace oka {

// mold: /only /all /flat /part limit (the limit's cell; the budget it leaves runs separately).
struct MoldOptions {
    bool only = false;
    bool all = false;
    bool flat = false;
    Cell* limit = nullptr;

    // What the values inside a mold are told: only the outer value drops its brackets.
    MoldOptions inner() const { return {false, all, flat, limit}; }
};

// One step of a path: the path and where it is, the cells of the steps around it, and how it selects.
struct EvalPathOptions {
    Cell* path = nullptr;
    Cell* container = nullptr;  // the value the step before selected from
    Cell* previous = nullptr;   // the selector of the step before
    int32_t index = 0;          // of the element in the path
    bool case_ = false;
    bool get = false;
    bool last = false;  // the path's last step
    bool notify = false;
};

// round: /to scale /even /down /half-down /floor /ceiling /half-ceiling.
struct RoundOptions {
    Cell* scale = nullptr;
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};

// append, insert and change: /part /only /dup, the counts normalised by the stack entry point.
struct EditOptions {
    int32_t part = -1;  // the units /part takes, -1 without it
    bool only = false;
    int32_t dup = 1;
};

// copy: /part length /deep /types kind.
struct CopyOptions {
    Cell* part = nullptr;
    bool deep = false;
    Cell* types = nullptr;
};

// select: /part length /only /case /same /any /with wild /skip size /last /reverse.
struct SelectOptions {
    Cell* part = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    bool any = false;
    Cell* with = nullptr;
    Cell* skip = nullptr;
    bool last = false;
    bool reverse = false;
};

// find: select's refinements, then /tail /match.
struct FindOptions : SelectOptions {
    bool tail = false;
    bool match = false;
};

// sort: /case /skip size /compare comparator /part length /all /reverse /stable.
struct SortOptions {
    bool case_ = false;
    Cell* skip = nullptr;
    Cell* compare = nullptr;
    Cell* part = nullptr;
    bool all = false;
    bool reverse = false;
    bool stable = false;
};

// trim: /head /tail /auto /lines /all /with str.
struct TrimOptions {
    bool head = false;
    bool tail = false;
    bool auto_ = false;
    bool lines = false;
    bool all = false;
    Cell* with = nullptr;
};

// open: /new /read /write /seek /allow access.
struct OpenOptions {
    bool new_ = false;
    bool read = false;
    bool write = false;
    bool seek = false;
    Cell* allow = nullptr;
};

// read: /part length /seek index /binary /lines /info /as encoding.
struct ReadOptions {
    Cell* part = nullptr;
    Cell* seek = nullptr;
    bool binary = false;
    bool lines = false;
    bool info = false;
    Cell* as = nullptr;
};

// write: /binary /lines /info /append /part length /seek index /allow access /as encoding.
struct WriteOptions {
    bool binary = false;
    bool lines = false;
    bool info = false;
    bool append = false;
    Cell* part = nullptr;
    Cell* seek = nullptr;
    Cell* allow = nullptr;
    Cell* as = nullptr;
};

}  // namespace oka
