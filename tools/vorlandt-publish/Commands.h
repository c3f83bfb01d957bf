// The command lines of the maker's tool under both its names: vorlandt-publish with every command,
// and vorlandt-sign, the older name that scripts written before it still call.
#pragma once

#include <QString>
#include <QStringList>

namespace publish {

extern const char PublishUsage[];
extern const char SignUsage[];

int RunPublish(const QStringList& args);
int RunSign(const QStringList& args);

}  // namespace publish
