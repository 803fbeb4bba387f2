// Letter case of ASCII text, the same in every locale. The names the program
// matches without regard to case (X68000 and Linux key names, layouts) are
// ASCII, and the C library's toupper() follows the locale the Linux command
// sets for its messages: in a Turkish one, 'i' has no upper case of one byte
// and stays 'i'.
#pragma once

constexpr char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
