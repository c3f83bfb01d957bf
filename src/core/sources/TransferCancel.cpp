// The switch of the run under way and the count of running transfers, as lock-free atomics so a
// signal handler may touch them.
#include "core/sources/TransferCancel.h"

#include <atomic>

namespace sources {

namespace {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

// Runs go by number, 0 meaning none. A signal may arrive on any thread just as a run ends, so the
// handler never reaches into a run's object: it marks the number of the run in charge, and a
// mark left for a run that has ended concerns nobody.
std::atomic<unsigned> LastRun{0};
std::atomic<unsigned> RunInCharge{0};
std::atomic<unsigned> CancelledRun{0};
std::atomic<int> Running{0};

}  // namespace

TTransferCancel::TTransferCancel() noexcept
{
    FRun = LastRun.fetch_add(1) + 1;
    if (FRun == 0)  // the count wrapped around: 0 stays "no run"
        FRun = LastRun.fetch_add(1) + 1;
    FPrevious = RunInCharge.exchange(FRun);
}

TTransferCancel::~TTransferCancel()
{
    RunInCharge.store(FPrevious);
}

void CancelTransfers() noexcept
{
    CancelledRun.store(RunInCharge.load());
}

bool TransfersCancelled() noexcept
{
    const unsigned run = RunInCharge.load();
    return run != 0 && CancelledRun.load() == run;
}

bool TransferRunning() noexcept
{
    return Running.load() > 0;
}

TRunningTransfer::TRunningTransfer() noexcept
{
    Running.fetch_add(1);
}

TRunningTransfer::~TRunningTransfer()
{
    Running.fetch_sub(1);
}

}  // namespace sources
