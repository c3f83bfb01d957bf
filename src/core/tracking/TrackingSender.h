// The tracker's worker: sends handed-over events to the tracking server one call each, in the
// order they were handed over, on a thread of its own so that a slow or absent server never
// holds the windows.
#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class TServerCommunicationClient;
class TTrackingConnection;
class TTrackingEvent;

class TTrackingSender {
public:
    using TEventList = std::deque<std::unique_ptr<TTrackingEvent>>;

    // Events waiting for a server that does not answer are kept up to this many; beyond it the
    // oldest go, so that a server away for days cannot fill the memory.
    static constexpr std::size_t MaxWaitingEvents = 10000;

    // `connection` and `client` (not owned) must outlive the sender and are used only by its
    // thread from now on.
    TTrackingSender(TTrackingConnection& connection, TServerCommunicationClient& client);
    // Cancels what is running and waits for the thread, which takes about a second at most.
    ~TTrackingSender();
    TTrackingSender(const TTrackingSender&) = delete;
    TTrackingSender& operator=(const TTrackingSender&) = delete;

    // Appends `events` to what waits and wakes the thread.
    void Hand(TEventList events);
    // Waits until every event handed over so far was sent, dropped, or found unsendable for now
    // because the server cannot be reached; false when `limit` passed first.
    bool WaitUntilAttempted(std::chrono::milliseconds limit);

private:
    void Run();
    // Sends `events`; returns them unsent when the server cannot be reached.
    TEventList SendEvents(TEventList events);
    void SendOne(const TTrackingEvent& event);

    TTrackingConnection& FConnection;
    TServerCommunicationClient& FClient;
    // Only the thread reads and writes it: a run of printable keys continues across hand-overs.
    bool FKeyPressed = false;

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FAttempted;
    TEventList FWaiting;
    quint64 FHandedOver = 0;
    quint64 FAttemptedUpTo = 0;
    bool FQuit = false;
    std::thread FThread;
};
