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

// The components of the running program, with the store's configured endpoints.
Platform MakeRealPlatform(const Places& places);

}  // namespace platform
