// SDL's virtual joysticks, which need no kernel device: a pad that SDL maps as a game controller
// and a plain stick with two axes, four buttons and two hats. SDL must be started (a TPadDevices
// exists) before one is made.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

class TVirtualPad {
public:
    explicit TVirtualPad(bool controller)
    {
        const int index = controller ? SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                                 SDL_CONTROLLER_BUTTON_MAX, 0)
                                     : SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_ARCADE_STICK, 2, 4, 2);
        EXPECT_GE(index, 0) << SDL_GetError();
        EXPECT_EQ(SDL_IsGameController(index) == SDL_TRUE, controller);
        joystick_ = SDL_JoystickOpen(index);
        EXPECT_NE(joystick_, nullptr) << SDL_GetError();
    }
    ~TVirtualPad()
    {
        const SDL_JoystickID instance = SDL_JoystickInstanceID(joystick_);
        SDL_JoystickClose(joystick_);
        for (int index = 0; index < SDL_NumJoysticks(); ++index)
            if (SDL_JoystickGetDeviceInstanceID(index) == instance)
                SDL_JoystickDetachVirtual(index);
    }
    TVirtualPad(const TVirtualPad&) = delete;
    TVirtualPad& operator=(const TVirtualPad&) = delete;

    // For a controller, button is an SDL_GameControllerButton: the virtual pad's mapping puts
    // each on the joystick button of the same number.
    void Button(int button, bool down) { SDL_JoystickSetVirtualButton(joystick_, button, down ? 1 : 0); }
    void Hat(int hat, Uint8 value) { SDL_JoystickSetVirtualHat(joystick_, hat, value); }
    void Axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(joystick_, axis, value); }

private:
    SDL_Joystick* joystick_ = nullptr;
};
