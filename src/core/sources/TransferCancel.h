// The switch that stops every transfer of an update run: the window being closed or the console
// program being interrupted must not wait for a slow server. The run owns it, so a run that comes
// after a cancelled one starts with its transfers allowed.
#pragma once

namespace sources {

// One run's switch: while it lives, CancelTransfers and TransfersCancelled act on it. Runs follow
// each other; should one start inside another, the inner one is in charge until it ends.
class TTransferCancel {
public:
    TTransferCancel() noexcept;
    ~TTransferCancel();
    TTransferCancel(const TTransferCancel&) = delete;
    TTransferCancel& operator=(const TTransferCancel&) = delete;

private:
    unsigned FRun;
    unsigned FPrevious;
};

// Stops the transfers of the run under way (within about a second: libcurl asks between its
// waits) and refuses every later one of that run; outside a run there is nothing to stop. Safe
// inside a signal handler: it only touches lock-free atomics.
void CancelTransfers() noexcept;
// Whether the run under way was cancelled; false outside a run.
bool TransfersCancelled() noexcept;

// Whether a transfer is under way right now. Safe inside a signal handler.
bool TransferRunning() noexcept;

// Marks a transfer as under way for as long as it lives.
class TRunningTransfer {
public:
    TRunningTransfer() noexcept;
    ~TRunningTransfer();
    TRunningTransfer(const TRunningTransfer&) = delete;
    TRunningTransfer& operator=(const TRunningTransfer&) = delete;
};

}  // namespace sources
