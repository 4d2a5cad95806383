// Dynamic arrays of bytes and 32-bit items over series buffers.
#include <gtest/gtest.h>

#include "runtime/array.h"
#include "runtime/memory.h"
#include "test_support.h"

using namespace oka;

TEST(Array, IntegersAppendFindInsertAndRemove) {
    Node a = test::keep_series(array::make(2, 4));
    EXPECT_EQ(array::length_q(a), 0u);
    EXPECT_EQ(array::find_int(a, 5), -1);
    for (int32_t v : {5, 6, 7, 8, 9}) array::append_int(a, v);  // grows past its first capacity
    EXPECT_EQ(array::length_q(a), 5u);
    EXPECT_EQ(array::find_int(a, 5), 0);
    EXPECT_EQ(array::find_int(a, 8), 12);
    EXPECT_EQ(array::pick_int(a, 1), 5);
    array::insert_int(a, 42, 1);
    EXPECT_EQ(array::pick_int(a, 2), 42);
    EXPECT_EQ(array::pick_int(a, 3), 6);
    EXPECT_EQ(array::length_q(a), 6u);
    array::remove_at(a, 0, 4);
    EXPECT_EQ(array::pick_int(a, 1), 42);
    array::set_length(a, 1);
    EXPECT_EQ(array::length_q(a), 0u);
}

TEST(Array, AddressesAndBytes) {
    Node p = test::keep_series(array::make(1, 4));
    array::append_ptr(p, 0x1000);
    array::append_ptr(p, 0x2000);
    array::poke_ptr(p, 1, 0x3000);
    EXPECT_EQ(array::find_ptr(p, 0x2000), 4);
    array::remove_ptr(p, 0x3000);
    array::remove_ptr(p, 0x9999);  // absent: nothing changes
    EXPECT_EQ(array::length_q(p), 1u);
    EXPECT_EQ(array::pick_ptr(p, 1), 0x2000u);
    EXPECT_EQ(array::flags(p) & kSeriesUnitMask, 4u);

    Node b = test::keep_series(array::make(0, 1));
    array::append_bytes(b, "hello", 5);
    array::append_byte(b, '!');
    Node c = test::keep_series(array::copy(b));
    array::clear(b);
    EXPECT_EQ(array::length_q(b), 0u);
    EXPECT_EQ(array::length_q(c), 6u);
    EXPECT_EQ(array::pick_byte(c, 6), '!');
}
