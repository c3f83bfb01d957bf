// The news step of an update run: fetch the news file, show the postponed items due today,
// then the file's current item when it is new for this user and this updater.
#include "core/sources/UpdateCheck.h"

#include "core/news/NewsSelection.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

bool TUpdateCheck::CheckForNews()
{
    return LoggedResult<bool>(QStringLiteral("CheckForNews - Result: "), [&](bool& result) {
        if (!ReadBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv,
                           SettingsKeys::NewsAktivDefault)) {
            WriteLog(TLogAction::AppendLine,
                     QStringLiteral("CheckForNews - News-Anzeige in den Einstellungen deaktiviert"));
        } else {
            WriteLog(TLogAction::AppendLine, QStringLiteral("CheckForNews - Aufruf von \"DownloadNewsXML\""));
            // Without the news file nothing is shown, postponed items included.
            if (DownloadNewsXML()) {
                WriteLog(TLogAction::AppendLine,
                         QStringLiteral("CheckForNews - Check von \"OldNewsExists\""));
                if (OldNewsExist()) {
                    WriteLog(TLogAction::AppendLine,
                             QStringLiteral("CheckForNews - Check von \"NewsExists\""));
                    result = NewsExist();
                }
            }
        }
    });
}

bool TUpdateCheck::OldNewsExist()
{
    return ShowDueOldNews();
}

bool TUpdateCheck::NewsExist()
{
    return ShowNewsIfNew(FxmlNews);
}
