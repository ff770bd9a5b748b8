// The ROM check of a whole catalogue on both cores: a thread of its own works from the first game
// on while the user-interface thread, in idle time, works from the last one back, until they meet.
// Every mark is so final soon after start-up, while the window is still being built and drawn.
// With a memo file, the thread first reads the counts of the last check, both sides answer from
// them, and once every game is settled the thread writes what changed.
#pragma once

#include "CountMemo.h"
#include "GameCatalogue.h"
#include "RomCheck.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

enum class TMark : std::uint8_t { Unchecked, Present, Missing };

class TBackgroundCheck {
public:
    // Checks every game of catalogue, the thread with threadCheck and the caller's side with
    // ownCheck; the catalogue must not change until this ends.
    TBackgroundCheck(const TGameCatalogue& catalogue, std::unique_ptr<TRomCheck> threadCheck,
                     std::unique_ptr<TRomCheck> ownCheck, TCountMemoFile memo = {});
    // Stops the thread (within one game) and waits for it.
    ~TBackgroundCheck();
    TBackgroundCheck(const TBackgroundCheck&) = delete;
    TBackgroundCheck& operator=(const TBackgroundCheck&) = delete;

    // How many games, from the first, the thread has settled.
    int SettledFromStart() const { return front_.load(std::memory_order_acquire); }
    bool Finished() const { return front_.load(std::memory_order_acquire) >= back_.load(std::memory_order_acquire); }
    // The game's mark, checked now on the caller's side when neither side has got there yet.
    bool Present(int game);
    TMark Mark(int game) const { return marks_[static_cast<std::size_t>(game)].load(std::memory_order_acquire); }
    // Checks games from the last one back for about budgetMs milliseconds (the caller's side).
    void CheckFromEnd(int budgetMs);

private:
    void Run(std::unique_ptr<TRomCheck> check);
    TMark Checked(const TRomCheck* check, int game, TCountRecorder& counts) const;
    void SaveMemoIfChanged() const;

    const TGameCatalogue& catalogue_;
    std::unique_ptr<TRomCheck> ownCheck_;
    std::unique_ptr<std::atomic<TMark>[]> marks_;
    std::atomic<int> front_ = 0; // the thread's next game: every one before it is settled
    std::atomic<int> back_;      // every game from here on is settled
    std::atomic<bool> stop_ = false;
    const TCountMemoFile memo_;
    TKnownCounts known_; // the thread's until knownRead_
    std::atomic<bool> knownRead_ = false;
    TCountRecorder threadCounts_;
    TCountRecorder ownCounts_;
    std::thread thread_;
};
