#pragma once
// The network service identifier of an interface: a name-based UUID (version 5, SHA-1) of the
// interface name, in upper-case text. It is the same on every start for the same name, which
// keeps the history rows of the service, and two interfaces never share one (hardware addresses
// do: VLAN, bond and bridge devices share theirs, veth and ifb get random ones).
#include <string>

namespace telvo::netstate {

std::string serviceIdentifierForInterface(const std::string& interfaceName);

}  // namespace telvo::netstate
