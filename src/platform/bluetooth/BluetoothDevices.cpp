// The process-wide Bluetooth devices source.
#include "platform/bluetooth/BluetoothDevices.h"

#include <mutex>

#include "platform/bluetooth/SysfsBluetoothDevices.h"

namespace telvo::bluetooth {

namespace {
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<BluetoothDevices>& sharedDevices() {
    static std::shared_ptr<BluetoothDevices> d;
    return d;
}
}  // namespace

std::shared_ptr<BluetoothDevices> BluetoothDevices::shared() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedDevices()) sharedDevices() = std::make_shared<SysfsBluetoothDevices>();
    return sharedDevices();
}

void BluetoothDevices::setSharedForTesting(std::shared_ptr<BluetoothDevices> devices) {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedDevices() = std::move(devices);
}

void BluetoothDevices::resetForTesting() { setSharedForTesting(nullptr); }

}  // namespace telvo::bluetooth
