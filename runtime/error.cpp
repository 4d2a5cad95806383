#include "runtime/error.h"

#include <string>
#include <string_view>

#include "runtime/console_output.h"
#include "runtime/throw.h"

#include <cstdlib>

namespace oka {

namespace error {

namespace {

constexpr CategoryInfo kCategories[] = {
#define OKA_ERROR_CATEGORY(Name, word, text, base) {word, text, base},
#include "runtime/errors.def"
};
static_assert(std::size(kCategories) == kCategoryCount);

constexpr ErrorInfo kErrors[] = {
#define OKA_ERROR(Name, word, code, message) {Err::Name, word, message},
#include "runtime/errors.def"
};

// Within a category the codes run on from its base without a gap, and the categories follow each
// other in catalogue order: the code of an error is its category's index x 100 + its position.
constexpr bool codes_follow_catalogue_order() {
    int previous = -1;
    for (const ErrorInfo& e : kErrors) {
        int code = int(e.id);
        bool first_of_category = code % 100 == 0 && code / 100 > previous / 100;
        if (!first_of_category && code != previous + 1) return false;
        if (code / 100 >= kCategoryCount || kCategories[code / 100].base != code / 100 * 100) return false;
        previous = code;
    }
    return true;
}
static_assert(codes_follow_catalogue_order(), "errors.def: codes must follow the catalogue order");

// First index in kErrors of each category's errors; a category without errors starts where the next
// one does.
struct CategoryStarts {
    uint16_t start[kCategoryCount + 1];
};

constexpr CategoryStarts category_starts() {
    CategoryStarts s{};
    size_t i = 0;
    for (int c = 0; c <= kCategoryCount; c++) {
        while (i < std::size(kErrors) && int(kErrors[i].id) / 100 < c) i++;
        s.start[c] = uint16_t(i);
    }
    return s;
}
constexpr CategoryStarts kStarts = category_starts();

// A provisional form of an argument value, enough for the run-time's own messages.
std::string form_argument(const Cell& value) {
    switch (value.type()) {
    case Type::Integer: return std::to_string(value.int32());
    case Type::Logic: return value.truth() ? "true" : "false";
    case Type::None: return "none";
    case Type::Unset: return "unset";
    case Type::Char: return std::string(1, char(value.code_point()));
    default: return "#[value]";
    }
}

// Fills the message template: strings as they stand, argument words by the error's arguments, the
// pieces joined by single spaces.
std::string form_message(std::string_view message, const Raised& e) {
    std::string out;
    bool first = true;
    auto piece = [&](std::string_view text) {
        if (!first) out += ' ';
        out += text;
        first = false;
    };
    for (size_t i = 0; i < message.size();) {
        char c = message[i];
        if (c == '"') {
            size_t close = message.find('"', i + 1);
            piece(message.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == ':' || c == 'a') {
            size_t start = c == ':' ? i + 1 : i;
            size_t end = message.find_first_of(" ]", start);
            if (end == std::string_view::npos) end = message.size();
            int n = message[end - 1] - '1';  // arg1, arg2, arg3
            piece(n >= 0 && n < e.arg_count ? form_argument(e.args[n]) : "none");
            i = end;
        } else {
            i++;  // the block's brackets and the spaces between pieces
        }
    }
    return out;
}

}  // namespace

const CategoryInfo& category_info(ErrorCategory category) { return kCategories[int(category)]; }

const ErrorInfo& info(Err id) {
    int category = int(id) / 100;
    return kErrors[kStarts.start[category] + int(id) % 100];
}

void fire_bad_make_arg(Type type, const Cell* spec) {
    Cell datatype = Cell::of(Type::Datatype).set_named_type(type);
    fire(Err::script_bad_make_arg, &datatype, spec);
}

void fire_with_integer(Err id, int32_t value) {
    Cell integer = Cell::of(Type::Integer).set_int32(value);
    fire(id, &integer);
}

void fire_on_type(Err id, Type type, const Cell* value) {
    Cell datatype = Cell::of(Type::Datatype).set_named_type(type);
    fire(id, &datatype, value);
}

void print_raised() {
    std::string report = "*** ";
    report += category_info(category_of(raised.id)).text;
    report += ": ";
    report += form_message(info(raised.id).message, raised);
    report += '\n';
    sys::prin_cstring(report.c_str());
}

}  // namespace error

}  // namespace oka
