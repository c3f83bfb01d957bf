// The remote methods and the wire form of their parameters.
#include "core/tracking/ServerCommunicationClient.h"

#include "core/platform/VorlandtError.h"
#include "core/tracking/TrackingConnection.h"

#include <cmath>
#include <limits>

TServerMethodCommand::TServerMethodCommand(TTrackingConnection& connection, const QString& text)
    : FConnection(connection), FCommandType(QStringLiteral("DataSnap.ServerMethod")), FText(text)
{
}

void TServerMethodCommand::Prepare()
{
    (void)FConnection.MethodAddress(FText, {});
    FPrepared = true;
}

void TServerMethodCommand::SetString(int ordinal, const QString& value)
{
    if (ordinal < 0 || ordinal > 64)
        throw EVorlandtError(QStringLiteral("Parameter %1 von %2 gibt es nicht").arg(ordinal).arg(FText),
                             EVorlandtError::Kind::Argument);
    if (FParameters.size() <= ordinal)
        FParameters.resize(ordinal + 1);
    FParameters[ordinal] = value;
}

void TServerMethodCommand::SetInt32(int ordinal, qint32 value)
{
    SetString(ordinal, QString::number(value));
}

void TServerMethodCommand::ExecuteUpdate()
{
    FResult = QJsonValue();
    FResult = FConnection.Call(FText, FParameters);
}

bool TServerMethodCommand::ResultAsBoolean() const
{
    if (!FResult.isBool())
        throw EVorlandtError(QStringLiteral("Das Ergebnis von %1 ist kein Wahrheitswert").arg(FText),
                             EVorlandtError::Kind::Convert);
    return FResult.toBool();
}

qint32 TServerMethodCommand::ResultAsInt32() const
{
    const double value = FResult.toDouble(std::nan(""));
    if (!FResult.isDouble() || std::trunc(value) != value || value < std::numeric_limits<qint32>::min() ||
        value > std::numeric_limits<qint32>::max())
        throw EVorlandtError(QStringLiteral("Das Ergebnis von %1 ist keine 32-Bit-Zahl").arg(FText),
                             EVorlandtError::Kind::Convert);
    return static_cast<qint32>(value);
}

TServerCommunicationClient::TServerCommunicationClient(TTrackingConnection& ADBXConnection)
    : FConnection(ADBXConnection)
{
}

TServerCommunicationClient::~TServerCommunicationClient() = default;

TServerMethodCommand& TServerCommunicationClient::Command(std::unique_ptr<TServerMethodCommand>& field,
                                                          const QString& method)
{
    if (!field) {
        auto command = std::make_unique<TServerMethodCommand>(
            FConnection, QStringLiteral("TServerCommunication.") + method);
        command->Prepare();
        field = std::move(command);
        ++FPreparedCommands;
    }
    return *field;
}

namespace {

// The eight parameters every event method begins with.
void SetCommon(TServerMethodCommand& command, const QString& TimeStamp, qint32 EventType, qint32 InputDevice,
               const QString& FMacAddress, const QString& FProcessName, const QString& FControlName,
               const QString& FControlCaption, const QString& FParentFormName)
{
    command.SetString(0, TimeStamp);
    command.SetInt32(1, EventType);
    command.SetInt32(2, InputDevice);
    command.SetString(3, FMacAddress);
    command.SetString(4, FProcessName);
    command.SetString(5, FControlName);
    command.SetString(6, FControlCaption);
    command.SetString(7, FParentFormName);
}

}  // namespace

bool TServerCommunicationClient::SendMouseEvent(const QString& TimeStamp, qint32 EventType,
                                                qint32 InputDevice, const QString& FMacAddress,
                                                const QString& FProcessName, const QString& FControlName,
                                                const QString& FControlCaption,
                                                const QString& FParentFormName, qint32 PositionX,
                                                qint32 PositionY)
{
    TServerMethodCommand& command = Command(FSendMouseEventCommand, QStringLiteral("SendMouseEvent"));
    SetCommon(command, TimeStamp, EventType, InputDevice, FMacAddress, FProcessName, FControlName,
              FControlCaption, FParentFormName);
    command.SetInt32(8, PositionX);
    command.SetInt32(9, PositionY);
    command.ExecuteUpdate();
    return command.ResultAsBoolean();
}

bool TServerCommunicationClient::SendKeyboardEvent(const QString& TimeStamp, qint32 EventType,
                                                   qint32 InputDevice, const QString& FMacAddress,
                                                   const QString& FProcessName, const QString& FControlName,
                                                   const QString& FControlCaption,
                                                   const QString& FParentFormName, qint32 KeyType)
{
    TServerMethodCommand& command = Command(FSendKeyboardEventCommand, QStringLiteral("SendKeyboardEvent"));
    SetCommon(command, TimeStamp, EventType, InputDevice, FMacAddress, FProcessName, FControlName,
              FControlCaption, FParentFormName);
    command.SetInt32(8, KeyType);
    command.ExecuteUpdate();
    return command.ResultAsBoolean();
}

bool TServerCommunicationClient::SendUserEvent(const QString& TimeStamp, qint32 EventType, qint32 InputDevice,
                                               const QString& FMacAddress, const QString& FProcessName,
                                               const QString& FControlName, const QString& FControlCaption,
                                               const QString& FParentFormName, const QString& Description,
                                               qint32 UserEventType)
{
    TServerMethodCommand& command = Command(FSendUserEventCommand, QStringLiteral("SendUserEvent"));
    SetCommon(command, TimeStamp, EventType, InputDevice, FMacAddress, FProcessName, FControlName,
              FControlCaption, FParentFormName);
    command.SetString(8, Description);
    command.SetInt32(9, UserEventType);
    command.ExecuteUpdate();
    return command.ResultAsBoolean();
}

qint32 TServerCommunicationClient::GetTrackingProbability()
{
    TServerMethodCommand& command =
        Command(FGetTrackingProbabilityCommand, QStringLiteral("GetTrackingProbability"));
    command.ExecuteUpdate();
    return command.ResultAsInt32();
}

QString TrackingTimeStamp(const QDateTime& moment)
{
    // Both ends are wall-clock readings, and the server counts the way the clock on the wall
    // does: compared as elapsed time, a summer moment would come out an hour short, the hour the
    // clocks were put forward in between. Taken as UTC readings, no zone shifts either of them.
    const auto wallClock = [](const QDateTime& local) {
        return QDateTime(local.date(), local.time(), Qt::UTC);
    };
    static const QDateTime reference = wallClock(QDateTime(QDate(2015, 1, 1), QTime(0, 0)));
    const qint64 seconds = std::abs(reference.msecsTo(wallClock(moment.toLocalTime()))) / 1000;
    // The server holds the count in 32 bits; a date past 2083 stays at the largest count instead
    // of wrapping into a negative one.
    return QString::number(std::min<qint64>(seconds, std::numeric_limits<qint32>::max()));
}
