#include "engine/systemtrust.h"

#ifdef TAVISK_HAVE_NSS
#include <secmod.h>
#endif

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

bool systemTrustWanted(const char *value)
{
    return value == nullptr || std::strcmp(value, "0") != 0;
}

#if defined(TAVISK_HAVE_NSS) && defined(TAVISK_P11_KIT_TRUST_MODULE)

bool trustSystemAuthorities()
{
    if (!systemTrustWanted(std::getenv("TAVISK_SYSTEM_TRUST")))
        return false;
    // Without the module (p11-kit-modules, a dependency of the package) the engine's own roots
    // and the person's database stay all there is, as before.
    if (access(TAVISK_P11_KIT_TRUST_MODULE, R_OK) != 0)
        return false;
    std::string spec = "name=\"System Trust\" library=\"" TAVISK_P11_KIT_TRUST_MODULE "\"";
    // Loaded before NSS has started, the module waits in NSS's module list, and NSS's start-up,
    // whenever the engine makes it, adds its tokens to the trust domain with the rest. The
    // module stays loaded for the whole run.
    SECMODModule *module = SECMOD_LoadUserModule(spec.data(), nullptr, PR_FALSE);
    const bool loaded = module != nullptr && module->loaded;
    if (module != nullptr && !loaded)
        SECMOD_DestroyModule(module);
    return loaded;
}

#else

bool trustSystemAuthorities()
{
    return false;
}

#endif
