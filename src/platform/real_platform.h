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

// Keeps the C library's heap from growing over a long run, in this process and in the
// processes it starts (the web engine's): large blocks are always mapped on their own
// and returned when freed. Without this, the blocks that a page's drawing allocates and
// frees move the allocator's threshold up, and the heap grows by fragments that are
// never returned. Call it first thing in main().
void PrepareAllocator();

// The components of the running program, with the store's configured endpoints.
Platform MakeRealPlatform(const Places& places);

}  // namespace platform
