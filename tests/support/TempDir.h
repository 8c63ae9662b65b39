#pragma once
// A private folder under /tmp, removed with everything in it at the end of
// the test. Tests point XDG_CONFIG_HOME and DocDir into one so that they
// never touch the user's real settings.

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets XDG_CONFIG_HOME to a fresh folder for the life of the object and
// restores the previous value afterwards.
class ScopedConfigHome {
public:
    ScopedConfigHome();
    ~ScopedConfigHome();
    const std::string& path() const { return dir_.path(); }

private:
    TempDir dir_;
    std::string previous_;
    bool hadPrevious_;
};
