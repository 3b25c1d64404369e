// The body of the command thread: reads requests from cmdInHandle until exit or the end of
// input, answers them on cmdOutHandle, then posts the GUI thread's quit as its last act.
#pragma once

struct GuiCalls;
struct HelperState;

void commandLoop(HelperState *state, const GuiCalls &gui);
