// UTF-8 <-> UTF-16 at the Win32 boundary (Windows builds only): the relay core
// and the shell logic keep UTF-8 std::string, the Win32 calls take and give
// UTF-16.
#pragma once

#include <string>
#include <string_view>

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
