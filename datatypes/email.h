/* email!: an e-mail address written as it stands (user@host). A child of string! with its layout: the
   text is the whole address, "@" included; form and mold write it without quotes or escapes. It takes
   string!'s series actions, but not sort, trim or random.

   Paths reach the two halves of the address: e/user is the text before the first "@", e/host the text
   after it, each as a new string!; setting either changes the address in place. An integer element
   reads or sets a character, as with a string.

   Rules: as string!'s (datatypes/string.h). A path step allocates: a get makes a new string, a set
   changes the address's buffer, which other values sharing it see. */
#pragma once

#include "runtime/cell.h"

namespace oka::email {

// Registers email! (after string!).
void init();

}  // namespace oka::email
