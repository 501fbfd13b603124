#pragma once
// Administrator rights: an authorization reference that holds rights, obtained with or without
// asking the user, and a tool run as root once the user is authorised. Statuses carry the
// numbers of the platform's authorization services, since callers branch on them.
//
// Backends (chosen on every request, never by an environment variable):
// - polkit (the desktop): each right is one polkit action of ours, kept for five minutes once
//   an administrator authenticated (auth_admin_keep), per process; the policy file ships with
//   the bundle (programs/telvo-privileged-exec/com.kestro.telvoserver.policy). Tools run as
//   root through pkexec and our trampoline, with a fixed environment.
// - scripted (tests): when "/etc/telvo/authorization/scripted.policy" under the file-system
//   root is a regular file owned by root and writable by nobody else (ScriptedBackend.h).
//
// Which rights a reference holds only spares the user questions; what happens as root is
// decided on the root side: by pkexec and polkit for a tool run, and by
// AuthorizationCheckCaller for services running as root that act for a caller.
#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>
#include "platform/xpc/PeerCredentials.h"

namespace telvo::authorization {

using OSStatus = int32_t;

constexpr OSStatus errAuthorizationSuccess = 0;
constexpr OSStatus errAuthorizationInvalidRef = -60002;
constexpr OSStatus errAuthorizationDenied = -60005;
constexpr OSStatus errAuthorizationCanceled = -60006;
constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
constexpr OSStatus errAuthorizationInternal = -60008;
constexpr OSStatus errAuthorizationInvalidFlags = -60011;
constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

using AuthorizationFlags = uint32_t;
constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1;
constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 2;
constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 16;
// Interaction allowed, extend rights, pre-authorise: what every caller asks with.
constexpr AuthorizationFlags kAuthorizationFlagsAskUser = 19;

// The two rights there are. Any other right is denied without asking.
constexpr const char* kAuthorizationRightExecute = "system.privilege.admin";
constexpr const char* kSMRightBlessPrivilegedHelper = "com.apple.ServiceManagement.blesshelper";

// Right names (no values, no item flags).
using AuthorizationRights = std::vector<std::string>;

struct Authorization;
using AuthorizationRef = Authorization*;

// Makes a reference. With no rights (null or empty) it asks nothing and answers success
// whatever the backend would say (callers retry while it answers denied). With rights it is
// AuthorizationCopyRights on the new reference; on failure no reference is made (*out null).
// Flags other than the three above: errAuthorizationInvalidFlags.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, AuthorizationFlags flags, AuthorizationRef* out);

// Adds rights to the reference, all or none. A right the reference holds is granted at once.
// Without extend rights nothing is asked: a right not held is denied. With extend rights the
// backend answers for this process: success, denied (refused, or the authentication failed),
// cancelled (the user dismissed the dialog), or interaction not allowed (the answer needs the
// user and interaction was not allowed, or no authentication agent can ask). Pre-authorise
// changes nothing: rights are always obtained at once. Blocks while the dialog is up.
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights& rights,
                                 AuthorizationFlags flags);

// Frees the reference (errAuthorizationInvalidRef for null, unknown or already freed). Only
// the default flags are supported; with others it is freed and errAuthorizationInvalidFlags
// answered.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);

// Runs `tool` (an absolute host path; not moved under the file-system root) as root with
// `arguments`, and waits for that child (not any child) with the child-ended signal at its
// default action meanwhile. The reference must hold kAuthorizationRightExecute; when it does
// not, the right is asked for first (interaction allowed). The tool inherits standard output
// and error, reads /dev/null, starts in "/" with umask 022 and a fixed environment: PATH,
// HOME, USER, LOGNAME, SHELL, LANG, TELVO_ROOT (this process's root) and PKEXEC_UID.
// Success once the tool ran; *exitStatus (when given) is its exit status, or 128 + the signal
// that ended it. errAuthorizationToolExecuteFailure when it could not be started.
OSStatus AuthorizationExecuteWithPrivilegesAndWait(AuthorizationRef authorization, const std::string& tool,
                                                   const std::vector<std::string>& arguments,
                                                   int* exitStatus = nullptr);

// Root side: whether the caller of a connection (its credentials as the connection's accept
// pinned them) is authorised for `right` now, asking its user when the flags allow
// interaction. Never trusts a reference or anything else the caller claims; a right the caller
// obtained a moment ago is kept, so the user is not asked twice. The question is about the
// process pinned at the accept; a caller that was not pinned, has ended, or whose pid names
// another process by the time the answer comes is refused (denied) and logged.
OSStatus AuthorizationCheckCaller(const xpc::PeerCredentials& caller, const std::string& right,
                                  AuthorizationFlags flags);
// The same for the process `pid` of user `uid`, pinned when this is called: only for a pid
// the caller knows to be alive (a tool asking about a child it waits for). A service acting
// for a connection's caller uses the form above, since a pid read from the socket may have
// been taken by a later process before this is called.
OSStatus AuthorizationCheckCaller(pid_t pid, uid_t uid, const std::string& right, AuthorizationFlags flags);

// Where the trampoline that starts tools as root is installed (the policy file names it).
constexpr const char* kTrampolinePath = "/usr/libexec/telvo/telvo-privileged-exec";
// Where polkit finds our actions. An application bundle carries both in Contents/Resources
// ("telvo-privileged-exec", "com.kestro.telvoserver.policy"): on a machine that never had the
// system, the first request for a right runs the bundle's trampoline once through pkexec under
// polkit's stock action for running a program as root, and it puts the two in place.
constexpr const char* kPolicyInstallPath = "/usr/share/polkit-1/actions/com.kestro.telvoserver.policy";
constexpr const char* kPolicyFileName = "com.kestro.telvoserver.policy";
constexpr const char* kTrampolineFileName = "telvo-privileged-exec";
// Tests run the trampoline from the build; an empty path restores kTrampolinePath.
void setTrampolineForTesting(const std::string& path);

// A short English text for a status, for log lines.
const char* statusMessage(OSStatus status);

}  // namespace telvo::authorization
