/* datatype!: a value naming a type. Payload word 1 holds the type id it names. */
#pragma once

#include "runtime/cell.h"

namespace oka::datatype {

void init();
// Makes the word of every registered type's name (integer!, ...); types registered later make theirs
// at once.
void make_words();
void make_word(Type type);
// Gives every type's name word its datatype! as value.
void set_words();
// The word of a type's name.
const Cell& word_of(Type type);

Cell* make_at(Cell* cell, Type type);
Cell* push(Type type);
Cell* make_in(const Cell& block, Type type);

}  // namespace oka::datatype
