#pragma once
// A private web server prefix for one test: <programDir>/nginx with conf/,
// logs/ and the tervik-nginx link. Whatever web server runs from it is
// stopped when the object goes. Test thread.

#include <string>

class NginxTestPrefix {
public:
    explicit NginxTestPrefix(const std::string& programDir);
    ~NginxTestPrefix();
    NginxTestPrefix(const NginxTestPrefix&) = delete;
    NginxTestPrefix& operator=(const NginxTestPrefix&) = delete;

    const std::string& path() const { return path_; }
    std::string confPath() const { return path_ + "/conf/nginx.conf"; }

    // Ends every web server process started from this prefix and waits until
    // they are gone.
    void stop();

    // isNginxRunning looks at the whole machine: waits until it would answer
    // false, ending first the strays of earlier test runs whose folder is
    // gone. False if some other web server still runs after timeoutMs.
    static bool waitUntilNoneRunning(int timeoutMs);

private:
    std::string path_;
};
