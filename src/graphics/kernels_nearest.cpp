// The rotated nearest-neighbour kernels.
#include "graphics/blit_kernels.h"

namespace talven::graphics::blit {

TALVEN_DEFINE_PICK(pick_nearest, nearest_row)
const KernelSet kNearestKernels = TALVEN_KERNEL_SET(pick_nearest, nearest_row);

}  // namespace talven::graphics::blit
