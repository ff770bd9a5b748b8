// The pads and sticks plugged in, read through SDL's joystick and game-controller subsystems only
// (no SDL video, no window of SDL's own, no signal handlers). A device SDL knows as a game
// controller is read through its mapping; any other joystick gives its directions by axes 0/1 or
// its first hat, and buttons 0 and 1 as A and B. Devices are opened for reading, never grabbed.
#pragma once

#include "PadMapping.h"

#include <map>
#include <memory>
#include <vector>

struct TPadEvent {
    TPadButton button;
    bool pressed;
    bool operator==(const TPadEvent&) const = default;
};

class TPadDevices {
public:
    TPadDevices();
    ~TPadDevices();
    TPadDevices(const TPadDevices&) = delete;
    TPadDevices& operator=(const TPadDevices&) = delete;

    // Whether SDL could be started; without it there are never devices.
    bool Available() const { return available_; }
    // Takes in what SDL has seen since the last call: devices plugged and unplugged, and the
    // button changes, in order. An unplugged device releases what it held.
    std::vector<TPadEvent> Read();
    int Count() const { return static_cast<int>(devices_.size()); }

private:
    struct TDevice;
    void Add(int deviceIndex);
    void Remove(int instance, std::vector<TPadEvent>& out);
    TDevice* Find(int instance, bool controller);

    bool available_ = false;
    std::map<int, std::unique_ptr<TDevice>> devices_; // by SDL instance id
};
