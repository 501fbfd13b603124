#pragma once
// The end of a disk-set scan (RAID sets, Core Storage groups, SoftRAID volumes): the items the
// scan did not see go, and the delegates hear when the set of items changed.
namespace telvo {
class StatCollector;
}

namespace telvo::storage {

// Removes the collector's items that no longer exist; a removal marks its children changed.
// When they changed (by this or earlier in the scan), every delegate that asks for it is told.
void dropGoneItems(StatCollector& collector);

}  // namespace telvo::storage
