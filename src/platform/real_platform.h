#pragma once

#include "platform/platform.h"

namespace platform {

// Where the program keeps its things on this computer.
struct Places {
    QString configFolder;  // holds dravonelle/dravonelle.conf
    QString driveFolder;   // drive "c:"
    QString programFolder;
};
Places DefaultPlaces();

// Settings the web engine needs before the application object exists: shared GL
// contexts, and (where not set already) Chromium's flags for a kiosk on a closed
// network, and no sandbox for root.
void PrepareWebEngine();

// Sets the C library's heap for a long run, for this process and for those it starts (the
// web engine's), each as its blocks need: the program maps its large blocks on its own and
// returns them when freed, so its heap does not grow by fragments; the engine's frame
// buffers stay in its heap, where they are reused frame after frame, instead of being
// mapped and unmapped for each. A fixed threshold, set either way, keeps the allocator
// from moving it. Call it first thing in main().
void PrepareAllocator();

// The components of the running program, with the store's configured endpoints.
Platform MakeRealPlatform(const Places& places);

}  // namespace platform
