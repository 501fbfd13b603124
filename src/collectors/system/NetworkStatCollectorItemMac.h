#pragma once
// NetworkStatCollectorItemMac: the item class the network collector's platform class makes.
// PPP links report their state through the dynamic store here, so an item holds no
// connection object of its own.
#include "collectors/system/NetworkStatCollectorItem.h"

namespace telvo {

class NetworkStatCollectorItemMac : public NetworkStatCollectorItem {};

}  // namespace telvo
