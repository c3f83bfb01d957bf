// The policy files: every "*.reg" in the policy folder, read in name order as one policy hive, the
// way `vorlandt-reg import` would apply them one after the other. A file or folder that another
// user could have written is not read. Kept in memory while the folder and its files stay
// unchanged, so that the reads of every log line cost a few stat calls.
#pragma once

#include "core/services/Policy.h"

#include <QList>
#include <QString>

#include <optional>

// The value the policy files set for `name` under HKEY_LOCAL_MACHINE `key`: the last file's.
std::optional<TPolicyValue> PolicyFileValue(const QString& key, const QString& name);

// Every value the policy files set, in the order they were first set.
QList<TPolicyEntry> PolicyFileEntries();
