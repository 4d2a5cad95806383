/* event!: one GUI event, its type, the face and window it concerns, the pointer offset, the key, a
   picked index and the modifier flags, read through fifteen named fields by path or by pick.

   An event made by `make` has header bit 12 (kEventHoldsSeries) set. Its payload word 1 holds the type
   code (1 to 38, as datatypes/event_words.def lists the types; 0 when its spec named none), word 2 the
   node of a block of four cells [face window offset picked] (0 when its spec set none of them), word 3
   the key code in bits 0-15 and the flag bits above. An event that a view back end delivers holds a copy
   of its data, not a reference into the back end: its block has a fifth cell, the key (a char! or a
   key's word), and its word 3 holds the flag bits alone.

   Rules: reading a field may allocate (the type's word, the block of flags); the answer is copied out
   by the caller at once. Only the type can be set, by path. */
#pragma once

namespace oka::event {

// Registers event!.
void init();

}  // namespace oka::event
