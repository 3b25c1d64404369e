#include "signin/parenthandle.h"

#include "platform/strings.h"

namespace {

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// X resource ids carry their client's base in the low 29 bits; the top three are always 0.
constexpr std::uint32_t kMaxX11Id = 0x1fffffff;

bool parseX11Id(const std::string &digits, std::uint32_t &out)
{
    std::size_t at = 0;
    // The portals write the id bare; "0x" in front is what strtoul(…, 16) also reads there.
    if (startsWith(digits, "0x") || startsWith(digits, "0X"))
        at = 2;
    if (at == digits.size())
        return false;
    std::uint32_t value = 0;
    for (; at < digits.size(); ++at) {
        const int digit = platform::hexDigitValue(digits[at]);
        if (digit < 0 || value > (kMaxX11Id >> 4))
            return false;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    if (value == 0 || value > kMaxX11Id)
        return false;
    out = value;
    return true;
}

bool isWaylandHandle(const std::string &handle)
{
    if (handle.empty() || handle.size() > kMaxWaylandHandleBytes)
        return false;
    // mutter's handles are drawn from all of printable ASCII, the space included.
    for (const char c : handle) {
        if (c < ' ' || c > '~')
            return false;
    }
    return true;
}

} // namespace

ParentHandle parseParentHandle(const std::string &text)
{
    static const std::string x11Prefix = "x11:";
    static const std::string waylandPrefix = "wayland:";
    ParentHandle parent;
    if (startsWith(text, x11Prefix)) {
        if (parseX11Id(text.substr(x11Prefix.size()), parent.x11Window))
            parent.system = ParentHandle::System::X11;
    } else if (startsWith(text, waylandPrefix)) {
        std::string handle = text.substr(waylandPrefix.size());
        if (isWaylandHandle(handle)) {
            parent.system = ParentHandle::System::Wayland;
            parent.waylandHandle = std::move(handle);
        }
    }
    return parent;
}
