// What the files of date! share beyond datatypes/date.h: the time of day of a cell and the actions
// that date_fields.cpp implements.
#pragma once

#include "datatypes/date.h"
#include "runtime/action_options.h"

namespace oka::date {

// The local time of day: the time slot plus the zone's offset, 0 for a date without time.
double local_time(const Cell& date);
// Gives a date without time the time flag, at midnight in the zone it holds.
void give_time(Cell* date);
// Stores a time slot and carries whole days out of it into the date, zone and time flag kept; with
// `local` the time is a local time of day, converted to the slot first.
void normalize(Cell* date, double time, bool local);

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step);
const Cell* pick(Cell* date, int32_t index, Cell* index_cell);

}  // namespace oka::date
