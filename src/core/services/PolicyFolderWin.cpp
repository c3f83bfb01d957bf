// On Windows the administrator's policy is the registry's policy hive, which Group Policy writes:
// there are no policy files beside it.
#include "core/services/PolicyFolder.h"

std::optional<TPolicyValue> PolicyFileValue(const QString&, const QString&)
{
    return std::nullopt;
}

QList<TPolicyEntry> PolicyFileEntries()
{
    return {};
}

QList<TRefusedPolicyFile> RefusedPolicyFiles()
{
    return {};
}

QString PolicyFolderPath()
{
    return QString();
}
