#include "BackgroundCheck.h"

#include <QElapsedTimer>
#include <chrono>

namespace {

std::int64_t NanosecondsSinceEpoch()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

TBackgroundCheck::TBackgroundCheck(const TGameCatalogue& catalogue, std::unique_ptr<TRomCheck> threadCheck,
                                   std::unique_ptr<TRomCheck> ownCheck, TCountMemoFile memo)
    : catalogue_(catalogue)
    , ownCheck_(std::move(ownCheck))
    , marks_(std::make_unique<std::atomic<TMark>[]>(static_cast<std::size_t>(catalogue.Count())))
    , back_(catalogue.Count())
    , memo_(std::move(memo))
    , threadCounts_(NanosecondsSinceEpoch())
    , ownCounts_(NanosecondsSinceEpoch())
{
    for (int game = 0; game < catalogue.Count(); ++game)
        marks_[static_cast<std::size_t>(game)].store(TMark::Unchecked, std::memory_order_relaxed);
    thread_ = std::thread([this, check = std::move(threadCheck)]() mutable { Run(std::move(check)); });
}

TBackgroundCheck::~TBackgroundCheck()
{
    stop_.store(true, std::memory_order_relaxed);
    thread_.join();
}

TMark TBackgroundCheck::Checked(const TRomCheck* check, int game, TCountRecorder& counts) const
{
    TCountRecorder* memo = memo_.path.empty() ? nullptr : &counts;
    return check && check->Available(catalogue_.Name(game), memo) ? TMark::Present : TMark::Missing;
}

void TBackgroundCheck::Run(std::unique_ptr<TRomCheck> check)
{
    if (!memo_.path.empty()) {
        known_ = LoadKnownCounts(memo_.path, memo_.emulatorDir);
        threadCounts_.Use(&known_);
        knownRead_.store(true, std::memory_order_release);
    }
    // Both sides may check the game where they meet: each finds the same disk, so either mark does.
    int game = 0;
    for (; game < back_.load(std::memory_order_acquire) && !stop_.load(std::memory_order_relaxed); ++game) {
        if (Mark(game) == TMark::Unchecked)
            marks_[static_cast<std::size_t>(game)].store(Checked(check.get(), game, threadCounts_), std::memory_order_release);
        front_.store(game + 1, std::memory_order_release);
    }
    if (game >= back_.load(std::memory_order_acquire) && !memo_.path.empty())
        SaveMemoIfChanged(); // every game is settled
}

void TBackgroundCheck::SaveMemoIfChanged() const
{
    if (const std::optional<TKeptCounts> changed = ChangedCounts(known_, threadCounts_, ownCounts_))
        SaveCountMemo(memo_, *changed);
}

bool TBackgroundCheck::Present(int game)
{
    TMark mark = Mark(game);
    if (mark == TMark::Unchecked) {
        if (knownRead_.load(std::memory_order_acquire))
            ownCounts_.Use(&known_);
        mark = Checked(ownCheck_.get(), game, ownCounts_);
        marks_[static_cast<std::size_t>(game)].store(mark, std::memory_order_release);
    }
    return mark == TMark::Present;
}

void TBackgroundCheck::CheckFromEnd(int budgetMs)
{
    QElapsedTimer slice;
    slice.start();
    for (int checked = 1; !Finished(); ++checked) {
        const int game = back_.load(std::memory_order_acquire) - 1;
        Present(game);
        back_.store(game, std::memory_order_release);
        if (checked % 32 == 0 && slice.elapsed() >= budgetMs)
            return;
    }
}
