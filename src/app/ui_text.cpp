#include "app/ui_text.h"

#include <windows.h>

#include "io/text_win32.h"

namespace {

LANGID chooseLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE
               ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
               : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

// One string of the table in one language, read where the resource compiler
// put it: in blocks of sixteen (block n holds ids 16(n-1) to 16n-1), each
// string its length in UTF-16 units, then those units. LoadStringW would
// take the thread's language instead.
std::wstring tableString(unsigned id, LANGID language) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (block == nullptr) {
        return {};
    }
    const auto* at = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
    const WCHAR* const end = at + SizeofResource(module, block) / sizeof(WCHAR);
    for (unsigned i = 0; i < id % 16 && at < end; ++i) {
        at += 1 + *at;
    }
    if (at >= end || *at > end - at - 1) {
        return {};
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(at + 1), *at);
}

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next == '%') {
            out += '%';
            ++i;
        } else if (pattern[i] == '%' && next >= '1' && next <= '9') {
            const auto n = static_cast<std::size_t>(next - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
            }
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace

unsigned short uiLanguage() {
    static const LANGID language = chooseLanguage();
    return language;
}

std::string uiText(unsigned id, std::initializer_list<std::string_view> args) {
    return fill(narrow(tableString(id, uiLanguage())), args);
}
