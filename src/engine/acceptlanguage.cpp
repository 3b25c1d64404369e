#include "engine/acceptlanguage.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

bool allOf(const std::string &text, int (*test)(int))
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [test](char c) {
        return test(static_cast<unsigned char>(c)) != 0;
    });
}

std::string lowered(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string raised(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Language {
    std::string tag;  // "de-DE" or "de"
    std::string base; // "de"
};

// "de_DE.UTF-8@euro" as {"de-DE", "de"}; false for "C", "POSIX" and anything a header must not
// carry. Only letters and digits pass, so nothing from the environment can end the header.
bool parseLocale(std::string entry, Language *language)
{
    entry = entry.substr(0, entry.find_first_of(".@"));
    const std::size_t underscore = entry.find('_');
    const std::string base = lowered(entry.substr(0, underscore));
    const std::string region
        = underscore == std::string::npos ? std::string() : raised(entry.substr(underscore + 1));
    if (base.size() < 2 || base.size() > 3 || !allOf(base, std::isalpha) || base == "c"
        || base == "posix")
        return false;
    if (underscore != std::string::npos && (region.size() > 3 || !allOf(region, std::isalnum)))
        return false;
    language->base = base;
    language->tag = region.empty() ? base : base + "-" + region;
    return true;
}

// Read by hand rather than through QLocale::system().uiLanguages(), which Qt 6.4 fills with
// languages the person never named: likely-subtag expansions ("de-Latn-DE" after "de-DE", "fi"
// followed by "fi-FI"), each LANGUAGE entry's expansions repeated, the name as given ("EN-gb"),
// and "C" when no locale is set. A browser's header holds only what the person chose.
std::vector<Language> localeList(const EnvironmentLookup &environment)
{
    std::string list;
    if (isNonEmpty(environment("LANGUAGE"))) {
        list = environment("LANGUAGE");
    } else {
        for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            if (isNonEmpty(environment(name))) {
                list = environment(name);
                break;
            }
        }
    }
    std::vector<Language> languages;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = std::min(list.find(':', start), list.size());
        Language language;
        if (parseLocale(list.substr(start, colon - start), &language))
            languages.push_back(language);
        start = colon + 1;
    }
    return languages;
}

} // namespace

std::string acceptLanguageFor(const EnvironmentLookup &environment)
{
    const std::vector<Language> languages = localeList(environment);
    std::vector<std::string> tags;
    const auto add = [&tags](const std::string &tag) {
        if (std::find(tags.begin(), tags.end(), tag) == tags.end())
            tags.push_back(tag);
    };
    for (std::size_t i = 0; i < languages.size(); ++i) {
        add(languages[i].tag);
        const bool baseNamedLater
            = std::any_of(languages.begin() + static_cast<std::ptrdiff_t>(i) + 1, languages.end(),
                          [&](const Language &later) { return later.tag == languages[i].base; });
        const bool sameBaseNext
            = i + 1 < languages.size() && languages[i + 1].base == languages[i].base;
        if (!baseNamedLater && !sameBaseNext)
            add(languages[i].base);
    }
    if (tags.empty())
        tags = {"en-US", "en"};

    std::string header;
    for (std::size_t i = 0; i < tags.size(); ++i) {
        if (i > 0) {
            // Weights in tenths, never below 0.1: the header stays short and well formed.
            const int tenths = std::max(1, 10 - static_cast<int>(i));
            header += "," + tags[i] + ";q=0." + std::to_string(tenths);
        } else {
            header = tags[i];
        }
    }
    return header;
}
