#pragma once

#include "platform/system_power.h"

// The code module: the one routine that lives outside the window.
namespace Module1 {

// Ends every active dial-up connection of the computer; other connections stay up.
// Returns at once: the listing and the hang-ups complete through the event loop.
void HangUpDialUp(platform::DialUp& dialUp);

// Whether a connection is of a dial-up kind.
bool IsDialUp(const platform::ActiveConnection& connection);

}  // namespace Module1
