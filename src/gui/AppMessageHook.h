// The tracker's input hook for the GUI: an event filter on the application that turns every
// click, horizontal wheel turn and key press into exactly one usage event.
#pragma once

#include "core/tracking/TrackingEvents.h"
#include "core/tracking/TrackingHook.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QWindow;

class TAppMessageHook : public QObject, public TTrackingHook {
    Q_OBJECT
public:
    TAppMessageHook() = default;
    ~TAppMessageHook() override;

    // Replaces any other TAppMessageHook installed in the application.
    void Install(TSink sink) override;
    void Remove() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Handle(QWindow* window, QEvent* event);
    void Emit(std::unique_ptr<TTrackingEvent> event);
    void FlushPendingPress();

    TSink FSink;
    // A press waits for the rest of the event it arrived in: when Qt makes a double click of it,
    // the double click replaces it, as the second press of a double click is no click of its own.
    std::unique_ptr<TMouseTrackingEvent> FPendingPress;
    Qt::MouseButton FPendingButton = Qt::NoButton;
};
