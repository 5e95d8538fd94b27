// The stretch kernels and gcopy's direct-path kernels.
#include "graphics/blit_kernels.h"

namespace talven::graphics::blit {

TALVEN_DEFINE_PICK(pick_stretch, stretch_row)
const KernelSet kStretchKernels = TALVEN_KERNEL_SET(pick_stretch, stretch_row);

// The unscaled combinations that gcopy copies directly.
RowFunction direct_kernel(int mode, bool masked, int sb, int db) {
  const int pair = pair_index(sb, db);
  constexpr int p88 = pair_index(1, 1), p816 = pair_index(1, 2), p824 = pair_index(1, 3), p832 = pair_index(1, 4),
                p1616 = pair_index(2, 2), p2424 = pair_index(3, 3), p2432 = pair_index(3, 4), p3224 = pair_index(4, 3),
                p3232 = pair_index(4, 4);
  (void)p816;
  if (!masked) {
    switch (mode) {
      case kBlitCopy:
        switch (pair) {
          case p88: return &direct_row<kBlitCopy, 1, 1, false>;
          case p1616: return &direct_row<kBlitCopy, 2, 2, false>;
          case p2424: return &direct_row<kBlitCopy, 3, 3, false>;
          case p2432: return &direct_row<kBlitCopy, 3, 4, false>;
          case p3224: return &direct_row<kBlitCopy, 4, 3, false>;
          case p3232: return &direct_row<kBlitCopy, 4, 4, false>;
        }
        return nullptr;
      case kBlitSourceKey:
      case kBlitDestinationKey: {
        const bool one = mode == kBlitSourceKey;
        switch (pair) {
          case p88: return one ? &direct_row<kBlitSourceKey, 1, 1, false> : &direct_row<kBlitDestinationKey, 1, 1, false>;
          case p824: return one ? &direct_row<kBlitSourceKey, 1, 3, false> : &direct_row<kBlitDestinationKey, 1, 3, false>;
          case p832: return one ? &direct_row<kBlitSourceKey, 1, 4, false> : &direct_row<kBlitDestinationKey, 1, 4, false>;
          case p1616: return one ? &direct_row<kBlitSourceKey, 2, 2, false> : &direct_row<kBlitDestinationKey, 2, 2, false>;
          case p2424: return one ? &direct_row<kBlitSourceKey, 3, 3, false> : &direct_row<kBlitDestinationKey, 3, 3, false>;
          case p2432: return one ? &direct_row<kBlitSourceKey, 3, 4, false> : &direct_row<kBlitDestinationKey, 3, 4, false>;
          case p3224: return one ? &direct_row<kBlitSourceKey, 4, 3, false> : &direct_row<kBlitDestinationKey, 4, 3, false>;
          case p3232: return one ? &direct_row<kBlitSourceKey, 4, 4, false> : &direct_row<kBlitDestinationKey, 4, 4, false>;
        }
        return nullptr;
      }
      case kBlitAlpha:
        return pair == p3224 ? &direct_row<kBlitAlpha, 4, 3, false> : pair == p3232 ? &direct_row<kBlitAlpha, 4, 4, false> : nullptr;
      case kBlitWindow:
        return pair == p3224 ? &direct_row<kBlitWindow, 4, 3, false> : pair == p3232 ? &direct_row<kBlitWindow, 4, 4, false> : nullptr;
      case kBlitRamp:
        return pair == p3224 ? &direct_row<kBlitRamp, 4, 3, false> : pair == p3232 ? &direct_row<kBlitRamp, 4, 4, false> : nullptr;
    }
    return nullptr;
  }
  switch (mode) {
    case kBlitAlpha:
      return pair == p1616 ? &direct_row<kBlitAlpha, 2, 2, true>
             : pair == p2424 ? &direct_row<kBlitAlpha, 3, 3, true>
             : pair == p3224 ? &direct_row<kBlitAlpha, 4, 3, true>
                             : nullptr;
    case kBlitRamp:
      return pair == p1616 ? &direct_row<kBlitRamp, 2, 2, true>
             : pair == p2424 ? &direct_row<kBlitRamp, 3, 3, true>
             : pair == p3224 ? &direct_row<kBlitRamp, 4, 3, true>
                             : nullptr;
    case kBlitWindow:
      return pair == p88     ? &direct_row<kBlitWindow, 1, 1, true>
             : pair == p1616 ? &direct_row<kBlitWindow, 2, 2, true>
             : pair == p2424 ? &direct_row<kBlitWindow, 3, 3, true>
             : pair == p3232 ? &direct_row<kBlitWindow, 4, 4, true>
                             : nullptr;
  }
  return nullptr;
}

}  // namespace talven::graphics::blit
