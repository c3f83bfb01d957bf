// Usage events: what happened, when, on which machine (hashed) and in which process, plus the
// control and form involved. Controls are resolved by the widget side and handed in as text, so
// that the events themselves need no widgets.
#pragma once

#include <QDateTime>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <optional>

// The ordinals are what the tracking server receives.
enum class TEventType : std::uint8_t {
    etNone = 0,
    etMouseLeftDown = 1,
    etMouseRightDown = 2,
    etMouseLeftDouble = 3,
    etMouseWheel = 4,
    etKeyboardKeyPress = 5,
    etCustom = 6,
};

enum class TInputDeviceType : std::uint8_t { itNone = 0, itMouse = 1, itKeyboard = 2 };

enum class TKeyType : std::uint8_t { ktNone = 0, ktPrintable = 1, ktNonPrintable = 2 };

// The milestones program code reports with a TUserTrackingEvent.
enum TUserEventNumber : qint32 {
    ueTrackerStart = 1,
    ueTrackerEnde = 2,
    ueBereichBetreten = 3,
    ueBereichVerlassen = 4,
    ueAuswahl = 5,
};

// A control as an event records it, copied as text when the event is formed.
struct TControlInfo {
    QString Name;      // component name; empty without a control
    QString Caption;   // GetControlCaption of the control; empty without a control
    QString FormName;  // component name of the form above it; empty when none was reached
    // The mouse position in that form's client coordinates; empty when no form was reached.
    std::optional<QPoint> ClientPosition;
};

class TTrackingEvent {
public:
    // Time, machine identifier and process name of this moment; nothing else set.
    TTrackingEvent();
    virtual ~TTrackingEvent() = default;

    const QDateTime& TimeStamp() const { return FTimeStamp; }
    void SetTimeStamp(const QDateTime& value) { FTimeStamp = value; }
    TEventType EventType() const { return FEventType; }
    TInputDeviceType InputDeviceType() const { return FInputDeviceType; }
    const QString& MacAddress() const { return FMacAddress; }
    const QString& ProcessName() const { return FProcessName; }
    void SetProcessName(const QString& value) { FProcessName = value; }
    const QString& ControlName() const { return FControlName; }
    void SetControlName(const QString& value) { FControlName = value; }
    const QString& ControlCaption() const { return FControlCaption; }
    void SetControlCaption(const QString& value) { FControlCaption = value; }
    const QString& ParentFormName() const { return FParentFormName; }
    void SetParentFormName(const QString& value) { FParentFormName = value; }

protected:
    TTrackingEvent(const TTrackingEvent&) = default;
    TTrackingEvent& operator=(const TTrackingEvent&) = default;

    QDateTime FTimeStamp;
    TEventType FEventType = TEventType::etNone;
    TInputDeviceType FInputDeviceType = TInputDeviceType::itNone;
    QString FMacAddress;
    QString FProcessName;
    QString FControlName;
    QString FControlCaption;
    QString FParentFormName;
};

class TMouseTrackingEvent : public TTrackingEvent {
public:
    // `control` is what lay under the mouse, with the position in its form's client coordinates;
    // the widgets find it from the position on the screen (NewMouseTrackingEvent).
    explicit TMouseTrackingEvent(TEventType EventType, const TControlInfo& control = {});

    const QPoint& Position() const { return FPosition; }
    void SetPosition(const QPoint& value) { FPosition = value; }

private:
    QPoint FPosition;
};

class TKeyboardTrackingEvent : public TTrackingEvent {
public:
    // `control` is the control with the input focus, default when none has it.
    explicit TKeyboardTrackingEvent(TKeyType ktKeyType, const TControlInfo& control = {});

    TKeyType KeyType() const { return FKeyType; }

private:
    TKeyType FKeyType;
};

class TUserTrackingEvent : public TTrackingEvent {
public:
    TUserTrackingEvent(qint32 iUserEventType, const QString& sDescription);

    const QString& Description() const { return FDescription; }
    qint32 UserEventType() const { return FUserEventType; }

private:
    qint32 FUserEventType;
    QString FDescription;
};

// The caption of a control that has none worth sending.
inline const QString NoCaption = QStringLiteral("no caption");

// The file name (without folder) of the running executable.
QString RunningProcessName();
