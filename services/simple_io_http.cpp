// The url! actions that reach out: read and write of http and https URLs go through one HTTP request;
// the other schemes go through a port made from the URL's parts, which the library's URL parser gives.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/system_objects.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "platform/http.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "runtime/unicode.h"
#include "services/simple_io.h"

namespace oka::simple_io {

namespace {

// ---- the request ----

constexpr int32_t kWhole = 0x7FFFFFFF;

// The UTF-8 text of a value's mold, or its form. Making the text allocates, so the value is copied to
// the stack first: the block that holds it may move.
std::string text_made(const Cell& value, Act action) {
    Cell* copy = stack::push(value);
    Cell* text = string::rs_make_at(stack::push_next(), 64);
    if (action == Act::mold)
        actions::call<Act::mold>(copy, text, MoldOptions{}, kWhole, 0);
    else
        actions::call<Act::form>(copy, text, nullptr, kWhole);
    std::string made = binary::utf8_of(*text);
    stack::pop(2);
    return made;
}

// The method's text: GET, HEAD and POST as they are known, any other word's spelling in upper case.
std::string method_text(uint32_t method) {
    std::string text(symbol::name(method));
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

// The text of a value as a header takes it: a word's spelling, a string as it is, anything else formed.
// A line break in it would end the header line and start another: it is refused.
std::string header_text(const Cell& value) {
    std::string text = is_a(value.type(), TypeClass::any_word) ? std::string(symbol::name(value.symbol()))
                       : value.is(Type::String)                ? binary::utf8_of(value)
                                                               : text_made(value, Act::form);
    if (text.find_first_of("\r\n") != text.npos) fire(Err::script_invalid_arg, &value);
    return text;
}

// The header lines of a block of names and values, or the defaults when there is no block.
std::vector<std::string> header_lines(const Cell* headers) {
    if (!headers)
        return {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
    std::vector<std::string> lines;
    Cell* block = stack::push(*headers);
    for (uint32_t i = 0; i + 1 < block::rs_length_q(*block); i += 2) {
        Cell name = *block::rs_abs_at(*block, block->head() + i);
        Cell value = *block::rs_abs_at(*block, block->head() + i + 1);
        std::string line = header_text(name) + ": ";
        line += header_text(value);
        lines.push_back(std::move(line));
    }
    stack::pop(1);
    return lines;
}

// The body: none for GET and HEAD or without data, a binary's bytes, a string's text as UTF-8, a
// block's molded text.
std::optional<std::string> body_of(const std::string& method, const Cell* data) {
    if (!data || data->is(Type::None) || method == "GET" || method == "HEAD") return std::nullopt;
    if (data->is(Type::Binary)) {
        string::Text bytes = string::text_of(*data);
        return std::string(reinterpret_cast<const char*>(bytes.data.get()), bytes.length);
    }
    if (data->is(Type::String)) return binary::utf8_of(*data);
    return text_made(*data, Act::mold);
}

// ---- the response ----

bool same_name_q(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

struct Header {
    std::string_view name;
    std::vector<std::string_view> values;
};

// The headers by name, in the order each name first came, with their values in order of arrival.
std::vector<Header> headers_of(std::string_view text) {
    std::vector<Header> headers;
    while (!text.empty()) {
        size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.ends_with('\r')) line.remove_suffix(1);
        size_t colon = line.find(':');
        if (colon == line.npos || colon == 0) continue;
        std::string_view name = line.substr(0, colon), value = line.substr(colon + 1);
        if (value.starts_with(' ')) value.remove_prefix(1);
        auto known =
            std::find_if(headers.begin(), headers.end(), [&](const Header& h) { return same_name_q(h.name, name); });
        if (known == headers.end()) known = headers.insert(headers.end(), Header{name, {}});
        known->values.push_back(value);
    }
    return headers;
}

void append_string(const Cell& block, std::string_view text) {
    string::load_in(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), block, unicode::kUtf8);
}

const Cell* request(uint32_t method, const Cell& url, const Cell* headers, const Cell* data, const ReadOptions& as) {
    // The URL goes out in its literal form, where every character that a URL cannot hold as it is stands
    // as percent escapes of its UTF-8 bytes.
    platform::HttpRequest request{
        method_text(method), text_made(url, Act::mold), header_lines(headers), {}, kLargestSeries};
    request.body = body_of(request.method, data);
    platform::HttpResponse response = platform::http_request(request);
    if (response.too_large) fire(Err::internal_no_memory);
    if (!response.failure.empty()) fire(Err::access_no_connect, &url, reason_of(response.failure));
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(response.body.data());
    if (!as.info) return bytes_to_value(bytes, response.body.size(), as.binary, as.lines);
    Cell* info = block::push_only_s(3);
    Cell status;
    integer::make_at(&status, int32_t(response.status));
    block::rs_append(*info, status);
    block::rs_append(*info, *parse_headers(response.headers));
    stack::top = info + 1;
    block::rs_append(*info, *bytes_to_value(bytes, response.body.size(), as.binary, as.lines));
    stack::top = info + 1;
    return info;
}

// ---- the actions ----

bool http_q(const Cell& url) { return string::match_q(url, "http"); }

// ---- a port on the URL, for the other schemes ----

// A port whose spec is what url-parser/parse-url makes of a copy of the URL, called in a frame of its
// own; a URL that it cannot split is an invalid argument. The port is opened when `open` is given.
Cell* open_port(Cell* url, const OpenOptions* open) {
    Cell* spec = stack::push(*url);
    actions::call<Act::copy>(url, spec, CopyOptions{});
    Cell parser = system_objects::references.url_parser;
    Cell parse_url = parser.is(Type::Object) ? *object::rs_select(parser, words::id(Sym::parse_url)) : none::value;
    if (!parse_url.is(Type::Function)) fire(Err::script_invalid_arg, url);
    Cell name;
    word::make_at(words::id(Sym::parse_url), &name);
    interpreter::call_function(parse_url, spec, 1, name);
    if (!spec->is(Type::Object)) fire(Err::script_invalid_arg, url);
    Cell* port = stack::push(*datatype::action<Act::make>(Type::Port)(spec, spec, Type::Port));
    if (open) actions::call<Act::open>(port, *open);
    stack::top = port + 1;
    return port;
}

const Cell* open(Cell* url, const OpenOptions& options) { return open_port(url, &options); }

const Cell* read(Cell* source, const ReadOptions& options) {
    if (!http_q(*source)) return actions::call<Act::read>(open_port(source, nullptr), options);
    if (options.part || options.seek || options.as) fire(Err::internal_not_done);
    return request(symbol::make("GET"), *source, nullptr, nullptr, options);
}

[[noreturn]] void refuse(const Cell& value) { fire(Err::script_invalid_arg, &value); }

// A block describes the request: [method headers data], each part optional; any other value is the
// data of a POST.
const Cell* write(Cell* destination, Cell* value, const WriteOptions& options) {
    if (!http_q(*destination)) return actions::call<Act::write>(open_port(destination, nullptr), value, options);
    if (options.seek || options.allow || options.as) fire(Err::internal_not_done);
    uint32_t method = symbol::make("POST");
    const Cell *headers = nullptr, *data = value;
    if (value->is(Type::Block)) {
        uint32_t count = block::rs_length_q(*value);
        auto part = [&](uint32_t i) { return block::rs_abs_at(*value, value->head() + i); };
        method = symbol::make("GET");
        data = nullptr;
        if (count > 0) {
            if (!part(0)->is(Type::Word)) refuse(*part(0));
            method = part(0)->symbol();
        }
        if (count > 1) {
            if (!part(1)->is(Type::Block)) refuse(*part(1));
            headers = stack::push(*part(1));
        }
        if (count > 2) data = stack::push(*part(2));
    }
    if (data && !data->is(Type::None) && !data->is(Type::Block) && !data->is(Type::String) && !data->is(Type::Binary))
        refuse(*data);
    return request(method, *destination, headers, data,
                   ReadOptions{.binary = options.binary, .lines = options.lines, .info = options.info});
}

const ActionEntry kUrlActions[] = {
    implements<Act::open>(open),
    implements<Act::read>(read),
    implements<Act::write>(write),
};

}  // namespace

std::span<const ActionEntry> url_actions() { return kUrlActions; }

Cell* parse_headers(std::string_view text) {
    std::vector<Header> headers = headers_of(text);
    Cell* pairs = block::push_only_s(int32_t(2 * headers.size()));
    for (const Header& header : headers) {
        word::load_in(header.name, *pairs);
        if (header.values.size() == 1) {
            append_string(*pairs, header.values[0]);
            continue;
        }
        Cell* values = block::push_only_s(int32_t(header.values.size()));
        for (std::string_view value : header.values) append_string(*values, value);
        block::rs_append(*pairs, *values);
        stack::pop(1);
    }
    return map::make_at(pairs, uint32_t(headers.size()));
}

}  // namespace oka::simple_io
