// Names in folders as the updater looks at them: whether something has a name (a link not
// followed), removing a name, listing and removing matching names in the private temporary
// folder, whose user a file is, and where the machine-wide data lives.
#pragma once

#include <QRegularExpression>
#include <QString>

namespace platform {

// Nothing has the name: neither a file, a folder nor a link, dangling or not. A name that
// cannot be looked at for another reason (no permission) counts as taken, so that the read or
// write that follows names the fault.
bool NameMissing(const QString& path);

// Removes the name itself (a link goes, never its target). Empty when nothing has the name
// afterwards, also when nothing had it; else the system's reason.
QString RemoveName(const QString& path);

// Removes every regular file or link in `folder` whose name matches `pattern`, listing the
// folder first; the folder itself is opened without following a link. Failures are left alone.
void RemoveNamesMatching(const QString& folder, const QRegularExpression& pattern);

// Something is under the name and it belongs to another user (a link is not followed). On
// Windows always false: no writer there acts for other users, and the file's permissions decide
// whether this user may replace it.
bool OwnedByAnotherUser(const QString& path);

// What a look at a path (links followed) found.
struct TPathProbe {
    enum class Kind {
        Found,
        Missing,          // no such file or folder
        Denied,           // no permission to look
        ParentNotFolder,  // a part of the path is no folder
        Other,            // `reason` says what
    } kind = Kind::Other;
    QString reason;
};
TPathProbe ProbePath(const QString& path);

// The folder machine-wide application data lives in, without a trailing separator: /var/lib on
// Linux, %ProgramData% on Windows.
QString MachineDataBase();

// Whether this process may create and remove names in the folder `dir`.
bool MayWriteInFolder(const QString& dir);

}  // namespace platform
