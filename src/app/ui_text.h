// The program's words: the string table of res/Pellora.rc, in the language
// the program speaks. That is Japanese when the user's interface language is
// Japanese, and English for any other; uiLanguage() decides it, once, and is
// the one place that does: the window's template is taken in it too.
//
// Texts are UTF-8, as everywhere behind the Win32 boundary. The parts of a
// text that vary are numbered placeholders, %1 to %9, so that a language can
// put them in its own order; %% is a percent sign.
//
// The declarations need no windows.h, so that what decides which words to
// show (tray_status.cpp) stays free of Win32. Any thread.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The LANGID of the texts and the window's template: Japanese (LANG_JAPANESE,
// SUBLANG_DEFAULT) when GetUserDefaultUILanguage() is a Japanese one, English
// (LANG_ENGLISH, SUBLANG_ENGLISH_US) otherwise.
unsigned short uiLanguage();

// The text of a string (an IDS_ id of app/resource.h) in that language, its
// placeholders filled with args (%1 the first); "" when the table has none.
std::string uiText(unsigned id, std::initializer_list<std::string_view> args = {});
