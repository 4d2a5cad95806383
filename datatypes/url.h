/* url!: a string holding a URL in its decoded form, a child of string! with its layout. Its literal's
   percent escapes ("%20") are decoded when it loads and applied again when it molds; file! (a child of
   url!) shares the table of characters that stand bare, and the codec here serves both.

   Percent escapes: "%" and two hexadecimal digits stand for one byte. Decoding takes a run of escapes
   whose bytes make one UTF-8 sequence as that character, an escape of a byte that starts no sequence
   (below C0h) as the code point of the byte, and leaves any other escape ("%E9" alone, "%zz") as the
   text it is. Encoding writes the UTF-8 bytes of a text, those outside the table as escapes in
   upper-case digits.

   A URL's path selects by joining: url/b is a new URL with exactly one "/" before b. Opening, reading
   and writing a URL are the I/O services' (HTTP), handed to init by start-up.

   Rules: as string!'s (datatypes/string.h): make, to, mold, the path and the encoder allocate; decode
   does not. */
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "runtime/registry.h"

namespace oka::url {

// Registers url! (after string!) with the actions that reach out given.
void init(std::span<const ActionEntry> reaching_out);

// The characters below 128 that encoding leaves as they are; every other byte becomes an escape.
enum class Table {
    strict,  // letters, digits and "-._~"
    url,     // also ! # $ & ' ( ) * + , / : = ? @
    mold,    // the url table less the brackets "(" and ")", which end a URL literal
    file,    // the mold table less the comma, which ends a file literal
};
bool bare_q(Table table, uint32_t byte);

// The text of UTF-8 bytes with its percent escapes decoded, as UTF-8. The bytes must be valid UTF-8.
std::string decode(const uint8_t* bytes, uint32_t length);
// Appends to `buffer` the UTF-8 form of the string's text from its head, encoded by the table; stops
// once `part` characters are written. Returns `part` less the characters written.
int32_t encode(const Cell& string, Cell* buffer, Table table, int32_t part);

}  // namespace oka::url
