#pragma once

// The whole run of the helper: start-up, the event loop, the orderly stop. Returns the exit
// status: 1 after a usage or import failure, otherwise the event loop's result.
int runHelper(int argc, char **argv);
