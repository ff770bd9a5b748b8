#include "PadDevices.h"

#include <SDL.h>
#include <cstdlib>
#include <optional>

namespace {

// An axis counts as a direction past half way and lets go below a quarter, so that a stick
// resting near the middle does not chatter.
constexpr int AxisPress = 16384;
constexpr int AxisRelease = 8192;

std::optional<TPadButton> ControllerButton(int button)
{
    switch (button) {
    case SDL_CONTROLLER_BUTTON_A:
        return TPadButton::A;
    case SDL_CONTROLLER_BUTTON_B:
        return TPadButton::B;
    case SDL_CONTROLLER_BUTTON_START:
        return TPadButton::Start;
    case SDL_CONTROLLER_BUTTON_BACK:
        return TPadButton::Back;
    case SDL_CONTROLLER_BUTTON_LEFTSHOULDER:
        return TPadButton::LeftShoulder;
    case SDL_CONTROLLER_BUTTON_RIGHTSHOULDER:
        return TPadButton::RightShoulder;
    case SDL_CONTROLLER_BUTTON_DPAD_UP:
        return TPadButton::Up;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
        return TPadButton::Down;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT:
        return TPadButton::Left;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
        return TPadButton::Right;
    default:
        return std::nullopt;
    }
}

// -1, 0 or +1 for an axis value, given where the axis stood.
int AxisSide(int value, int before)
{
    if (value <= -AxisPress || (before < 0 && value <= -AxisRelease))
        return -1;
    if (value >= AxisPress || (before > 0 && value >= AxisRelease))
        return 1;
    return 0;
}

// Presses and releases for a move of one direction pair from one side to another.
void SideChanged(int before, int now, TPadButton negative, TPadButton positive, std::vector<TPadEvent>& out)
{
    if (before == now)
        return;
    if (before != 0)
        out.push_back({before < 0 ? negative : positive, false});
    if (now != 0)
        out.push_back({now < 0 ? negative : positive, true});
}

void HatChanged(int before, int now, std::vector<TPadEvent>& out)
{
    const std::pair<int, TPadButton> bits[] = {{SDL_HAT_UP, TPadButton::Up},
                                               {SDL_HAT_DOWN, TPadButton::Down},
                                               {SDL_HAT_LEFT, TPadButton::Left},
                                               {SDL_HAT_RIGHT, TPadButton::Right}};
    for (const auto& [bit, button] : bits)
        if ((before & bit) != (now & bit))
            out.push_back({button, (now & bit) != 0});
}

} // namespace

struct TPadDevices::TDevice {
    SDL_GameController* controller = nullptr;
    SDL_Joystick* joystick = nullptr; // only for a plain joystick
    int sides[2] = {0, 0}; // x, y
    int hat = 0;
    std::vector<TPadButton> held;

    ~TDevice()
    {
        if (controller)
            SDL_GameControllerClose(controller);
        if (joystick)
            SDL_JoystickClose(joystick);
    }
    void Note(const std::vector<TPadEvent>& events, std::size_t from)
    {
        for (std::size_t i = from; i < events.size(); ++i) {
            std::erase(held, events[i].button);
            if (events[i].pressed)
                held.push_back(events[i].button);
        }
    }
    void Axis(int axis, int value, std::vector<TPadEvent>& out)
    {
        if (axis < 0 || axis > 1)
            return;
        const int side = AxisSide(value, sides[axis]);
        SideChanged(sides[axis], side, axis == 0 ? TPadButton::Left : TPadButton::Up,
                    axis == 0 ? TPadButton::Right : TPadButton::Down, out);
        sides[axis] = side;
    }
};

TPadDevices::TPadDevices()
{
    // SDL must neither need a focused window of its own nor take the termination signals that
    // Kabinex handles itself.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    available_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) == 0;
}

TPadDevices::~TPadDevices()
{
    devices_.clear();
    if (available_)
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
}

void TPadDevices::Add(int deviceIndex)
{
    auto device = std::make_unique<TDevice>();
    SDL_Joystick* joystick = nullptr;
    if (SDL_IsGameController(deviceIndex)) {
        device->controller = SDL_GameControllerOpen(deviceIndex);
        joystick = device->controller ? SDL_GameControllerGetJoystick(device->controller) : nullptr;
    } else {
        joystick = device->joystick = SDL_JoystickOpen(deviceIndex);
    }
    if (joystick)
        devices_[SDL_JoystickInstanceID(joystick)] = std::move(device);
}

void TPadDevices::Remove(int instance, std::vector<TPadEvent>& out)
{
    const auto found = devices_.find(instance);
    if (found == devices_.end())
        return;
    for (const TPadButton button : found->second->held)
        out.push_back({button, false});
    devices_.erase(found);
}

TPadDevices::TDevice* TPadDevices::Find(int instance, bool controller)
{
    const auto found = devices_.find(instance);
    if (found == devices_.end() || (found->second->controller != nullptr) != controller)
        return nullptr; // a controller's raw joystick events are left to its mapping
    return found->second.get();
}

std::vector<TPadEvent> TPadDevices::Read()
{
    std::vector<TPadEvent> out;
    if (!available_)
        return out;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        const std::size_t from = out.size();
        TDevice* device = nullptr;
        switch (event.type) {
        case SDL_JOYDEVICEADDED:
            Add(event.jdevice.which);
            break;
        case SDL_JOYDEVICEREMOVED:
            Remove(event.jdevice.which, out);
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            if ((device = Find(event.cbutton.which, true)))
                if (const auto button = ControllerButton(event.cbutton.button))
                    out.push_back({*button, event.type == SDL_CONTROLLERBUTTONDOWN});
            break;
        case SDL_CONTROLLERAXISMOTION:
            if ((device = Find(event.caxis.which, true)))
                device->Axis(event.caxis.axis, event.caxis.value, out); // left stick: axes 0 and 1
            break;
        case SDL_JOYAXISMOTION:
            if ((device = Find(event.jaxis.which, false)))
                device->Axis(event.jaxis.axis, event.jaxis.value, out);
            break;
        case SDL_JOYHATMOTION:
            if ((device = Find(event.jhat.which, false)) && event.jhat.hat == 0) {
                HatChanged(device->hat, event.jhat.value, out);
                device->hat = event.jhat.value;
            }
            break;
        case SDL_JOYBUTTONDOWN:
        case SDL_JOYBUTTONUP:
            if ((device = Find(event.jbutton.which, false)) && event.jbutton.button <= 1)
                out.push_back({event.jbutton.button == 0 ? TPadButton::A : TPadButton::B,
                               event.type == SDL_JOYBUTTONDOWN});
            break;
        default:
            break;
        }
        if (device)
            device->Note(out, from);
    }
    return out;
}
