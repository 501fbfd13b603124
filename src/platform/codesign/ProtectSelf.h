#pragma once
// What a signed program does first: it makes itself non-dumpable, so that nobody but root can
// attach to it or read its memory after its signature has been checked by process id, and the
// entries of its /proc folder belong to root (which that check requires of a caller that is
// not root).
namespace telvo::codesign {

void protectSelf();

}  // namespace telvo::codesign
