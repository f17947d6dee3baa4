#pragma once
// What the interface selection dialog needs of its owner, the command
// dispatcher: the list of devices, in the order the operator sees them.
class TDevice;

class TDeviceOwner {
public:
    virtual ~TDeviceOwner() = default;

    virtual int DeviceCount() const = 0;
    // The device at `index` (0 <= index < DeviceCount()).
    virtual TDevice* Devices(int index) const = 0;
};
