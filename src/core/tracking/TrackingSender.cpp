// The send step: a lost connection is reopened first; a failing call costs only its own event.
#include "core/tracking/TrackingSender.h"

#include "core/platform/VorlandtError.h"
#include "core/tracking/ServerCommunicationClient.h"
#include "core/tracking/TrackingConnection.h"
#include "core/tracking/TrackingEvents.h"

#include <QtGlobal>

TTrackingSender::TTrackingSender(TTrackingConnection& connection, TServerCommunicationClient& client)
    : FConnection(connection), FClient(client)
{
    FThread = std::thread([this] { Run(); });
}

TTrackingSender::~TTrackingSender()
{
    {
        std::lock_guard lock(FMutex);
        FQuit = true;
    }
    FConnection.Abort();
    FWake.notify_all();
    FThread.join();
}

void TTrackingSender::Hand(TEventList events)
{
    {
        std::lock_guard lock(FMutex);
        for (auto& event : events)
            FWaiting.push_back(std::move(event));
        while (FWaiting.size() > MaxWaitingEvents)
            FWaiting.pop_front();
        ++FHandedOver;
    }
    FWake.notify_all();
}

bool TTrackingSender::WaitUntilAttempted(std::chrono::milliseconds limit)
{
    std::unique_lock lock(FMutex);
    const quint64 target = FHandedOver;
    return FAttempted.wait_for(lock, limit, [&] { return FAttemptedUpTo >= target; });
}

void TTrackingSender::Run()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [&] { return FQuit || FAttemptedUpTo < FHandedOver; });
        if (FQuit)
            return;
        const quint64 handedOver = FHandedOver;
        TEventList events = std::move(FWaiting);
        FWaiting.clear();
        lock.unlock();
        TEventList unsent = SendEvents(std::move(events));
        lock.lock();
        // What could not be sent goes before anything handed over meanwhile.
        while (!unsent.empty()) {
            FWaiting.push_front(std::move(unsent.back()));
            unsent.pop_back();
        }
        while (FWaiting.size() > MaxWaitingEvents)
            FWaiting.pop_front();
        FAttemptedUpTo = handedOver;
        FAttempted.notify_all();
    }
}

TTrackingSender::TEventList TTrackingSender::SendEvents(TEventList events)
{
    if (!FConnection.Connected()) {
        try {
            FConnection.Open();
        } catch (...) {
            // The events wait for the next tick.
            return events;
        }
    }
    while (!events.empty() && !FConnection.Aborted()) {
        const std::unique_ptr<TTrackingEvent> event = std::move(events.front());
        events.pop_front();
        const auto* keyboard = dynamic_cast<const TKeyboardTrackingEvent*>(event.get());
        const bool printable = keyboard != nullptr && keyboard->KeyType() == TKeyType::ktPrintable;
        // Typing a word is one event: of a run of printable keys only the first is sent.
        if (FKeyPressed && printable)
            continue;
        FKeyPressed = printable;
        try {
            SendOne(*event);
        } catch (const EVorlandtError& error) {
            if (error.message().contains(QLatin1String("Socket"), Qt::CaseSensitive))
                FConnection.Close();
        } catch (...) {
            // Tracking never disturbs the program: the event is simply lost.
        }
    }
    return {};
}

void TTrackingSender::SendOne(const TTrackingEvent& event)
{
    const QString timeStamp = TrackingTimeStamp(event.TimeStamp());
    const auto eventType = static_cast<qint32>(event.EventType());
    const auto inputDevice = static_cast<qint32>(event.InputDeviceType());
    if (const auto* mouse = dynamic_cast<const TMouseTrackingEvent*>(&event)) {
        FClient.SendMouseEvent(timeStamp, eventType, inputDevice, event.MacAddress(), event.ProcessName(),
                               event.ControlName(), event.ControlCaption(), event.ParentFormName(),
                               mouse->Position().x(), mouse->Position().y());
    } else if (const auto* keyboard = dynamic_cast<const TKeyboardTrackingEvent*>(&event)) {
        FClient.SendKeyboardEvent(timeStamp, eventType, inputDevice, event.MacAddress(), event.ProcessName(),
                                  event.ControlName(), event.ControlCaption(), event.ParentFormName(),
                                  static_cast<qint32>(keyboard->KeyType()));
    } else if (const auto* user = dynamic_cast<const TUserTrackingEvent*>(&event)) {
        FClient.SendUserEvent(timeStamp, eventType, inputDevice, event.MacAddress(), event.ProcessName(),
                              event.ControlName(), event.ControlCaption(), event.ParentFormName(),
                              user->Description(), user->UserEventType());
    }
}
