/* The objects of `system` that the run-time itself reads (the locale, the currency list, the options,
   the error catalogue, the console ...), the preprocessor that do/expand calls and the library's URL parser, cached
   once start-up has built them.

   Rules: every reference holds none until start-up calls cache(), then the object as start-up made
   it, for the life of the process. The run-time reads these, never the word `system`: a script that
   sets `system` to something else does not change what money and dates find. The fields of the
   objects are read when they are needed, so a script that changes a field is heard. The references
   are roots of the collector. */
#pragma once

#include "runtime/cell.h"

namespace oka::system_objects {

struct References {
    Cell system;
    Cell build;
    Cell catalog;
    Cell state;
    Cell callbacks;  // system/state/callbacks
    Cell locale;
    Cell currencies;  // system/locale/currencies
    Cell options;
    Cell standard;
    Cell lexer;
    Cell console;       // system/console, whose do-command the transcript tests and the fuzz target call
    Cell preprocessor;  // the global word preprocessor
    Cell url_parser;    // the global url-parser, whose parse-url gives the spec of a port opened on a URL
};
inline References references;

// Makes every reference none and a root of the collector.
void init();
// Takes the objects from the system object that the global word `system` holds, and the preprocessor
// from its global word.
void cache();

}  // namespace oka::system_objects
