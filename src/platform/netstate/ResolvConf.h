#pragma once
// The DNS servers of the machine, from resolv.conf: systemd-resolved's upstream list
// ("/run/systemd/resolve/resolv.conf") when it exists, else "/etc/resolv.conf" (both under the
// kernel-file root, host::ProcRoot).
#include <string>
#include <vector>

namespace telvo::netstate {

// The file read (a kernel path, before the root is applied).
std::string resolvConfPath();
// The "nameserver" entries of a resolv.conf text, in order (comments and other lines skipped).
std::vector<std::string> parseNameservers(const std::string& text);
// The servers of the file in use; empty when it cannot be read.
std::vector<std::string> readNameservers();

}  // namespace telvo::netstate
