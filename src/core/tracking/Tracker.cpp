// The tracker: consent rule, draw, queue and timer. Sending itself is TTrackingSender's.
#include "core/tracking/Tracker.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Policy.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/tracking/ServerCommunicationClient.h"
#include "core/tracking/TrackingConnection.h"
#include "core/tracking/TrackingEvents.h"

#include <QTimer>

#include <random>

namespace {

// Months between two consent questions for a user who did not agree.
constexpr int MonthsBetweenQuestions = 6;

// Uniform over 1 to 100, seeded differently in every run.
int RandomPercent()
{
    static std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(1, 100)(generator);
}

}  // namespace

TTracker::TTracker(const QString& ForcedProcessName, std::unique_ptr<TTrackingHook> hook, TDraw draw,
                   QObject* parent)
    : QObject(parent), FHook(std::move(hook)), FDraw(draw ? std::move(draw) : TDraw(&RandomPercent))
{
    try {
        FTrackingActive = IsTrackingAllowed();
    } catch (...) {
        // Without a clear yes nothing is tracked; the program itself goes on.
        FTrackingActive = false;
    }
    if (!FTrackingActive)
        return;
    try {
        FSQLConServer = std::make_unique<TTrackingConnection>();
        FSQLConServer->Open();
        FComClient = std::make_unique<TServerCommunicationClient>(*FSQLConServer);
        FForcedProcessName = ForcedProcessName;
        FTrackingActive = DrawProbability();
        if (!FTrackingActive)
            return;
        FSender = std::make_unique<TTrackingSender>(*FSQLConServer, *FComClient);
        FTimerSendEvents = std::make_unique<QTimer>();
        FTimerSendEvents->setInterval(SendInterval);
        connect(FTimerSendEvents.get(), &QTimer::timeout, this, &TTracker::TimerSendEventsTimer);
        FTimerSendEvents->start();
    } catch (...) {
        // An unreachable server or a failing draw only means: this run is not tracked.
        FTrackingActive = false;
        FSender.reset();
    }
}

TTracker::~TTracker()
{
    if (FHook)
        FHook->Remove();
    SendEvents();
    if (FSender && !FStopWaitedInVain)
        FSender->WaitUntilAttempted(StopWait);
    FSender.reset();
}

bool TTracker::IsTrackingAllowed()
{
    const QString& key = SettingsKeys::Standardeinstellungen;
    // Where the administrator answered for everyone, nobody is asked.
    if (IsSetByPolicy(key, SettingsKeys::TrackingOk))
        return ReadBoolValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingOk,
                             SettingsKeys::TrackingOkDefault);
    if (ValueExists(HKEY_CURRENT_USER, key, SettingsKeys::TrackingOk) &&
        ReadBoolValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingOk, SettingsKeys::TrackingOkDefault))
        return true;

    bool ask = true;
    if (ValueExists(HKEY_CURRENT_USER, key, SettingsKeys::TrackingLastQuery)) {
        const QString lastQuery = ReadStringValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingLastQuery,
                                                  SettingsKeys::TrackingLastQueryDefault);
        // A date that cannot be read (another regional format, a damaged value) asks now: the
        // question then stores a readable one.
        if (const std::optional<QDate> date = platform::TryStrToDate(lastQuery)) {
            // QDate::addMonths turns 31 August into the last day of February.
            const QDateTime due(date->addMonths(MonthsBetweenQuestions), QTime(0, 0));
            ask = due < platform::Clock::now();
        }
    }

    if (ask) {
        const bool answer = FrontEnd().AskTrackingConsent();
        try {
            WriteStringValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingLastQuery,
                             platform::DateToStr(platform::Clock::now().date()));
            WriteBoolValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingOk, answer);
        } catch (const EVorlandtError& error) {
            // An answer that cannot be stored is not an answer: the run stays untracked and the
            // question comes again.
            WriteLog(TLogAction::AppendLine,
                     QStringLiteral("TTracker.IsTrackingAllowed - ") + error.message());
        }
    }
    return ReadBoolValue(HKEY_CURRENT_USER, key, SettingsKeys::TrackingOk, SettingsKeys::TrackingOkDefault);
}

bool TTracker::DrawProbability()
{
    const qint32 probability = FComClient->GetTrackingProbability();
    return probability > FDraw();
}

void TTracker::Start()
{
    if (FHook)
        FHook->Install([this](std::unique_ptr<TTrackingEvent> e) { AddEvent(std::move(e)); });
    // An event reads the machine's network adapters: none is made for a run that is not tracked.
    if (FTrackingActive)
        AddEvent(std::make_unique<TUserTrackingEvent>(ueTrackerStart, QStringLiteral("Tracker-Start")));
}

void TTracker::Stop()
{
    if (FTrackingActive)
        AddEvent(std::make_unique<TUserTrackingEvent>(ueTrackerEnde, QStringLiteral("Tracker-Ende")));
    SendEvents();
    if (FSender && !FSender->WaitUntilAttempted(StopWait))
        FStopWaitedInVain = true;
    if (FHook)
        FHook->Remove();
}

void TTracker::AddEvent(std::unique_ptr<TTrackingEvent> e)
{
    if (!FTrackingActive || !e)
        return;
    if (!FForcedProcessName.isEmpty())
        e->SetProcessName(FForcedProcessName);
    FEventQueue.push_back(std::move(e));
    // The worker bounds what waits for an absent server; between two ticks a bound here too.
    while (FEventQueue.size() > TTrackingSender::MaxWaitingEvents)
        FEventQueue.pop_front();
}

void TTracker::SendEvents()
{
    // Also with nothing new: events kept back while the server was away are tried again.
    if (!FTrackingActive || !FSender)
        return;
    FSender->Hand(std::move(FEventQueue));
    FEventQueue.clear();
}

bool TTracker::WaitForSending(std::chrono::milliseconds limit)
{
    return !FSender || FSender->WaitUntilAttempted(limit);
}

void TTracker::TimerSendEventsTimer()
{
    SendEvents();
}
