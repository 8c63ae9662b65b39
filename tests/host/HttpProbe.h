#pragma once
// Loopback helpers for tests that talk to real servers. Test thread.

#include <cstdint>
#include <string>

// A TCP port that was free on all interfaces a moment ago.
uint16_t freeTcpPort();

// Whether 127.0.0.1:port accepts a connection within timeoutMs.
bool waitForListening(uint16_t port, int timeoutMs);

// "GET path HTTP/1.0" to 127.0.0.1:port, retried until it connects or
// timeoutMs passes; the whole response, or empty text.
std::string httpGet(uint16_t port, const std::string& path, int timeoutMs);
