#pragma once
// The web server that serves the Files folder: a separate nginx process,
// started through the <program folder>/nginx/tervik-nginx link with its own
// configuration. The server starts it but never stops it. Main thread, at
// start-up.

#include <cstdint>
#include <string>

// <program folder>/nginx: the web server's prefix and working folder.
std::string nginxPrefix();

// Whether any live process's name contains "tervik-nginx", in any letter case.
bool isNginxRunning();

// The configuration text: the template with docRoot and port filled in, plus
// "user root;" when asRoot (workers must read folders that only root can).
std::string nginxConfText(const std::string& docRoot, uint16_t port, bool asRoot);

// Writes <prefix>/conf/nginx.conf; false when it cannot be written.
bool dump_nginx_conf(const std::string& docRoot, uint16_t port,
                     const std::string& prefix = nginxPrefix());

// Replaces the configuration and starts the web server without waiting for
// it; false (and "dump_nginx_conf failed" logged) when the configuration
// cannot be written. A web server that fails to start is only logged.
bool startNginx(const std::string& docRoot, uint16_t port,
                const std::string& prefix = nginxPrefix());
