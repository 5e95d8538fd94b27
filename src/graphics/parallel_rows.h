// Row loops of pixel operations, split over OpenMP threads when MultiThreading is on. Each row is
// written by one thread only, so the result is the same either way.
#pragma once

namespace talven::graphics {

using RowFunction = void (*)(const void* job, int row);

// Runs row(job, y) for y = 0 .. rows - 1. `pixels` (the work of the whole call) decides whether
// splitting is worth the threads' start-up.
void run_rows(RowFunction row, const void* job, int rows, long long pixels);

}  // namespace talven::graphics
