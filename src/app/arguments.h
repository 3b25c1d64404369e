// Picking the two channel arguments out of the command line.
#pragma once

#include <string>

struct ChannelArguments {
    std::string in;  // the whole "--cmdInFd=..." argument, empty when not given
    std::string out; // the whole "--cmdOutFd=..." argument, empty when not given
};

// Scans argv[1..argc-1]; a prefix counts only at position 0 and in this letter case, and a later
// occurrence replaces an earlier one. Other arguments are left for the application object.
ChannelArguments scanChannelArguments(int argc, const char *const *argv);

// "usage: <program> --cmdInFd=<handle> --cmdOutFd=<handle>", the program being argv[0], or
// "corvane-tavisk" when there is no argv[0].
std::string usageLine(int argc, const char *const *argv);
