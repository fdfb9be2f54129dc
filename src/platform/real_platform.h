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

// The components of the running program, with the store's configured endpoints.
Platform MakeRealPlatform(const Places& places);

}  // namespace platform
