#include "BackgroundCheck.h"

#include <QElapsedTimer>

TBackgroundCheck::TBackgroundCheck(const TGameCatalogue& catalogue, std::unique_ptr<TRomCheck> threadCheck,
                                   std::unique_ptr<TRomCheck> ownCheck)
    : catalogue_(catalogue)
    , ownCheck_(std::move(ownCheck))
    , marks_(std::make_unique<std::atomic<TMark>[]>(static_cast<std::size_t>(catalogue.Count())))
    , back_(catalogue.Count())
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

TMark TBackgroundCheck::Checked(const TRomCheck* check, int game) const
{
    return check && check->Available(catalogue_.Name(game)) ? TMark::Present : TMark::Missing;
}

void TBackgroundCheck::Run(std::unique_ptr<TRomCheck> check)
{
    // Both sides may check the game where they meet: each finds the same disk, so either mark does.
    for (int game = 0; game < back_.load(std::memory_order_acquire) && !stop_.load(std::memory_order_relaxed); ++game) {
        if (Mark(game) == TMark::Unchecked)
            marks_[static_cast<std::size_t>(game)].store(Checked(check.get(), game), std::memory_order_release);
        front_.store(game + 1, std::memory_order_release);
    }
}

bool TBackgroundCheck::Present(int game)
{
    TMark mark = Mark(game);
    if (mark == TMark::Unchecked) {
        mark = Checked(ownCheck_.get(), game);
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
