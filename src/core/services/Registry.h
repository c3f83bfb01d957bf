// The settings store as the rest of the updater uses it: typed reads that never fail and fall
// back to the caller's default, writes and listings that raise the store's messages.
// A per-user read of a setting that an administrator's policy covers (Policy.h) gives the policy
// value when one is set; writes always go to the root named.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QString>
#include <QStringList>

bool ReadBoolValue(TRootKey root, const QString& key, const QString& name, bool defaultValue);
qint32 ReadIntegerValue(TRootKey root, const QString& key, const QString& name, qint32 defaultValue);
QString ReadStringValue(TRootKey root, const QString& key, const QString& name, const QString& defaultValue);

// Raise EVorlandtError (kind Store) with the write message when the store refuses.
void WriteBoolValue(TRootKey root, const QString& key, const QString& name, bool value);
void WriteIntegerValue(TRootKey root, const QString& key, const QString& name, qint32 value);
void WriteStringValue(TRootKey root, const QString& key, const QString& name, const QString& value);

// Whether a stored value reads as what the typed reads above make of it, rather than as their
// default: a number (dword, qword, up to 8 binary bytes, or a text holding a decimal or 0x
// number), a text (any kind but dword and qword).
bool ReadsAsInteger(const platform::TRawValue& value);
bool ReadsAsText(const platform::TRawValue& value);

bool ValueExists(TRootKey root, const QString& key, const QString& name);
// Raises the write message when the key cannot be opened, the value message when the value
// cannot be deleted (a missing value included).
void DeleteValue(TRootKey root, const QString& key, const QString& name);
// Empties the list and fills it with the direct subkey names; raises the read message when the
// key cannot be opened.
bool GetSubKeyNames(TRootKey root, const QString& key, QStringList& names);

// What an interrupted change to the root's store means and what to do about it, when the last
// access on this thread met one (reads then come from the last committed state, or fail); empty
// otherwise.
QString StoreConditionText(TRootKey root);
// The message, followed on a line of its own by that explanation when the last access failed
// because of an interrupted change.
QString WithStoreCondition(TRootKey root, const QString& message);

bool HasAdminRights();

// Reversible scrambling of the stored proxy password; the same call undoes it.
// Raises EVorlandtError (kind Argument) for a key above 31.
QString ScramblePassword(const QString& text, quint32 key);
