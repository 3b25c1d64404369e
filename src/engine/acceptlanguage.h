// The Accept-Language header a browser would send for the person's locale.
#pragma once

#include "engine/environment.h"

#include <string>

// The person's languages from the environment, as the C library reads them for messages: the
// colon-separated LANGUAGE list when it is set, else the first of LC_ALL, LC_MESSAGES and LANG
// that is set. Each entry's codeset and modifier are dropped ("de_DE.UTF-8@euro" is "de-DE"),
// a language with a region is followed by the bare language unless the list names that later
// ("de-DE,de"), repeats and entries that are not a language ("C", "POSIX", anything but letters
// and digits) are left out, and the weights fall by 0.1 from the second entry on, down to 0.1:
// LANG=de_DE.UTF-8 gives "de-DE,de;q=0.9". With no language at all: "en-US,en;q=0.9", what the
// engine's own pages fall back to.
// Pure: it reads only `environment`.
std::string acceptLanguageFor(const EnvironmentLookup &environment);
