// The usage tracker: settles at construction whether this run is tracked (consent, then a draw
// against the server's percentage), queues the events of the input hook and of the program, and
// every five seconds hands the queue to a worker that sends it to the tracking server.
#pragma once

#include "core/tracking/TrackingHook.h"
#include "core/tracking/TrackingSender.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QTimer;
class TServerCommunicationClient;
class TTrackingConnection;
class TTrackingEvent;

class TTracker : public QObject {
    Q_OBJECT
public:
    // How often the queue goes to the server, and the longest Stop waits for it.
    static constexpr std::chrono::milliseconds SendInterval{5000};
    static constexpr std::chrono::milliseconds StopWait{5000};

    // The number from 1 to 100 that the server's percentage is drawn against.
    using TDraw = std::function<int()>;

    // Asks for consent when due (through the front end), connects to the tracking server and
    // makes the draw; blocks for the server's time limits at most. Never raises: whatever goes
    // wrong leaves the run untracked. `hook` (may be null) turns input into events between Start
    // and Stop; the GUI passes a TAppMessageHook. `draw` (empty: a random number, seeded
    // differently in every run) gives the number the run is admitted by.
    explicit TTracker(const QString& ForcedProcessName, std::unique_ptr<TTrackingHook> hook = nullptr,
                      TDraw draw = {}, QObject* parent = nullptr);
    // Hands over what is still queued, waits for it as Stop does unless Stop already waited in
    // vain, and gives up on the rest.
    ~TTracker() override;

    // Installs the hook and queues "Tracker-Start".
    void Start();
    // Queues "Tracker-Ende", sends the queue and waits up to StopWait for it, removes the hook.
    void Stop();
    // Takes the event in every case; queued only while the run is tracked.
    void AddEvent(std::unique_ptr<TTrackingEvent> e);

    // Whether this run is tracked.
    bool TrackingActive() const { return FTrackingActive; }
    // What the timer does: hands the queue to the worker, returning at once.
    void SendEvents();
    // Waits until everything handed to the worker so far was attempted; false after `limit`.
    bool WaitForSending(std::chrono::milliseconds limit);

private:
    bool IsTrackingAllowed();
    bool DrawProbability();
    void TimerSendEventsTimer();

    TTrackingSender::TEventList FEventQueue;
    std::unique_ptr<QTimer> FTimerSendEvents;
    std::unique_ptr<TTrackingConnection> FSQLConServer;
    std::unique_ptr<TServerCommunicationClient> FComClient;
    bool FTrackingActive = false;
    QString FForcedProcessName;
    std::unique_ptr<TTrackingHook> FHook;
    TDraw FDraw;
    bool FStopWaitedInVain = false;
    // Declared last: destroyed (its thread joined) before the connection and client it uses.
    std::unique_ptr<TTrackingSender> FSender;
};
