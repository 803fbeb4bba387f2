// The words pellora prints, in the user's language: the messages of src/cli
// go through gettext's catalogue "pellora" (po/ja.po, built into pellora.mo),
// and come out as written here where the catalogue has no translation, under
// the C and English locales, and wherever openMessageCatalogue() was not
// called (the unit tests).
//
// Included by the command's .cpp files only: it defines the macro _, which a
// header would force on every includer (GoogleTest's matchers are called _).
// What systemd is told (STATUS=) stays English: logs are searched in English.
#pragma once

#include <libintl.h>

#include <cstdio>
#include <string>

// A message for the catalogue, translated where it is used.
#define _(text) gettext(text)
// A message for the catalogue, translated later by _() on a variable.
#define N_(text) text

// Sets the program's locale from the environment (LANG, LC_ALL, LC_MESSAGES)
// and opens the catalogue: from the locale directory beside the program
// (<bindir>/../share/locale, so the build's program reads the build's
// catalogue and the installed one the installed), else the installed one.
void openMessageCatalogue();

// pattern, a printf format with %s (or %1$s, %2$s where a translation puts
// them in another order) for each value, filled in.
template <class... Values>
std::string formatted(const char* pattern, const Values&... values) {
    const int size = std::snprintf(nullptr, 0, pattern, values.c_str()...);
    if (size <= 0) {
        return size == 0 ? std::string() : std::string(pattern);
    }
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(text.data(), text.size(), pattern, values.c_str()...);
    text.resize(static_cast<std::size_t>(size));
    return text;
}
