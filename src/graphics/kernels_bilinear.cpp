// The rotated bilinear kernels.
#include "graphics/blit_kernels.h"

namespace talven::graphics::blit {

TALVEN_DEFINE_PICK(pick_bilinear, bilinear_row)
const KernelSet kBilinearKernels = TALVEN_KERNEL_SET(pick_bilinear, bilinear_row);

}  // namespace talven::graphics::blit
