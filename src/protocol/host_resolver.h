#pragma once
// Turns the host the user typed (a name or a dotted IPv4 address) into the dotted IPv4 address a
// connection is made to. When a name has several IPv4 addresses, the last one the resolver lists
// is used.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every IPv4 address the resolver lists for host, dotted, in its order; empty when the lookup
// fails. Blocks for as long as the lookup takes.
std::vector<std::string> lookupIpv4Addresses(std::string_view host);

// host itself when it is a dotted address, else the last address of the lookup; empty when the
// name can't be resolved. The lookup runs on a helper thread, so a caller whose abandon() turns
// true stops waiting within a few milliseconds (and gets empty); the helper finishes on its own.
std::optional<std::string> resolveForConnect(std::string_view host,
                                             const std::function<bool()>& abandon);

// The last IPv4 address the resolver lists for host, in dotted form; host unchanged when the
// lookup fails or finds no IPv4 address. Blocks for as long as the lookup takes.
std::string resolveToDottedAddress(std::string_view host);

// Tests: replaces the system lookup behind the calls above (null restores it). The replacement
// may be called on helper threads, also after it was replaced again.
using HostLookup = std::function<std::vector<std::string>(const std::string& host)>;
void setHostLookupForTesting(HostLookup lookup);
