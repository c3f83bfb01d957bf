// One switch that stops every transfer of the process: the window being closed or the console
// program being interrupted must not wait for a slow server.
#pragma once

namespace sources {

// Stops the transfers under way (within about a second: libcurl asks between its waits) and
// refuses every later one. Safe inside a signal handler: it only sets a lock-free flag.
void CancelTransfers() noexcept;
bool TransfersCancelled() noexcept;

// Whether a transfer is under way right now. Safe inside a signal handler.
bool TransferRunning() noexcept;

// Tests that cancel and then go on: transfers are allowed again.
void AllowTransfersForTesting() noexcept;

// Marks a transfer as under way for as long as it lives.
class TRunningTransfer {
public:
    TRunningTransfer() noexcept;
    ~TRunningTransfer();
    TRunningTransfer(const TRunningTransfer&) = delete;
    TRunningTransfer& operator=(const TRunningTransfer&) = delete;
};

}  // namespace sources
