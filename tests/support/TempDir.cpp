#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir() {
    char pattern[] = "/tmp/sonavel-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        throw std::runtime_error("mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedConfigHome::ScopedConfigHome() {
    const char* prev = std::getenv("XDG_CONFIG_HOME");
    hadPrevious_ = prev != nullptr;
    previous_ = prev ? prev : "";
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
}

ScopedConfigHome::~ScopedConfigHome() {
    if (hadPrevious_) {
        setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}
