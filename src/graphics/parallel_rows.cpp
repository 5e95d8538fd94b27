#include "graphics/parallel_rows.h"

#include <omp.h>

#include "graphics/planes.h"

namespace talven::graphics {

void run_rows(RowFunction row, const void* job, int rows, long long pixels) {
  // Small jobs, and jobs already running on a thread of a split (sprites drawn in bands), run
  // their rows right here: even a parallel region of one thread costs more than a small blit.
  if (rows <= 1 || pixels < 16384 || !multi_threading() || omp_in_parallel()) {
    for (int y = 0; y < rows; ++y) row(job, y);
    return;
  }
#pragma omp parallel for schedule(static)
  for (int y = 0; y < rows; ++y) row(job, y);
}

void run_rows_in_order(RowFunction row, const void* job, int rows, bool backwards) {
  if (backwards) {
    for (int y = rows - 1; y >= 0; --y) row(job, y);
  } else {
    for (int y = 0; y < rows; ++y) row(job, y);
  }
}

}  // namespace talven::graphics
