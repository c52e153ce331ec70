#pragma once
// Turns a host name into a dotted IPv4 address before the control connection is started.
#include <string>
#include <string_view>

// The last IPv4 address the resolver lists for host, in dotted form; host unchanged when the
// lookup fails or finds no IPv4 address.
std::string resolveToDottedAddress(std::string_view host);
