// The diagnostic log: lines collected in memory while the per-user switch is on, written to
// "VorlandtOnlineUpdater_Log.txt" when the program ends. Safe to call from any thread.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#ifndef _WIN32
#include <sys/types.h>
#endif
#include <type_traits>
#include <utility>

// What WriteLog does; the numbers are the actions' codes.
enum class TLogAction : int {
    StartBuffer = 1,    // a new, empty buffer replaces the old one
    AppendLine = 2,     // Text becomes the buffer's next line
    DiscardBuffer = 3,  // the buffer is dropped unsaved
    SaveFile = 4,       // the buffer is written to the log file
};

// Performs the action with that code; any other code does nothing. Every action does nothing
// while the switch is off. Saving raises EVorlandtError (kind InOut) when the file cannot be
// written.
void WriteLog(int Action, const QString& Text);
inline void WriteLog(TLogAction Action, const QString& Text)
{
    WriteLog(static_cast<int>(Action), Text);
}

// "True" or "False", as log lines show a switch or a result.
QString BoolText(bool value);

// Appends a line on a way out with an exception: a failure of the log itself must not replace
// the exception being raised.
void AppendLogLineQuietly(const QString& line) noexcept;

inline QString LogResultText(bool value)
{
    return BoolText(value);
}
inline const QString& LogResultText(const QString& value)
{
    return value;
}

// Runs body and logs `endPrefix` followed by the result, on every way out: when body raises,
// with what the result held so far, and the exception goes on. Body either returns the result
// or fills the Result& it is given (so that a partial result shows in the line).
template <typename Result, typename Body>
Result LoggedResult(const QString& endPrefix, Body&& body)
{
    Result result{};
    try {
        if constexpr (std::is_invocable_v<Body&, Result&>)
            body(result);
        else
            result = body();
    } catch (...) {
        AppendLogLineQuietly(endPrefix + LogResultText(result));
        throw;
    }
    WriteLog(TLogAction::AppendLine, endPrefix + LogResultText(result));
    return result;
}

// The same with a start line before body runs.
template <typename Result, typename Body>
Result LoggedCall(const QString& startLine, const QString& endPrefix, Body&& body)
{
    WriteLog(TLogAction::AppendLine, startLine);
    return LoggedResult<Result>(endPrefix, std::forward<Body>(body));
}

// The folder the log file goes to, ending with "/": the executable's folder when it is the
// user's own (owned and writable by them, never for root), else $XDG_STATE_HOME/vorlandt/
// (default ~/.local/state/vorlandt/). The file is created with mode 0600. On Windows the user's
// local application data folder + "Vorlandt/" (docs/security.md says why not beside the program).
QString LogDirectory();
#ifndef _WIN32
// The rule behind LogDirectory on Linux, for a given executable folder and user.
QString LogDirectoryFor(const QString& executableDir, uid_t user);
#endif

// The lines collected so far, or nullopt while no buffer exists.
std::optional<QStringList> LogBuffer();

inline const QString LogFileName = QStringLiteral("VorlandtOnlineUpdater_Log.txt");
