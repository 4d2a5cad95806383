/* What the text-mode back end reads and writes of faces: their facets by name, their flags, colours
   and paragraph settings, and the options of their options block.

   Faces are objects made from face!; a facet that a face lacks reads as none. Writing a facet here is
   quiet: no change handler runs, so the back end can keep a face's state in step with its widget (a
   check box's data, a text-list's selection) without the change coming back to it.

   Rules: reading allocates nothing; get_flags raises invalid-arg for a flag word it does not know. */
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/tui/words.h"

namespace oka::gui {

// The flag bits of a face's flags facet.
enum FaceFlag : uint32_t {
    kFlagAllOver = 0x1,
    kFlagFocusable = 0x2,
    kFlagTriState = 0x20000,
    kFlagScrollable = 0x40000,
    kFlagPassword = 0x80000,
    kFlagNoSync = 0x100000,
    kFlagFullscreen = 0x200000,
    kFlagPopup = 0x1000000,
    kFlagModal = 0x2000000,
    kFlagResize = 0x4000000,
    kFlagNoButtons = 0x8000000,
    kFlagNoMax = 0x10000000,
    kFlagNoMin = 0x20000000,
    kFlagNoTitle = 0x40000000,
    kFlagNoBorder = 0x80000000,
};

// The change bits of a face's state (slot 2): one bit per facet, by its position in face!.
enum FacetBit : uint32_t {
    kChangedOffset = 0x2,
    kChangedSize = 0x4,
    kChangedImage = 0x10,
    kChangedData = 0x80,
    kChangedEnabled = 0x100,
    kChangedVisible = 0x200,
    kChangedSelected = 0x400,
    kChangedFlags = 0x800,
    kChangedRate = 0x10000,
    kChangedPara = 0x40000,
};

// The facet's value; none when the face (or the value, when it is no object) has no such facet.
Cell facet(const Cell& face, GuiWord name);
// Sets a facet that the face has, without running its change handlers.
void set_facet_quiet(const Cell& face, GuiWord name, const Cell& value);
// The symbol of the face's type word, 0 when its type is no word.
uint32_t face_type(const Cell& face);
bool face_type_q(const Cell& face, GuiWord type);

// The colour word of a tuple! (R in bits 0-7, G 8-15, B 16-23, alpha 24-31); false for another value.
bool colour_word(const Cell& value, uint32_t& colour);

// The bits of the face's flags facet: a word or a block of words (any other value has none).
uint32_t get_flags(const Cell& face);
// The paragraph flags (ParaFlag of view/tui/text.h) of the face's para object.
uint32_t para_flags(const Cell& face);
// The value after `key` in the face's options block; none when there is none.
Cell option(const Cell& face, GuiWord key);

}  // namespace oka::gui
