// Registers the board and camera kinds of this library with the board and
// camera containers, and readies what their capture threads share (the HTTP
// library, the JPEG loader, the simulated capture boards' control folders
// under "<base>/sim"). Main thread, at start-up, before any capture.
#pragma once

void dvrRegisterDeviceKinds();
void dvrUnregisterDeviceKinds();
