#include "cli/translation.h"

#include <unistd.h>

#include <clocale>
#include <filesystem>

#ifndef PELLORA_LOCALE_FROM_BINDIR
#error "the build defines PELLORA_LOCALE_FROM_BINDIR, the locale directory seen from the program's"
#endif
#ifndef PELLORA_INSTALLED_LOCALE_DIR
#error "the build defines PELLORA_INSTALLED_LOCALE_DIR, where the catalogues install"
#endif

namespace {

// Where the catalogues lie for this program: beside it where the directory
// exists (the build tree's program, or one installed under any prefix), else
// where the build installs them.
std::string localeDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path beside =
            (program.parent_path() / PELLORA_LOCALE_FROM_BINDIR).lexically_normal();
        if (std::filesystem::is_directory(beside, error)) {
            return beside.string();
        }
    }
    return PELLORA_INSTALLED_LOCALE_DIR;
}

}  // namespace

void openMessageCatalogue() {
    std::setlocale(LC_ALL, "");
    bindtextdomain("pellora", localeDirectory().c_str());
    textdomain("pellora");
}
