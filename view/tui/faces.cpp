#include "view/tui/faces.h"

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "runtime/error.h"
#include "view/tui/text.h"

namespace oka::gui {

namespace {

struct FlagWord {
    GuiWord word;
    uint32_t bit;
};
constexpr FlagWord kFlagWords[] = {
    {GuiWord::all_over, kFlagAllOver},      {GuiWord::focusable, kFlagFocusable},  {GuiWord::tri_state, kFlagTriState},
    {GuiWord::scrollable, kFlagScrollable}, {GuiWord::password, kFlagPassword},    {GuiWord::no_sync, kFlagNoSync},
    {GuiWord::fullscreen, kFlagFullscreen}, {GuiWord::popup, kFlagPopup},          {GuiWord::modal, kFlagModal},
    {GuiWord::resize, kFlagResize},         {GuiWord::no_buttons, kFlagNoButtons}, {GuiWord::no_max, kFlagNoMax},
    {GuiWord::no_min, kFlagNoMin},          {GuiWord::no_title, kFlagNoTitle},     {GuiWord::no_border, kFlagNoBorder},
};

uint32_t flag_bit(const Cell& word) {
    for (const FlagWord& flag : kFlagWords)
        if (same_word_q(word.symbol(), id(flag.word))) return flag.bit;
    fire(Err::script_invalid_arg, &word);
}

}  // namespace

Cell facet(const Cell& face, GuiWord name) {
    if (!face.is(Type::Object)) return none::value;
    return *object::rs_select(face, id(name));
}

void set_facet_quiet(const Cell& face, GuiWord name, const Cell& value) {
    int32_t position = face.is(Type::Object) ? object::find_word(face, id(name)) : -1;
    if (position >= 0) object::get_values(face)[position] = value;
}

uint32_t face_type(const Cell& face) {
    Cell type = facet(face, GuiWord::type);
    return type.is(Type::Word) || type.is(Type::LitWord) ? type.symbol() : 0;
}

bool face_type_q(const Cell& face, GuiWord type) {
    uint32_t symbol = face_type(face);
    return symbol && same_word_q(symbol, id(type));
}

bool colour_word(const Cell& value, uint32_t& colour) {
    if (!value.is(Type::Tuple)) return false;
    Bytes12 bytes = value.tuple_bytes();
    colour = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16;
    if (tuple::length_of(value) >= 4) colour |= uint32_t(bytes[3]) << 24;
    return true;
}

uint32_t get_flags(const Cell& face) {
    Cell flags = facet(face, GuiWord::flags);
    if (flags.is(Type::Word) || flags.is(Type::LitWord)) return flag_bit(flags);
    if (!flags.is(Type::Block)) return 0;
    uint32_t bits = 0;
    for (uint32_t i = flags.head(); i < series::rs_buffer_length_q(flags); i++) {
        Cell word = *block::rs_abs_at(flags, i);
        if (word.is(Type::Word) || word.is(Type::LitWord)) bits |= flag_bit(word);
    }
    return bits;
}

uint32_t para_flags(const Cell& face) {
    Cell para = facet(face, GuiWord::para);
    if (!para.is(Type::Object)) return 0;
    uint32_t flags = 0;
    Cell align = facet(para, GuiWord::align);
    if (word_is_q(align, GuiWord::center)) flags |= kAlignCenter;
    if (word_is_q(align, GuiWord::right)) flags |= kAlignRight;
    Cell v_align = facet(para, GuiWord::v_align);
    if (word_is_q(v_align, GuiWord::middle)) flags |= kAlignMiddle;
    if (word_is_q(v_align, GuiWord::bottom)) flags |= kAlignBottom;
    Cell wrap = facet(para, GuiWord::wrap_q);
    if (wrap.is(Type::Logic) && wrap.truth()) flags |= kWrap;
    return flags;
}

Cell option(const Cell& face, GuiWord key) {
    Cell options = facet(face, GuiWord::options);
    if (!options.is(Type::Block)) return none::value;
    Cell word{uint8_t(Type::Word), 0, id(key), 0};
    return *block::select_word(options, word, false);
}

}  // namespace oka::gui
