#pragma once
// The machine's IPv4 addresses as the dialog shows them. Dialog thread.

#include <string>
#include <vector>

// False for the addresses the list leaves out: "0.0.0.0", "127.0.0.1" and
// anything that begins with "169." (link-local, never reachable by peers).
bool isShownAddress(const std::string& address);

// IPv4 addresses of the interfaces that are up and running, in interface
// order, without the ones isShownAddress drops; empty when the system
// cannot list them.
std::vector<std::string> getLocalAddresses();

// Joins addresses with ";" and breaks the line after the third, fifth, ...
// address, so two lines of the label hold the usual few addresses.
std::string joinAddresses(const std::vector<std::string>& addresses);
