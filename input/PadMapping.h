// What the buttons of a pad mean, apart from any device or window: presses and releases at given
// times go in, commands come out, with a held direction repeating as a held key does and Back and
// Start held together asking to quit.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <vector>

enum class TPadButton { Up, Down, Left, Right, A, B, Start, Back, LeftShoulder, RightShoulder };

enum class TPadCommand { Up, Down, PageUp, PageDown, Accept, Cancel, Help, PreviousView, NextView, Quit };

struct TPadOutput {
    TPadCommand command;
    bool repeat = false;
    bool operator==(const TPadOutput&) const = default;
};

inline constexpr std::int64_t FirstRepeatMilliseconds = 400;
inline constexpr std::int64_t RepeatMilliseconds = 80;
inline constexpr std::int64_t QuitHoldMilliseconds = 2000;

class TPadMapper {
public:
    // Times are milliseconds of one steady clock.
    std::vector<TPadOutput> Press(TPadButton button, std::int64_t now);
    std::vector<TPadOutput> Release(TPadButton button, std::int64_t now);
    // The repeats and the quit that are due by now.
    std::vector<TPadOutput> Tick(std::int64_t now);
    // When Tick next has something to give; nothing while no direction or chord is held.
    std::optional<std::int64_t> NextDeadline() const;
    // Forgets every held button, as if all had been released without effect.
    void Reset();

private:
    bool Held(TPadButton button) const { return held_.contains(button); }

    std::set<TPadButton> held_;
    // The direction that repeats (the one pressed last) and when it next does.
    std::optional<TPadButton> repeating_;
    std::int64_t nextRepeat_ = 0;
    // Back and Start were down together since this press: neither acts on its release.
    bool chord_ = false;
    std::optional<std::int64_t> chordSince_;
    bool quitSent_ = false;
};
