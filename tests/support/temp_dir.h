// TempDir: a fresh directory under the system's temporary directory for one
// test, removed with everything in it when the object goes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

class TempDir {
public:
    // Throws std::runtime_error when no directory can be made.
    explicit TempDir(const std::string& prefix = "pellora") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp " + pattern + " failed");
        }
        dir = pattern;
    }
    ~TempDir() {
        std::error_code ignored;  // a test that failed half-way may leave odd files
        std::filesystem::remove_all(dir, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return dir; }
    std::filesystem::path operator/(const std::string& name) const { return dir / name; }

private:
    std::filesystem::path dir;
};
