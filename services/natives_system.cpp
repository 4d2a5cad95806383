// The natives that ask the operating system: now, the date and time of the clock in the local zone or
// in UTC; wait, sleeping; call, running another program with its streams redirected; browse, opening a
// url or a file with the desktop's own program for it; get-env, set-env and list-env, the variables of
// the environment.
#include <cstring>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/refinements.h"
#include "platform/os.h"
#include "platform/process.h"
#include "runtime/error.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "services/natives.h"
#include "services/simple_io.h"

namespace oka::natives {

namespace {

using NowName = RefinementName<now_slot>;

// The refinements that choose what now answers: at most one of them, but time with precise.
constexpr NowName kChoices[] = {"year", "month", "day", "zone", "time", "date", "weekday", "yearday", "precise"};

// The refinements that answer one field of the date (field 0: the day of the year).
struct Pick {
    NowName refinement;
    int32_t field;
};
constexpr Pick kPicks[] = {
    {"year", date::kYear}, {"month", date::kMonth},     {"day", date::kDay}, {"zone", date::kZone},
    {"time", date::kTime}, {"weekday", date::kWeekday}, {"yearday", 0},
};

// The bytes of a value from its head: a text's UTF-8 encoding, a binary's bytes.
std::string bytes_of(const Cell& value) {
    if (!value.is(Type::Binary)) return binary::utf8_of(value);
    string::Text bytes = string::text_of(value);
    return {reinterpret_cast<const char*>(bytes.data.get()), bytes.length};
}

// The stream that a redirection value stands for: a file! names the file; a text or binary is fed to
// the child (input) or receives what it writes (output, error).
platform::Stream redirection(const Cell& value, bool input) {
    if (value.is(Type::File)) return {platform::Stream::Kind::file, file::os_path_checked(value), {}};
    return {platform::Stream::Kind::pipe, {}, input ? bytes_of(value) : std::string()};
}

// The stream of a refinement: its redirection when given, else `otherwise`.
platform::Stream stream_of(const Cell* value, bool input, platform::Stream::Kind otherwise) {
    return value ? redirection(*value, input) : platform::Stream{otherwise, {}, {}};
}

// Adds what the child wrote to a capturing target: a string gets the text appended, decoded from
// UTF-8; a binary gets the bytes inserted at its head. A file! target has had them written already.
void deliver(Cell* target, const std::string& bytes) {
    if (bytes.empty() || target->is(Type::File)) return;
    bool text = target->is(Type::String);
    std::string loaded = text ? unicode::valid_utf8(bytes) : bytes;
    if (loaded.size() >= 0x80000000u) fire(Err::script_too_long);
    const auto* data = reinterpret_cast<const uint8_t*>(loaded.data());
    Cell* value = text ? string::load(data, uint32_t(loaded.size()), unicode::kUtf8)
                       : binary::load(data, uint32_t(loaded.size()));
    actions::call<Act::insert>(target, value, EditOptions{}, text);
    stack::pop(1);
}

// The text of a variable's name or value: a word's spelling, or a text from its head, as UTF-8.
std::string text_of(const Cell& value) {
    if (is_a(value.type(), TypeClass::any_word)) return std::string(symbol::name(value.symbol()));
    return binary::utf8_of(value);
}

bool holds_nul(const std::string& text) { return text.find('\0') != text.npos; }

// The arguments that run a command: a file! names the program itself, which runs with no arguments and
// whose name no shell splits or reads (one without a folder is the current folder's, not one found on
// PATH); text is a command line for the shell.
std::vector<std::string> command_of(const Cell& command) {
    std::string text = file::os_path_checked(command);
    if (!command.is(Type::File)) return platform::shell_command(text);
    return {text.find('/') == std::string::npos ? "./" + text : text};
}

}  // namespace

void now_s(const int32_t* positions) {
    Refinements<now_slot> refinements(positions);
    bool precise = refinements.given("precise");
    int32_t given = 0;
    for (NowName choice : kChoices) given += refinements.given(choice);
    if (given > 1 && !(given == 2 && precise && refinements.given("time"))) fire(Err::script_bad_refines);
    platform::Calendar clock = platform::read_calendar(refinements.given("utc"), precise);
    Cell* result = stack::arguments();
    *result = Cell::of(Type::Date).set_date_word(clock.date);
    if (refinements.given("date")) {
        result->set_date_word(result->date_word() & ~(date::kTimeFlag | date::kZoneBits));
        return;
    }
    // The zone holds the offset to the quarter hour: the moment is kept, the time of day follows it.
    int64_t days = date::date_to_days(clock.date);
    double slot = date::normalize_time(days, clock.seconds - clock.offset, date::zone_of(clock.date));
    result->set_date_word(date::days_to_date(days, date::zone_of(clock.date), true));
    result->set_time_slot(slot);
    for (const Pick& pick : kPicks) {
        if (!refinements.given(pick.refinement)) continue;
        if (pick.field)
            stack::set_last(*date::get_field(*result, pick.field));
        else
            integer::box(date::year_day(result->date_word()));
        return;
    }
}

// Sleeps for a number of seconds (an integer!, float! or time!), then answers none. While a view runs,
// its event loop runs instead for that time, so that its timers keep time and its keys are read.
void wait_s(const int32_t*) {
    const Cell* value = stack::arguments();
    double seconds = 0;
    switch (value->type()) {
    case Type::Integer: seconds = value->int32(); break;
    case Type::Float:
    case Type::Time: seconds = value->f64(); break;
    default: fire(Err::script_invalid_arg, value);
    }
    none::box();
    if (!io::wait_in_view(seconds)) platform::sleep(seconds);
}

// Runs a command line through the shell, as every command line is run here (so /shell changes nothing,
// nor does /show: no window is made), or the program a file! names. Redirecting any stream, or
// /console, waits for the child; unredirected output and error go to the null device unless /console
// leaves them the console's, and the input stays the console's. The answer is the child's exit status
// when waited for, else its process id; -1 when a stream or the shell cannot be opened. A child that
// writes more than a series holds to a string or binary is ended, and internal no-memory raised.
void call_s(const int32_t* positions) {
    Refinements<call_slot> refinements(positions);
    Cell* command = stack::arguments();
    if (string::text_of(*command).length == 0) {
        integer::box(0);
        return;
    }
    bool console = refinements.given("console");
    auto quiet = console ? platform::Stream::Kind::inherit : platform::Stream::Kind::null_device;
    platform::ChildProcess child{
        command_of(*command),
        stream_of(refinements.arg("input"), true, platform::Stream::Kind::inherit),
        stream_of(refinements.arg("output"), false, quiet),
        stream_of(refinements.arg("error"), false, quiet),
    };
    child.wait = refinements.given("wait") || console || refinements.given("input") || refinements.given("output") ||
                 refinements.given("error");
    child.output_limit = simple_io::kLargestSeries;
    int32_t status = platform::run_process(child);
    if (child.output.too_large || child.error.too_large) fire(Err::internal_no_memory);
    if (Cell* output = refinements.arg("output")) deliver(output, child.output.bytes);
    if (Cell* error = refinements.arg("error")) deliver(error, child.error.bytes);
    integer::box(status);
}

// Opens a url or a file with the desktop's program for it (xdg-open), without waiting; access
// cannot-open when that program cannot be started.
void browse_s(const int32_t*) {
    Cell* target = stack::arguments();
    std::string name = file::os_path_checked(*target);
    platform::ChildProcess opener{{"xdg-open", name}, {}, {}, {}, false};
    if (platform::run_process(opener) < 0) fire(Err::access_cannot_open, target);
    unset::box();
}

// A variable that is not set, or whose name no variable can have, gives none.
void get_env_s(const int32_t*) {
    std::string name = text_of(*stack::arguments());
    const char* value = holds_nul(name) ? nullptr : platform::get_env(name.c_str());
    if (!value)
        none::box();
    else
        stack::set_last(*string::load_utf8_checked(reinterpret_cast<const uint8_t*>(value), uint32_t(strlen(value))));
}

// Sets the variable to a string, or removes it for none. A name that the system refuses (empty, or
// holding "=") and a text holding NUL, which would cut it short, raise script invalid-arg.
void set_env_s(const int32_t*) {
    Cell* var = stack::arguments();
    Cell* value = var + 1;
    std::string name = text_of(*var);
    if (holds_nul(name)) fire(Err::script_invalid_arg, var);
    std::string text = value->is(Type::None) ? std::string() : text_of(*value);
    if (holds_nul(text)) fire(Err::script_invalid_arg, value);
    if (!platform::set_env(name.c_str(), value->is(Type::None) ? nullptr : text.c_str()))
        fire(Err::script_invalid_arg, var);
    stack::set_last(*value);
}

// The environment as a map of each variable's name to its value, both strings; bytes that are not
// UTF-8 become U+FFFD, as in what a child writes, so that one odd variable hides none of the others.
void list_env_s(const int32_t*) {
    std::vector<std::pair<std::string, std::string>> variables = platform::list_env();
    Cell* block = block::push_only_s(int32_t(variables.size() * 2));
    for (const auto& variable : variables)
        for (const std::string& text : {variable.first, variable.second}) {
            std::string valid = unicode::valid_utf8(text);
            string::load_in(reinterpret_cast<const uint8_t*>(valid.data()), uint32_t(valid.size()), *block,
                            unicode::kUtf8);
        }
    map::make_at(block, uint32_t(variables.size()));
    stack::set_last(*block);
}

}  // namespace oka::natives
