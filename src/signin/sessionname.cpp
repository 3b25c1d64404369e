#include "signin/sessionname.h"

namespace {

bool isNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
        || c == '_' || c == '-' || c == '@' || c == '+';
}

} // namespace

bool isValidSessionName(const std::string &name)
{
    if (name.empty() || name.size() > kMaxSessionNameBytes || name[0] == '.' || name[0] == '-')
        return false;
    for (const char c : name) {
        if (!isNameCharacter(c))
            return false;
    }
    return true;
}
