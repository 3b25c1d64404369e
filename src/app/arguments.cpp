#include "app/arguments.h"

namespace {

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

ChannelArguments scanChannelArguments(int argc, const char *const *argv)
{
    ChannelArguments found;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (startsWith(argument, "--cmdInFd="))
            found.in = argument;
        else if (startsWith(argument, "--cmdOutFd="))
            found.out = argument;
    }
    return found;
}

std::string usageLine(int argc, const char *const *argv)
{
    const std::string program
        = argc >= 1 && argv[0] != nullptr ? std::string(argv[0]) : std::string("corvane-tavisk");
    return "usage: " + program + " --cmdInFd=<handle> --cmdOutFd=<handle>";
}
