#pragma once
// The names of the control channel between the daemon and the control application, for both
// sides: the daemon's service, the older route's socket, and the notifications the daemon
// posts between processes.
namespace telvo::channel {

// The daemon's privileged service.
inline constexpr const char* kServiceName = "com.kestro.telvoserverdaemon";
// The older route's socket, in a folder of its own that only root and the administrators'
// group may enter.
inline constexpr const char* kLegacyFolder = "/var/run/telvo/control";
inline constexpr const char* kLegacySocketPath = "/var/run/telvo/control/tvs3.socket";

// Posted by the daemon once it has started serving.
inline constexpr const char* kBackendReady = "TelvoServer2BackendReady";
// Posted as the listener's status changes (starting, listening, failed).
inline constexpr const char* kSocketUpdated = "TelvoServerSocketUpdated";
// Posted by the port mapping: no user info, {"status"}, or {"status", "port"}.
inline constexpr const char* kUpnpUpdated = "TelvoServerUpnpUpdated";

// The version and build of this release, alike in the daemon, the agent and the application.
inline constexpr double kVersion = 3.03;
inline constexpr int kBuild = 270;

}  // namespace telvo::channel
