// Where the Windows tests find the programs and leave their files. The build
// passes Linux paths; Wine reaches them through drive Z:, which maps "/".
#pragma once

#include <string>

// "/work/x/y" -> "Z:\work\x\y"; a path that already has a drive stays as it is.
std::wstring windowsPath(const std::string& path);

// A fresh file name under the system's temporary folder, for one test's use.
std::wstring tempFile(const std::wstring& stem);
