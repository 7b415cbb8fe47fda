// Headless mode: the recorder without any window. The same start-up and
// shutdown run; a 20 ms timer issues "refresh" as the main window would, and
// each line read from standard input is executed on the main thread as the
// console window executes it. End of input does not quit (the recorder runs
// on as a daemon); "quit", SIGINT or SIGTERM end it with the normal shutdown.
#pragma once

// Runs the whole life of a headless recorder; returns the process exit code.
int dvrRunHeadless();
