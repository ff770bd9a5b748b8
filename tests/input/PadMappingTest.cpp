// What the pad's buttons mean: the mapper's commands for presses, releases and the passing of
// time (held repeats, Back and Start alone and together), and the buttons that a game-controller
// pad and a plain stick give through SDL's virtual joysticks.
#include "PadDevices.h"
#include "PadMapping.h"
#include "VirtualPads.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

void PrintTo(const TPadEvent& event, std::ostream* out)
{
    *out << "button " << static_cast<int>(event.button) << (event.pressed ? " down" : " up");
}

void PrintTo(const TPadOutput& output, std::ostream* out)
{
    *out << "command " << static_cast<int>(output.command) << (output.repeat ? " repeated" : "");
}

namespace {

using B = TPadButton;
using C = TPadCommand;

enum class TStep { Press, Release, Tick };

struct TMove {
    TStep step;
    B button;
    std::int64_t at;
};

TEST(PadMappingTest, PressesReleasesAndTimeGiveTheCommands)
{
    const struct {
        const char* what;
        std::vector<TMove> moves;
        std::vector<TPadOutput> expected;
    } rows[] = {
        {"A, B and the shoulders act on the press",
         {{TStep::Press, B::A, 0}, {TStep::Release, B::A, 5}, {TStep::Press, B::B, 6}, {TStep::Press, B::LeftShoulder, 7},
          {TStep::Press, B::RightShoulder, 8}, {TStep::Tick, B::A, 5000}},
         {{C::Accept}, {C::Cancel}, {C::PreviousView}, {C::NextView}}},
        {"a held direction repeats after 400 ms, then every 80 ms, until released",
         {{TStep::Press, B::Down, 1000}, {TStep::Tick, B::A, 1399}, {TStep::Tick, B::A, 1400},
          {TStep::Tick, B::A, 1479}, {TStep::Tick, B::A, 1480}, {TStep::Tick, B::A, 1560},
          {TStep::Release, B::Down, 1600}, {TStep::Tick, B::A, 3000}},
         {{C::Down}, {C::Down, true}, {C::Down, true}, {C::Down, true}}},
        {"a clock that comes late gives one repeat, not a burst",
         {{TStep::Press, B::Up, 0}, {TStep::Tick, B::A, 2000}, {TStep::Tick, B::A, 2050}, {TStep::Tick, B::A, 2080}},
         {{C::Up}, {C::Up, true}, {C::Up, true}}},
        {"left and right are pages; the direction pressed last is the one that repeats",
         {{TStep::Press, B::Left, 0}, {TStep::Press, B::Right, 100}, {TStep::Tick, B::A, 500},
          {TStep::Release, B::Right, 510}, {TStep::Tick, B::A, 2000}},
         {{C::PageUp}, {C::PageDown}, {C::PageDown, true}}},
        {"a button already down on another device is not pressed again",
         {{TStep::Press, B::A, 0}, {TStep::Press, B::A, 1}, {TStep::Release, B::A, 2}, {TStep::Release, B::A, 3}},
         {{C::Accept}}},
        {"Start alone accepts, Back alone opens the read-me, both on their release",
         {{TStep::Press, B::Start, 0}, {TStep::Tick, B::A, 3000}, {TStep::Release, B::Start, 3001},
          {TStep::Press, B::Back, 3002}, {TStep::Release, B::Back, 3003}},
         {{C::Accept}, {C::Help}}},
        {"Back and Start held two seconds quit once; neither acts on its release",
         {{TStep::Press, B::Back, 0}, {TStep::Press, B::Start, 100}, {TStep::Tick, B::A, 2099},
          {TStep::Tick, B::A, 2100}, {TStep::Tick, B::A, 9000}, {TStep::Release, B::Start, 9001},
          {TStep::Release, B::Back, 9002}},
         {{C::Quit}}},
        {"Back and Start let go early do nothing, and start afresh",
         {{TStep::Press, B::Start, 0}, {TStep::Press, B::Back, 10}, {TStep::Release, B::Back, 1990},
          {TStep::Tick, B::A, 5000}, {TStep::Release, B::Start, 5001}, {TStep::Press, B::Back, 6000},
          {TStep::Release, B::Back, 6001}},
         {{C::Help}}},
        {"a release without a press does nothing",
         {{TStep::Release, B::Start, 0}, {TStep::Release, B::Down, 1}, {TStep::Tick, B::A, 5000}},
         {}},
    };
    for (const auto& row : rows) {
        TPadMapper mapper;
        std::vector<TPadOutput> got;
        for (const TMove& move : row.moves) {
            const auto out = move.step == TStep::Press     ? mapper.Press(move.button, move.at)
                             : move.step == TStep::Release ? mapper.Release(move.button, move.at)
                                                           : mapper.Tick(move.at);
            got.insert(got.end(), out.begin(), out.end());
        }
        EXPECT_EQ(got, row.expected) << row.what;
    }
    TPadMapper held;
    held.Press(B::Down, 0);
    held.Press(B::Back, 0);
    held.Press(B::Start, 1000);
    EXPECT_EQ(held.NextDeadline(), FirstRepeatMilliseconds);
    held.Reset();
    EXPECT_EQ(held.NextDeadline(), std::nullopt);
    EXPECT_TRUE(held.Release(B::Start, 1).empty()) << "forgotten by the reset";
}

TEST(PadMappingTest, ControllersAndPlainSticksGiveTheButtons)
{
    using Pad = TVirtualPad;
    const struct {
        const char* what;
        bool controller;
        std::function<void(Pad&)> act;
        std::vector<TPadEvent> expected;
    } rows[] = {
        {"controller A, B, Start, Back, shoulders", true,
         [](Pad& pad) {
             for (int button : {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_START,
                                SDL_CONTROLLER_BUTTON_BACK, SDL_CONTROLLER_BUTTON_LEFTSHOULDER,
                                SDL_CONTROLLER_BUTTON_RIGHTSHOULDER})
                 pad.Button(button, true);
         },
         {{B::A, true}, {B::B, true}, {B::Back, true}, {B::Start, true}, {B::LeftShoulder, true},
          {B::RightShoulder, true}}},
        {"controller pad and its unmapped buttons", true,
         [](Pad& pad) {
             for (int button : {SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_BUTTON_X, SDL_CONTROLLER_BUTTON_GUIDE,
                                SDL_CONTROLLER_BUTTON_DPAD_RIGHT})
                 pad.Button(button, true);
         },
         {{B::Up, true}, {B::Right, true}}},
        {"controller left stick past half way; triggers and the right stick do nothing", true,
         [](Pad& pad) {
             pad.Axis(SDL_CONTROLLER_AXIS_LEFTY, 20000);
             pad.Axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
             pad.Axis(SDL_CONTROLLER_AXIS_RIGHTX, -32768);
         },
         {{B::Down, true}}},
        {"plain stick buttons 0 and 1 are A and B, no others", false,
         [](Pad& pad) {
             for (int button : {0, 1, 2, 3})
                 pad.Button(button, true);
         },
         {{B::A, true}, {B::B, true}}},
        {"plain stick first hat, the second ignored", false,
         [](Pad& pad) {
             pad.Hat(1, SDL_HAT_DOWN);
             pad.Hat(0, SDL_HAT_LEFTUP);
         },
         {{B::Up, true}, {B::Left, true}}},
        {"plain stick axis 0 far left", false, [](Pad& pad) { pad.Axis(0, -32768); }, {{B::Left, true}}},
        {"plain stick axis 1 in the middle does nothing", false, [](Pad& pad) { pad.Axis(1, 12000); }, {}},
    };
    for (const auto& row : rows) {
        TPadDevices devices;
        ASSERT_TRUE(devices.Available());
        {
            Pad pad(row.controller);
            (void)devices.Read();
            ASSERT_EQ(devices.Count(), 1) << row.what;
            row.act(pad);
            EXPECT_EQ(devices.Read(), row.expected) << row.what;
        }
        std::vector<TPadEvent> released = row.expected;
        for (TPadEvent& event : released)
            event.pressed = false;
        std::vector<TPadEvent> got = devices.Read();
        const auto byButton = [](TPadEvent a, TPadEvent b) { return a.button < b.button; };
        std::sort(got.begin(), got.end(), byButton);
        std::sort(released.begin(), released.end(), byButton);
        EXPECT_EQ(got, released) << row.what << ": unplugging releases what the device held";
        EXPECT_EQ(devices.Count(), 0);
    }
}

TEST(PadMappingTest, AxesAndHatsLetGoAsTheyMoveBack)
{
    TPadDevices devices;
    TVirtualPad stick(false);
    (void)devices.Read();
    const struct {
        std::function<void()> act;
        std::vector<TPadEvent> expected;
    } moves[] = {
        {[&] { stick.Axis(0, 30000); }, {{B::Right, true}}},
        {[&] { stick.Axis(0, 10000); }, {}}, // still past a quarter
        {[&] { stick.Axis(0, 5000); }, {{B::Right, false}}},
        {[&] { stick.Axis(0, -20000); }, {{B::Left, true}}},
        {[&] { stick.Axis(0, 20000); }, {{B::Left, false}, {B::Right, true}}},
        {[&] { stick.Hat(0, SDL_HAT_UP); }, {{B::Up, true}}},
        {[&] { stick.Hat(0, SDL_HAT_RIGHTUP); }, {{B::Right, true}}}, // already held by the axis
        {[&] { stick.Hat(0, SDL_HAT_CENTERED); }, {{B::Up, false}, {B::Right, false}}},
    };
    for (const auto& move : moves) {
        move.act();
        EXPECT_EQ(devices.Read(), move.expected);
    }
}

} // namespace
