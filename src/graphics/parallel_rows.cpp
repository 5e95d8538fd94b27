#include "graphics/parallel_rows.h"

#include "graphics/planes.h"

namespace talven::graphics {

void run_rows(RowFunction row, const void* job, int rows, long long pixels) {
  const bool split = rows > 1 && pixels >= 16384 && multi_threading();
#pragma omp parallel for schedule(static) if (split)
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
