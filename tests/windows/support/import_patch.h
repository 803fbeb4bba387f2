// Stands in for a Windows function in this program's own import table, so a
// test can meet what real drivers and shells do and Wine's do not (a driver
// that ignores CancelIoEx, a taskbar that refuses NIM_ADD while Explorer
// starts). Only calls from this executable's own code are affected: the
// product code linked into it statically, not the system's DLLs.
#pragma once

// Points this executable's import of function from dll (as the import table
// names them: "KERNEL32.dll", "CancelIoEx") at replacement; returns the
// address it had, or nullptr when the executable does not import it.
void* replaceImport(const char* dll, const char* function, void* replacement);
