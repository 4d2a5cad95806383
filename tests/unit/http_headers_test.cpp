// The header map of an HTTP response, read from the header lines as they came: the scan is bounded by
// the text, whatever the lines hold.
#include <string>

#include "natives_testing.h"
#include "services/simple_io.h"

using namespace oka;
using namespace oka::test;

namespace {

class HttpHeaders : public CodeTest {};

std::string mold_flat(const Cell& value) { return text_of(run(actions::mold_s, {value}, {-1, -1, 0})); }

}  // namespace

TEST_F(HttpHeaders, EachLineGivesItsNameAndValueWithinTheText) {
    struct Case {
        const char* text;
        const char* map;
    } cases[] = {
        {"Content-Type: text/plain\r\nContent-Length: 5\r\n", R"(#[Content-Type: "text/plain" Content-Length: "5"])"},
        {"X-Bare:value\r\n", R"(#[X-Bare: "value"])"},
        {"X-Last: no line end", R"(#[X-Last: "no line end"])"},
        {"X-Empty:", R"(#[X-Empty: ""])"},
        {"X-Space: ", R"(#[X-Space: ""])"},
        {"X-Cr: a\r", R"(#[X-Cr: "a"])"},
        {"X-Lf: a\nX-Other: b", R"(#[X-Lf: "a" X-Other: "b"])"},
        {"no colon\r\n: no name\r\n\r\nX-After: c\r\n", R"(#[X-After: "c"])"},
        {"X-Colons: a: b\r\n", R"(#[X-Colons: "a: b"])"},
        {"Set-Cookie: a\r\nX: 1\r\nset-cookie: b\r\nSet-Cookie: c", R"(#[Set-Cookie: ["a" "b" "c"] X: "1"])"},
        {"", "#[]"},
    };
    for (const Case& c : cases) {
        stack::Root keep(none::value);
        EXPECT_EQ(mold_flat(*simple_io::parse_headers(c.text)), c.map) << c.text;
    }
}
