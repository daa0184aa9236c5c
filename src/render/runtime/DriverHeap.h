// The heap policy the software renderer needs to draw at its pace. llvmpipe bins each frame's
// triangles into 64 KB blocks that it allocates while the frame is drawn and frees once the
// frame is rasterised. With glibc's default policy, each free at the top of the heap hands the
// memory back to the system (the trim threshold starts at 128 KB and only grows after a large
// block happened to be freed), and the next frame takes it back page by page: measured on the
// benchmark, up to half of the drawing thread's time went to page faults. A device keeps freed
// memory in the process instead, up to a bound.
#pragma once

namespace d3d8rt {

// Sets the policy once per process: memory freed at the top of the heap is kept up to 64 MB,
// and blocks below 32 MB come from the heap rather than from mappings of their own, so that
// their pages stay mapped between frames.
void KeepFreedHeap();

} // namespace d3d8rt
