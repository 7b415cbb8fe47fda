// The windowed recorder: the application object DVR on the toolkit's event loop.
#pragma once

// Runs the toolkit's application with the recorder's start-up; returns the exit code.
int dvrRunWindowed(int argc, char** argv);
