#pragma once
// Handing freed memory back to the system: after items with their rings went, the allocator
// keeps the freed pages of its heap resident unless asked to release them.
namespace telvo::freedmemory {

// Releases the allocator's free pages a few seconds from now, off the main queue; calls in
// the meantime are folded into that one release.
void releaseSoon();

}  // namespace telvo::freedmemory
