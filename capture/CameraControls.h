#pragma once
// The settings a camera offers while it streams (brightness, white balance,
// exposure, focus...), as the platform reads them from the device.

#include <cstdint>
#include <string>
#include <vector>

struct CameraControl {
    enum class Type { Integer, Boolean, Menu };

    struct MenuEntry {
        int32_t value = 0;
        std::string name;
    };

    uint32_t id = 0;    // the platform's own number (V4L2: the control's CID)
    std::string key;    // stable across platforms and runs ("brightness"): the profile keeps values by it
    std::string name;   // shown to the user
    Type type = Type::Integer;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    int32_t value = 0;
    std::vector<MenuEntry> menu;  // Menu only: the values the device accepts, in order
    // The device ignores the value for now (a manual setting while its
    // automatic one is on); it can still be read.
    bool inactive = false;
};

class ICameraControls {
public:
    virtual ~ICameraControls() = default;
    // The controls with their current values; false with a message when the
    // device cannot be asked. An empty list: the camera has nothing to set.
    virtual bool List(std::vector<CameraControl>& controls, std::string& error) = 0;
    // false with a message (in Chinese, naming the control) when the device
    // refuses the value; the device keeps what it had.
    virtual bool Set(uint32_t id, int32_t value, std::string& error) = 0;
};

// The Chinese name of a common control by its key; "" for keys without one.
std::string CameraControlDisplayName(const std::string& key);

// Where `value` lies within the control's range and steps (menus: one of
// its entries). false with a message otherwise.
bool CheckCameraControlValue(const CameraControl& control, int32_t value, std::string& error);
