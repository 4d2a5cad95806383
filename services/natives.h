/* The natives the services implement: the rows of evaluator/natives.def written OKA_SERVICES_NATIVE
   (the text natives, enbase and debase with binary!'s codecs, the system and the file natives), in
   services/natives_<family>.cpp. The evaluator below names none of them: their entry points reach the
   natives table through add_natives at start-up, before any native runs.

   Rules: an entry point reads its refinements by name (evaluator/refinements.h), as the evaluator's
   natives do. */
#pragma once

#include "evaluator/natives.h"

namespace oka::natives {

#define OKA_NATIVE(slot, Name, word, spec, family)
#define OKA_SERVICES_NATIVE(slot, Name, word, spec, family) void Name##_s(const int32_t* refinements);
#include "evaluator/natives.def"

// Puts the services' entry points in their slots of the natives table; runs once, after natives::init.
void add_services_natives();

}  // namespace oka::natives
