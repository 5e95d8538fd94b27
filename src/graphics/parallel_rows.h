// Row loops of pixel operations, split over OpenMP threads when MultiThreading is on. Each row is
// written by one thread only, so the result is the same either way.
#pragma once

namespace talven::graphics {

using RowFunction = void (*)(const void* job, int row);

// Runs row(job, y) for y = 0 .. rows - 1. `pixels` (the work of the whole call) decides whether
// splitting is worth the threads' start-up. Only for jobs whose rows are independent: no row
// reads pixels that another row writes.
void run_rows(RowFunction row, const void* job, int rows, long long pixels);

// Runs the rows one after another on the calling thread, from row rows - 1 down to 0 when
// `backwards`. For jobs whose rows read pixels that other rows write (a plane copied onto itself
// one row further up or down): the order makes every row read its pixels before they change.
void run_rows_in_order(RowFunction row, const void* job, int rows, bool backwards);

}  // namespace talven::graphics
