// handle!: the text of each class, which scripts cannot make handles of.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/handle.h"
#include "test_support.h"

using namespace oka;

TEST(Handle, MoldAllNamesTheClassButNull) {
    struct Case {
        int32_t value;
        HandleClass kind;
        const char* form;
        const char* molded;
    } cases[] = {
        {0, HandleClass::null, "00000000h", "#[handle! 00000000h]"},
        {0x2A, HandleClass::window, "0000002Ah", "#[handle! 0000002Ah window]"},
        {3, HandleClass::fd, "00000003h", "#[handle! 00000003h fd]"},
        {-1, HandleClass::rich_text, "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
    };
    for (const Case& c : cases) {
        Cell handle;
        handle::make_at(&handle, c.value, c.kind);
        EXPECT_EQ(test::form(handle), c.form);
        EXPECT_EQ(test::mold(handle), "handle!");
        EXPECT_EQ(test::mold_all(handle), c.molded);
        EXPECT_EQ(handle.slot(), -1) << "a handle! holds no slot of the handle table";
    }
}

TEST(Handle, HandlesOfOtherClassesAndEqualValuesAreEqual) {
    Cell window, font, other;
    handle::make_at(&window, 7, HandleClass::window);
    handle::make_at(&font, 7, HandleClass::font);
    handle::make_at(&other, 8, HandleClass::window);
    EXPECT_TRUE(actions::compare(&window, &font, kCompareEqual));
    EXPECT_TRUE(actions::compare(&window, &other, kCompareLesser));
}
