// money!: the value layout, the currency list, the constructors and conversions, the text and the
// accessors. The arithmetic is in money_math.cpp.
#include <algorithm>
#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/money_internal.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/lexer.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/types.h"

namespace oka::money {

namespace {

constexpr int kDigitBytes = 11;  // 22 digits, two a byte
constexpr size_t kWholeDigits = 17;
constexpr size_t kDecimals = 5;
constexpr uint32_t kNameableCurrencies = 255;  // a value holds its currency's position in one byte

// The currency byte, then the digit bytes: bytes 4 to 15 of the cell.
const uint8_t* payload(const Cell& cell) { return reinterpret_cast<const uint8_t*>(&cell) + 4; }
uint8_t* payload(Cell& cell) { return reinterpret_cast<uint8_t*>(&cell) + 4; }

// ---- the system object ----

// A field of the system object, down a path of object fields; none when the system object does not
// hold it (as before the boot scripts have made it).
Cell system_field(std::initializer_list<Sym> path) {
    Cell value = system_objects::references.system;
    for (Sym name : path) {
        if (!value.is(Type::Object)) return none::value;
        value = *object::rs_select(value, words::id(name));
    }
    return value;
}

Cell currency_list() { return system_field({Sym::locale, Sym::currencies, Sym::list}); }

bool same_code_q(std::string_view a, std::string_view b) {
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return upper(x) == upper(y); });
}

// The 1-based position of a currency code in the list, or -1 when the list does not hold it among the
// positions a value can name.
int32_t currency_index(std::string_view code) {
    Cell list = currency_list();
    if (!list.is(Type::Block)) return -1;
    uint32_t count = std::min(block::rs_length_q(list), kNameableCurrencies);
    BufPtr<Cell> codes = block::rs_head(&list);
    for (uint32_t i = 0; i < count; i++)
        if (codes[i].is(Type::Word) && same_code_q(symbol::name(codes[i].symbol()), code)) return int32_t(i + 1);
    return -1;
}

// The decimals that form and mold show.
size_t shown_decimals() {
    Cell digits = system_field({Sym::options, Sym::money_digits});
    int32_t asked = digits.is(Type::Integer) ? integer::get(digits) : 2;
    return size_t(std::clamp(asked, 0, int32_t(kDecimals)));
}

// ---- amounts from text ----

// The magnitude of decimal digits, the whole part and the fraction, which fit the range.
Units units_of(std::string_view whole, std::string_view fraction) {
    Units units = 0;
    for (char c : whole) units = units * 10 + Units(c - '0');
    for (size_t i = 0; i < kDecimals; i++) units = units * 10 + Units(i < fraction.size() ? fraction[i] - '0' : 0);
    return units;
}

// A float read through its shortest decimal text, which is plain for every magnitude money takes
// ("-123.45", "0.00001", "7.0"). False when no amount is the float.
bool float_money(double f, bool strict, Money& money) {
    if (float_outside_q(f)) return false;
    std::string_view text = sys::form_float(f, 0, true);
    bool negative = text[0] == '-';
    if (negative) text.remove_prefix(1);
    size_t point = text.find('.');
    std::string_view fraction = text.substr(point + 1);
    if (fraction.size() > kDecimals) {
        if (strict) return false;
        fraction = fraction.substr(0, kDecimals);
    }
    money = {units_of(text.substr(0, point), fraction), negative, 0};
    return true;
}

// ---- text ----

// The digits of a magnitude: the whole part, with "'" between thousands when `grouped`, then a point
// and the first `decimals` decimals when there are any to show. NUL-terminated; returns the end.
char* put_digits(char* out, Units units, bool grouped, size_t decimals) {
    char whole[kWholeDigits];
    int count = 0;
    Units rest = units / kUnitsPerWhole;
    do {
        whole[count++] = char('0' + int(rest % 10));
        rest /= 10;
    } while (rest != 0);
    for (int place = count - 1; place >= 0; place--) {
        *out++ = whole[place];
        if (grouped && place > 0 && place % 3 == 0) *out++ = '\'';
    }
    if (decimals > 0) *out++ = '.';
    uint32_t fraction = uint32_t(units % kUnitsPerWhole);
    for (uint32_t i = 0, place = 10000; i < decimals; i++, place /= 10) *out++ = char('0' + fraction / place % 10);
    *out = '\0';
    return out;
}

// How write_text writes the digits: every decimal or those the settings show, grouped by thousands or
// not.
struct Digits {
    bool all_decimals = false;
    bool grouped = false;
};

// "-", the currency code, "$" and the digits.
int32_t write_text(const Cell& value, Cell* buffer, int32_t part, Digits digits) {
    Money money = read(value);
    Cell code = currency_word(money.currency);
    char text[48] = "$";
    put_digits(text + 1, money.units, digits.grouped, digits.all_decimals ? kDecimals : shown_decimals());
    if (money.negative) part = string::write_token(buffer, "-", false, part);
    if (code.is(Type::Word)) part = word::form(&code, buffer, nullptr, part);
    return string::write_token(buffer, text, false, part);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return write_text(*value, buffer, part, {.grouped = true});
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return write_text(*value, buffer, part, {.all_decimals = options.all});
}

// ---- make and to ----

Cell result;  // the answer of make, to, eval-path and pick, copied out by the dispatcher at once

[[noreturn]] void refuse_to(const Cell* spec) { error::fire_on_type(Err::script_bad_to_arg, Type::Money, spec); }

// Money text: the literal's syntax, where the $ may be left out when no currency is named.
const Cell* from_text(const Cell* text) {
    tokenizer::MoneyText parts;
    if (!tokenizer::scan_money(string::text_of(*text), parts) ||
        !make_at(&result, parts.negative, parts.currency, parts.whole, parts.fraction))
        refuse_to(text);
    return &result;
}

const Cell* to(Cell*, Cell* spec, Type) {
    switch (spec->type()) {
    case Type::Money: return spec;
    case Type::Integer: return from_integer(&result, integer::get(*spec));
    case Type::Float: return from_float(&result, float_::get(*spec), true);
    default:
        if (!is_a(spec->type(), TypeClass::any_string)) refuse_to(spec);
        return from_text(spec);
    }
}

// A currency code: a zero amount of that currency.
const Cell* from_currency_word(const Cell* code) {
    int32_t index = currency_index(symbol::name(code->symbol()));
    if (index < 0) error::fire_bad_make_arg(Type::Money, code);
    return write(&result, {0, false, uint8_t(index)});
}

// [currency amount decimals], the currency and the decimals optional: a currency word, an integer! or
// float! amount, and after an integer the decimals as a whole number from 0 to 99999 (34 is .00034),
// which take the amount's sign. So [EUR 12 50000] is EUR$12.50000 and [-3 1] is -$3.00001.
const Cell* from_block(const Cell* block) {
    auto refuse = [&] { error::fire_bad_make_arg(Type::Money, block); };
    Cell spec = *block;
    uint32_t count = block::rs_length_q(spec);
    if (count < 1 || count > 3) refuse();
    Cell items[3];
    std::copy_n(block::rs_head(&spec).get(), count, items);
    int32_t currency = 0;
    uint32_t at = 0;
    if (items[0].is(Type::Word)) {
        currency = currency_index(symbol::name(items[0].symbol()));
        if (currency < 0 || count == 1) refuse();
        at = 1;
    }
    Money money;
    const Cell& amount = items[at++];
    if (amount.is(Type::Integer))
        money = integer_money(integer::get(amount));
    else if (!amount.is(Type::Float) || !float_money(float_::get(amount), true, money))
        refuse();
    if (at < count) {
        const Cell& decimals = items[at];
        if (!amount.is(Type::Integer) || at + 1 != count || !decimals.is(Type::Integer) || integer::get(decimals) < 0 ||
            Units(integer::get(decimals)) >= kUnitsPerWhole)
            refuse();
        money.units += Units(integer::get(decimals));
    }
    money.currency = uint8_t(currency);
    return write(&result, money);
}

const Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::Word)) return from_currency_word(spec);
    if (spec->is(Type::Block)) return from_block(spec);
    return to(proto, spec, type);
}

// ---- accessors ----

enum Field { kCode = 1, kAmount = 2 };

// The field an element names, by its number or its name (case ignored), or 0.
int32_t field_of(const Cell& element) {
    if (element.is(Type::Integer)) return integer::get(element);
    if (!element.is(Type::Word)) return 0;
    if (symbol::named_q(element.symbol(), Sym::code)) return kCode;
    if (symbol::named_q(element.symbol(), Sym::amount)) return kAmount;
    return 0;
}

// The currency word (none without one), or the amount without its currency.
const Cell* get_field(const Cell& value, int32_t field) {
    Money money = read(value);
    if (field == kCode) return &(result = currency_word(money.currency));
    money.currency = 0;
    return write(&result, money);
}

// Money is a value: its fields are read, never set.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    const Cell* where = step.path ? step.path : &none::value;
    if (value) fire(Err::script_bad_path_set, where, element);
    int32_t field = field_of(*element);
    if (field != kCode && field != kAmount) fire(Err::script_invalid_path, where, element);
    return get_field(*parent, field);
}

const Cell* pick(Cell* value, int32_t, Cell* index) {
    int32_t field = field_of(*index);
    if (field != kCode && field != kAmount) fire(Err::script_out_of_range, index);
    return get_field(*value, field);
}

template <integer::MathOp Op>
void math() {
    money::do_math(Op);
}

}  // namespace

Money read(const Cell& cell) {
    const uint8_t* bytes = payload(cell);
    Money money{0, (cell.header & kSignBit) != 0, bytes[0]};
    for (int i = 1; i <= kDigitBytes; i++) money.units = money.units * 100 + (bytes[i] >> 4) * 10 + (bytes[i] & 15);
    if (money.units == 0) money.negative = false;
    return money;
}

Cell* write(Cell* cell, const Money& money) {
    OKA_ASSERT(money.units < kLimit);
    Cell made = Cell::of(Type::Money, (money.negative && money.units != 0 ? kSignBit : 0));
    uint8_t* bytes = payload(made);
    bytes[0] = money.currency;
    Units rest = money.units;
    for (int i = kDigitBytes; i >= 1; i--, rest /= 100) bytes[i] = uint8_t(rest / 10 % 10 << 4 | rest % 10);
    *cell = made;
    return cell;
}

Cell currency_word(uint8_t index) {
    Cell list = currency_list();
    if (index == 0 || !list.is(Type::Block) || index > block::rs_length_q(list)) return none::value;
    Cell code = block::rs_head(&list)[index - 1];
    return code.is(Type::Word) ? code : none::value;
}

void init() {
    datatype::register_(Type::Money, {
                                         implements<Act::make>(make),
                                         implements<Act::random>(random),
                                         implements<Act::to>(to),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         implements<Act::absolute>(absolute),
                                         implements<Act::add>(math<integer::MathOp::add>),
                                         implements<Act::divide>(math<integer::MathOp::divide>),
                                         implements<Act::multiply>(math<integer::MathOp::multiply>),
                                         implements<Act::negate>(negate),
                                         implements<Act::remainder>(math<integer::MathOp::remainder>),
                                         implements<Act::round>(round),
                                         implements<Act::subtract>(math<integer::MathOp::subtract>),
                                         implements<Act::even_q>(even_q),
                                         implements<Act::odd_q>(odd_q),
                                         implements<Act::pick>(pick),
                                     });
}

int32_t sign_q(const Cell& money) { return read(money).sign(); }

bool make_at(Cell* cell, bool negative, std::string_view currency, std::string_view whole, std::string_view fraction) {
    whole.remove_prefix(std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.size() > kWholeDigits || fraction.size() > kDecimals) return false;
    int32_t index = currency.empty() ? 0 : currency_index(currency);
    if (index < 0) return false;
    write(cell, {units_of(whole, fraction), negative, uint8_t(index)});
    return true;
}

Cell* from_integer(Cell* cell, int32_t n) { return write(cell, integer_money(n)); }

Cell* from_float(Cell* cell, double f, bool strict) {
    Money money;
    if (!float_money(f, strict, money)) {
        Cell number;
        error::fire_bad_make_arg(Type::Money, float_::make_at(&number, f));
    }
    return write(cell, money);
}

int32_t to_integer(const Cell& money) {
    Money value = read(money);
    Units whole = value.units / kUnitsPerWhole;
    if (whole > (value.negative ? Units(2147483648u) : Units(2147483647)))
        error::fire_on_type(Err::script_type_limit, Type::Integer);
    return int32_t(value.negative ? -int64_t(whole) : int64_t(whole));
}

// Read from its decimal text, so correctly rounded.
double to_float(const Cell& money) {
    Money value = read(money);
    char text[32];
    char* end = put_digits(text, value.units, false, kDecimals);
    int32_t left;
    double magnitude = sys::strtod(text, end, 0, &left);
    return value.negative ? -magnitude : magnitude;
}

Cell* as_money(Cell* cell, const Cell& currency, const Cell& amount) {
    int32_t index = currency_index(symbol::name(currency.symbol()));
    if (index < 0) fire(Err::script_bad_denom, &currency);
    Cell* made = amount.is(Type::Integer) ? from_integer(cell, integer::get(amount))
                                          : from_float(cell, float_::get(amount), false);
    Money value = read(*made);
    value.currency = uint8_t(index);
    write(cell, value);
    return cell;
}

}  // namespace oka::money
