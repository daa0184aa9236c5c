#pragma once

// Fills CurrentComputer.VideoAdapter, HalCaps and RefCaps from the runtime, or sets
// Direct3DMissing when the runtime cannot be created.
void ReadAdapterInfo();
