// The tracking server's four remote methods. Each method's command is created and prepared on
// its first call and reused afterwards; the client opens and closes nothing itself.
#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <memory>

class TTrackingConnection;

// A prepared call of one server method: its name and, once prepared, its place on the server.
class TServerMethodCommand {
public:
    TServerMethodCommand(TTrackingConnection& connection, const QString& text);

    const QString& CommandType() const { return FCommandType; }
    const QString& Text() const { return FText; }
    // Checks the connection's address; raises when it cannot form one.
    void Prepare();
    bool Prepared() const { return FPrepared; }

    // Input parameters by ordinal, from 0 upwards.
    void SetString(int ordinal, const QString& value);
    void SetInt32(int ordinal, qint32 value);

    // Runs the call; the result is read with the accessors below.
    void ExecuteUpdate();
    bool ResultAsBoolean() const;
    qint32 ResultAsInt32() const;

private:
    TTrackingConnection& FConnection;
    QString FCommandType;
    QString FText;
    QStringList FParameters;
    bool FPrepared = false;
    QJsonValue FResult;
};

class TServerCommunicationClient {
public:
    // `ADBXConnection` (not owned) must outlive the client.
    explicit TServerCommunicationClient(TTrackingConnection& ADBXConnection);
    ~TServerCommunicationClient();

    bool SendMouseEvent(const QString& TimeStamp, qint32 EventType, qint32 InputDevice,
                        const QString& FMacAddress, const QString& FProcessName, const QString& FControlName,
                        const QString& FControlCaption, const QString& FParentFormName, qint32 PositionX,
                        qint32 PositionY);
    bool SendKeyboardEvent(const QString& TimeStamp, qint32 EventType, qint32 InputDevice,
                           const QString& FMacAddress, const QString& FProcessName,
                           const QString& FControlName, const QString& FControlCaption,
                           const QString& FParentFormName, qint32 KeyType);
    bool SendUserEvent(const QString& TimeStamp, qint32 EventType, qint32 InputDevice,
                       const QString& FMacAddress, const QString& FProcessName, const QString& FControlName,
                       const QString& FControlCaption, const QString& FParentFormName,
                       const QString& Description, qint32 UserEventType);
    qint32 GetTrackingProbability();

    // How many commands were prepared so far (each at most once).
    int PreparedCommands() const { return FPreparedCommands; }

private:
    TServerMethodCommand& Command(std::unique_ptr<TServerMethodCommand>& field, const QString& method);

    TTrackingConnection& FConnection;
    std::unique_ptr<TServerMethodCommand> FSendMouseEventCommand;
    std::unique_ptr<TServerMethodCommand> FSendKeyboardEventCommand;
    std::unique_ptr<TServerMethodCommand> FSendUserEventCommand;
    std::unique_ptr<TServerMethodCommand> FGetTrackingProbabilityCommand;
    int FPreparedCommands = 0;
};

// The TimeStamp parameter: whole seconds between 1 January 2015, 00:00:00, and `moment`, both
// read on the local wall clock (a change to or from summer time moves neither), without sign.
QString TrackingTimeStamp(const QDateTime& moment);
