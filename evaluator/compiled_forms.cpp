#include "evaluator/compiled_forms.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/word.h"
#include "evaluator/fast_paths.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime/collector.h"
#include "runtime/types.h"

namespace oka::compiled {

namespace {

// ---- the table of forms ----

// What the table knows of a block's code from one head that was evaluated twice: its form, or none
// that the code could take.
struct Entry {
    Form* form = nullptr;
};

uint64_t key_of(Node node, uint32_t head) { return uint64_t(node) << 32 | head; }
Node node_of(uint64_t key) { return Node(key >> 32); }

void release(Form* form);

// The table owns one reference to each form in it, given back when the process ends.
struct Table : std::unordered_map<uint64_t, Entry> {
    Table() = default;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    ~Table() {
        for (auto& [key, entry] : *this)
            if (entry.form) release(entry.form);
    }
};
Table table;
// The keys of the forms made from each series (the block's own and those of the parens taken in).
std::unordered_map<Node, std::vector<uint64_t>> users;

void release(Form* form) {
    if (--form->refs == 0) delete form;
}

void drop(Entry& entry, uint64_t key) {
    Form* form = entry.form;
    if (!form) return;
    Recent& slot = recent_slot(node_of(key), uint32_t(key));
    if (slot.form == form) slot = {};
    entry.form = nullptr;
    form->dropped_ = true;
    release(form);
}

// The cells of a series as they stand, from its buffer's first unit.
std::vector<Cell> cells_now(Node node) {
    BufPtr<SeriesBuffer> buffer = mem::buffer(node);
    const Cell* first = mem::ptr<Cell>(buffer->offset);
    return std::vector<Cell>(first, first + buffer->used_bytes() / sizeof(Cell));
}

// Check builds: the code of a form in use is the code it was made from. Compared where it stands, with
// no copy: this runs at every use of a form.
void verify(const Form& form) {
    if constexpr (!kChecks) return;
    for (size_t i = 0; i < form.code.size(); i++) {
        BufPtr<SeriesBuffer> buffer = mem::buffer(form.code[i]);
        const std::vector<Cell>& copy = form.copies[i];
        [[maybe_unused]] bool same =
            buffer->used_bytes() == copy.size() * sizeof(Cell) &&
            std::memcmp(mem::ptr<Cell>(buffer->offset), copy.data(), copy.size() * sizeof(Cell)) == 0;
        OKA_ASSERT(same && "code changed under its compiled form without the barrier");
    }
}

// The collector's call after marking: forms whose code or whose functions it did not reach go.
void drop_unreached() {
    for (Recent& slot : recent)
        if (slot.node && !collector::marked_q(slot.node)) slot = {};
    for (auto it = table.begin(); it != table.end();) {
        Entry& entry = it->second;
        bool reached = collector::marked_q(node_of(it->first));
        if (entry.form) {
            for (Node node : entry.form->code) reached = reached && collector::marked_q(node);
            for (Node node : entry.form->functions) reached = reached && collector::marked_q(node);
        }
        if (reached) {
            ++it;
            continue;
        }
        drop(entry, it->first);
        it = table.erase(it);
    }
    for (auto it = users.begin(); it != users.end();)
        it = collector::marked_q(it->first) ? std::next(it) : users.erase(it);
}

// ---- making a form ----

constexpr uint32_t kNone = UINT32_MAX;

// The values that evaluate to something other than themselves (as the interpreter has them).
constexpr TypeMask kEvaluatedTypes = class_mask(TypeClass::any_word) | class_mask(TypeClass::any_path) |
                                     class_mask(TypeClass::any_function) | type_mask({Type::Paren, Type::Issue});
constexpr TypeMask kActiveWordValues = class_mask(TypeClass::any_function) | type_mask({Type::Unset, Type::LitWord});

// Code being read: a series' node and its cells.
struct Source {
    Node node;
    std::vector<Cell> cells;

    bool word_at(uint32_t position) const { return position < cells.size() && cells[position].is(Type::Word); }
};

// The value a word of code holds now, or null for a word whose value cannot be read without resolving
// it first.
BufPtr<Cell> value_now(const Cell& word) {
    if (!word.context() || word.position() < 0 || !_context::context_cell(word.context())->values()) return {};
    return word::get_cell(word);
}

// The functions a form may call by their word: functions and natives whose calls always take the same
// count of evaluated arguments.
bool callable(const Cell& value) {
    bool function = value.is(Type::Function) && !(value.header & function::kCompiled);
    return function || value.is(Type::Native) || value.is(Type::Action);
}

// The deepest nesting of parens and branches a form takes in: code nested deeper is evaluated in the
// general way, and the making stays within a small C++ stack.
constexpr uint32_t kNesting = 32;

// `either` or `if`, whose blocks a form may take in.
bool branching(const Cell& function) {
    return function.is(Type::Native) &&
           (function.entry() == natives::either_slot || function.entry() == natives::if_slot);
}

class Builder {
public:
    explicit Builder(Form& form) : form_(form) {}

    // The steps of the expressions of `code` from its head, up to the first one the form does not take.
    // `code` is a copy: it may be a step's cell, and the steps move as they grow.
    std::vector<uint32_t> statements(Cell code) {
        std::vector<uint32_t> taken;
        if (nesting_ >= kNesting || std::find(open_.begin(), open_.end(), code.node()) != open_.end()) return taken;
        nesting_++;
        open_.push_back(code.node());
        Source source{code.node(), cells_now(code.node())};
        for (uint32_t position = code.head(); position < source.cells.size();) {
            uint32_t statement = expression(source, position);
            if (statement == kNone) break;
            taken.push_back(statement);
            position = step(statement).next;
        }
        open_.pop_back();
        nesting_--;
        if (!taken.empty() && std::find(form_.code.begin(), form_.code.end(), code.node()) == form_.code.end())
            form_.code.push_back(code.node());
        return taken;
    }

    // The expression at `position`: its operand and the infix operators after it. kNone when the form
    // does not take it.
    uint32_t expression(const Source& source, uint32_t position) {
        uint32_t first_op = uint32_t(form_.ops.size());
        uint32_t operand_step = operand(source, position);
        if (operand_step == kNone) return kNone;
        std::vector<uint32_t> parts{operand_step};
        bool pure = step(operand_step).pure;
        uint32_t next = step(operand_step).next;
        while (source.word_at(next)) {
            BufPtr<Cell> value = value_now(source.cells[next]);
            if (!value || !value->is(Type::Op)) break;
            Cell op = *value, function = op::unwrap(op);
            uint32_t right_op = uint32_t(form_.ops.size());
            uint32_t right = operand(source, next + 1);
            if (right == kNone) return kNone;
            actions::InPlace how = actions::in_place_of(function);
            Step infix = make(StepKind::Infix, source.cells[next], next, step(right).next);
            infix.expect = op;
            infix.pure = how.computes() && step(right).pure;
            infix.in_place_kind = how.kind;
            infix.in_place_op = how.op;
            if (!infix.pure && (!callable(function) || interpreter::fixed_arity(function) != 2)) return kNone;
            note_function(op);
            pure = pure && infix.pure;
            next = infix.next;
            parts.push_back(add(infix, {right}, right_op));
        }
        bool word_follows = source.word_at(next);
        if (parts.size() == 1 && !word_follows) {
            form_.steps[operand_step].with_infix = true;
            return operand_step;
        }
        Step whole =
            make(StepKind::Expression, word_follows ? source.cells[next] : Cell::of(Type::Unset), position, next);
        whole.pure = pure;
        whole.with_infix = true;
        whole.word_follows = word_follows;
        return add(whole, parts, first_op);
    }

private:
    Form& form_;
    uint32_t nesting_ = 0;
    std::vector<Node> open_;  // the code being read, outermost first

    Step& step(uint32_t index) { return form_.steps[index]; }

    static Step make(StepKind kind, const Cell& cell, uint32_t position, uint32_t next) {
        Step step{};
        step.kind = kind;
        step.cell = cell;
        step.position = position;
        step.next = next;
        return step;
    }

    // Adds a step. A pure one gets its program: those of its children, which its building appended
    // from `first_op` on, then its own op.
    uint32_t add(Step step, const std::vector<uint32_t>& children, uint32_t first_op) {
        step.children = uint32_t(form_.children.size());
        step.count = uint32_t(children.size());
        form_.children.insert(form_.children.end(), children.begin(), children.end());
        if (step.pure) program(step, first_op);
        form_.steps.push_back(step);
        return uint32_t(form_.steps.size() - 1);
    }

    // The stack a pure step's program takes: an operand's value stays on it while the operand after it
    // is computed. An infix step's counts the value so far, which its program works on.
    uint32_t depth_of(const Step& step) {
        auto child = [&](uint32_t k) { return form_.steps[form_.children[step.children + k]].depth; };
        switch (step.kind) {
        case StepKind::InPlaceCall: return std::max(child(0), 1 + child(1));
        case StepKind::InPlaceParen: return child(0);
        case StepKind::Infix: return 1 + child(0);
        case StepKind::Expression: {
            uint32_t depth = child(0);
            for (uint32_t k = 1; k < step.count; k++) depth = std::max(depth, child(k));
            return depth;
        }
        default: return 1;
        }
    }

    void program(Step& step, uint32_t first_op) {
        step.depth = depth_of(step);
        if (step.depth > kProgramDepth) {
            // Too deep to compute by one program: it is evaluated, its children computed each by its own.
            step.pure = false;
            if (step.kind == StepKind::InPlaceCall) step.kind = StepKind::Call;
            if (step.kind == StepKind::InPlaceParen) step.kind = StepKind::Paren;
            return;
        }
        switch (step.kind) {
        case StepKind::Constant: emit(OpCode::Constant, step); break;
        case StepKind::Word: emit(OpCode::Word, step); break;
        case StepKind::InPlaceCall:
        case StepKind::Infix: emit_compute(step); break;
        case StepKind::Expression:
            if (step.word_follows) emit(OpCode::NoOp, step);
            break;
        default: break;
        }
        step.program = first_op;
        step.program_end = uint32_t(form_.ops.size());
    }

    void emit(OpCode code, const Step& step) {
        form_.ops.push_back({code, step.in_place_kind, step.in_place_op, step.cell, step.expect, Cell{}, {}, {}});
    }

    // A computing op, which takes its second value where it stands when the program of that operand
    // (the step's last child) is the one op that would push it.
    void emit_compute(const Step& step) {
        const Step& right = form_.steps[form_.children[step.children + step.count - 1]];
        const Op& last = form_.ops.back();
        bool alone = right.program_end == form_.ops.size() && right.program_end - right.program == 1;
        if (!alone || (last.code != OpCode::Constant && last.code != OpCode::Word)) {
            emit(OpCode::Compute, step);
            return;
        }
        Cell operand = last.cell;
        OpCode code = last.code == OpCode::Constant ? OpCode::ComputeConstant : OpCode::ComputeWord;
        form_.ops.pop_back();
        emit(code, step);
        form_.ops.back().operand = operand;
    }

    void note_function(const Cell& function) { form_.functions.push_back(function.extras()); }

    // The value or call at `position`, without the operators after it.
    uint32_t operand(const Source& source, uint32_t position) {
        if (position >= source.cells.size()) return kNone;
        const Cell& cell = source.cells[position];
        uint32_t first_op = uint32_t(form_.ops.size());
        if (!in_mask(kEvaluatedTypes, cell.type())) {
            Step constant = make(StepKind::Constant, cell, position, position + 1);
            constant.pure = true;
            return add(constant, {}, first_op);
        }
        switch (cell.type()) {
        case Type::SetWord: {
            uint32_t value = expression(source, position + 1);
            if (value == kNone) return kNone;
            return add(make(StepKind::SetWord, cell, position, step(value).next), {value}, first_op);
        }
        case Type::Paren: return paren(cell, position);
        case Type::Word: return word(source, position);
        default: return kNone;
        }
    }

    // A paren: taken in when its code is one expression computed in place, else evaluated as a block.
    uint32_t paren(const Cell& paren, uint32_t position) {
        uint32_t first_op = uint32_t(form_.ops.size());
        if (nesting_ >= kNesting) return add(make(StepKind::Paren, paren, position, position + 1), {}, first_op);
        Source inner{paren.node(), cells_now(paren.node())};
        uint32_t head = paren.head();
        uint32_t steps = uint32_t(form_.steps.size()), children = uint32_t(form_.children.size());
        nesting_++;
        uint32_t code = head < inner.cells.size() ? expression(inner, head) : kNone;
        nesting_--;
        if (code != kNone && step(code).pure && step(code).next == inner.cells.size()) {
            Step taken = make(StepKind::InPlaceParen, paren, position, position + 1);
            taken.pure = true;
            form_.code.push_back(inner.node);
            return add(taken, {code}, first_op);
        }
        form_.steps.resize(steps);  // what the try made goes
        form_.children.resize(children);
        form_.ops.resize(first_op);
        return add(make(StepKind::Paren, paren, position, position + 1), statements(paren), first_op);
    }

    // The blocks of a branch step's arguments, taken in: each the steps of its code as its children.
    bool take_branches(const std::vector<uint32_t>& arguments) {
        for (size_t k = 1; k < arguments.size(); k++) {
            uint32_t block = arguments[k];
            if (step(block).kind == StepKind::Expression && step(block).count == 1)
                block = form_.children[step(block).children];
            if (step(block).kind != StepKind::Constant || !step(block).cell.is(Type::Block)) return false;
            std::vector<uint32_t> taken = statements(step(block).cell);
            step(block).children = uint32_t(form_.children.size());
            step(block).count = uint32_t(taken.size());
            form_.children.insert(form_.children.end(), taken.begin(), taken.end());
        }
        return true;
    }

    // A word: a plain value, or a call of the function it holds.
    uint32_t word(const Source& source, uint32_t position) {
        const Cell& word = source.cells[position];
        uint32_t first_op = uint32_t(form_.ops.size());
        BufPtr<Cell> found = value_now(word);
        if (!found) return kNone;
        if (!in_mask(kActiveWordValues, found->type())) {
            Step plain = make(StepKind::Word, word, position, position + 1);
            plain.pure = true;
            return add(plain, {}, first_op);
        }
        Cell function = *found;
        if (!callable(function)) return kNone;
        int32_t arity = interpreter::fixed_arity(function);  // may allocate: `found` is stale after it
        if (arity < 0) return kNone;
        std::vector<uint32_t> arguments;
        bool pure = true;
        uint32_t next = position + 1;
        for (int32_t i = 0; i < arity; i++) {
            uint32_t argument = expression(source, next);
            if (argument == kNone) return kNone;
            arguments.push_back(argument);
            pure = pure && step(argument).pure;
            next = step(argument).next;
        }
        actions::InPlace how = actions::in_place_of(function);
        pure = pure && how.computes() && arity == 2;
        StepKind kind = pure ? StepKind::InPlaceCall : StepKind::Call;
        if (branching(function) && take_branches(arguments)) kind = StepKind::Branch;
        Step call = make(kind, word, position, next);
        call.expect = function;
        call.pure = pure;
        call.in_place_kind = how.kind;
        call.in_place_op = how.op;
        note_function(function);
        return add(call, arguments, first_op);
    }
};

// Makes the form of a block's code from its head: its expressions up to the first one the form does not
// take. Null when it takes none.
Form* make_form(const Cell& block) {
    auto form = std::make_unique<Form>();
    form->code.push_back(block.node());
    Builder builder(*form);
    form->statements = builder.statements(block);
    if (form->statements.empty()) return nullptr;
    for (Node node : form->code) {
        alloc::set_series_flag(node, kSeriesCompiled);
        if constexpr (kChecks) form->copies.push_back(cells_now(node));
    }
    return form.release();
}

}  // namespace

Hold::~Hold() { release(&form_); }

void init() {
    const char* setting = std::getenv("OKA_COMPILE");
    enabled = setting && std::strcmp(setting, "0") != 0;
    mem::forget_code = forget;
    collector::drop_unreached = drop_unreached;
}

Form* look_up(const Cell& block) {
    Node node = block.node();
    uint32_t head = block.head();
    Recent* slot = &recent_slot(node, head);
    bool same = slot->node == node && slot->head == head;
    if (same && (slot->form || slot->settled)) {
        if (slot->form) verify(*slot->form);
        return slot->form;
    }
    if (!enabled) return nullptr;
    uint64_t key = key_of(node, head);
    auto found = table.find(key);
    if (found == table.end()) {
        // Made at the second evaluation in a row that finds the slot: the first may be the only one.
        uint32_t evaluations = same ? slot->evaluations + 1 : 1;
        *slot = {node, head, nullptr, false, evaluations};
        if (evaluations < 2) return nullptr;
        Form* form = make_form(block);  // may allocate, and so collect
        slot = &recent_slot(node, head);
        table[key].form = form;
        if (!form) {
            *slot = {node, head, nullptr, true, 0};
            return nullptr;
        }
        for (Node code : form->code) users[code].push_back(key);
        found = table.find(key);
    }
    Form* form = found->second.form;
    if (form) verify(*form);
    *slot = {node, head, form, !form, 0};
    return form;
}

void forget(Node node) {
    mem::buffer(node)->flags &= ~kSeriesCompiled;
    auto found = users.find(node);
    if (found == users.end()) return;
    std::vector<uint64_t> keys = std::move(found->second);
    users.erase(found);
    for (uint64_t key : keys) {
        auto entry = table.find(key);
        if (entry == table.end()) continue;
        drop(entry->second, key);
        table.erase(entry);
    }
}

uint32_t count() {
    uint32_t forms = 0;
    for (const auto& [key, entry] : table) forms += entry.form != nullptr;
    return forms;
}

}  // namespace oka::compiled
