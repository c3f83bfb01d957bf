// Store files on disk: created with the mode their root asks for before any database code opens
// them, and the permission checks that decide whether a file may be written.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QByteArray>

namespace platform {

// The folder part of a file path: "." for a bare name, "/" for a file in the root folder.
QByteArray StoreParentFolder(const QByteArray& path);
// Write permission for this process's effective ids.
bool MayWriteStorePath(const QByteArray& path);
// Creates the file (and its missing folders) when absent; true when it exists afterwards.
bool CreateStoreFile(const QByteArray& path, TRootKey root);
// Root, or write permission on the file and its folder (or, when the file does not exist yet,
// on the nearest existing folder it would be created in).
bool MayWriteStoreFile(const QByteArray& path);

}  // namespace platform
