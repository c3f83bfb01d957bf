// The process-wide cancel switch and the count of running transfers, as lock-free atomics so a
// signal handler may touch them.
#include "core/sources/TransferCancel.h"

#include <atomic>

namespace sources {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

std::atomic<bool> Cancelled{false};
std::atomic<int> Running{0};

}  // namespace

void CancelTransfers() noexcept
{
    Cancelled.store(true);
}

bool TransfersCancelled() noexcept
{
    return Cancelled.load();
}

bool TransferRunning() noexcept
{
    return Running.load() > 0;
}

void AllowTransfersForTesting() noexcept
{
    Cancelled.store(false);
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
