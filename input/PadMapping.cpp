#include "PadMapping.h"

#include <algorithm>

namespace {

std::optional<TPadCommand> DirectionCommand(TPadButton button)
{
    switch (button) {
    case TPadButton::Up:
        return TPadCommand::Up;
    case TPadButton::Down:
        return TPadCommand::Down;
    case TPadButton::Left:
        return TPadCommand::PageUp;
    case TPadButton::Right:
        return TPadCommand::PageDown;
    default:
        return std::nullopt;
    }
}

std::optional<TPadCommand> PressCommand(TPadButton button)
{
    switch (button) {
    case TPadButton::A:
        return TPadCommand::Accept;
    case TPadButton::B:
        return TPadCommand::Cancel;
    case TPadButton::LeftShoulder:
        return TPadCommand::PreviousView;
    case TPadButton::RightShoulder:
        return TPadCommand::NextView;
    default:
        return DirectionCommand(button);
    }
}

} // namespace

std::vector<TPadOutput> TPadMapper::Press(TPadButton button, std::int64_t now)
{
    if (!held_.insert(button).second)
        return {}; // already down on another device
    if (DirectionCommand(button)) {
        repeating_ = button;
        nextRepeat_ = now + FirstRepeatMilliseconds;
    }
    if (button == TPadButton::Start || button == TPadButton::Back) {
        if (Held(TPadButton::Start) && Held(TPadButton::Back)) {
            chord_ = true;
            chordSince_ = now;
        }
        return {};
    }
    if (const auto command = PressCommand(button))
        return {{*command}};
    return {};
}

std::vector<TPadOutput> TPadMapper::Release(TPadButton button, std::int64_t now)
{
    if (held_.erase(button) == 0)
        return {};
    std::vector<TPadOutput> due = Tick(now);
    if (repeating_ == button)
        repeating_.reset();
    if (button != TPadButton::Start && button != TPadButton::Back)
        return due;
    chordSince_.reset();
    const bool alone = !chord_;
    if (!Held(TPadButton::Start) && !Held(TPadButton::Back)) {
        chord_ = false;
        quitSent_ = false;
    }
    if (alone)
        due.push_back({button == TPadButton::Start ? TPadCommand::Accept : TPadCommand::Help});
    return due;
}

std::vector<TPadOutput> TPadMapper::Tick(std::int64_t now)
{
    std::vector<TPadOutput> due;
    // One repeat however late the clock comes, as a held key does after a stall.
    if (repeating_ && nextRepeat_ <= now) {
        due.push_back({*DirectionCommand(*repeating_), true});
        while (nextRepeat_ <= now)
            nextRepeat_ += RepeatMilliseconds;
    }
    if (chordSince_ && !quitSent_ && *chordSince_ + QuitHoldMilliseconds <= now) {
        quitSent_ = true;
        due.push_back({TPadCommand::Quit});
    }
    return due;
}

std::optional<std::int64_t> TPadMapper::NextDeadline() const
{
    std::optional<std::int64_t> next;
    if (repeating_)
        next = nextRepeat_;
    if (chordSince_ && !quitSent_) {
        const std::int64_t quitAt = *chordSince_ + QuitHoldMilliseconds;
        next = next ? std::min(*next, quitAt) : quitAt;
    }
    return next;
}

void TPadMapper::Reset()
{
    *this = TPadMapper();
}
