// The updater's own version number: news items that need a newer updater are not shown, and
// the installer reads it at the start of every job line.
#pragma once

inline constexpr int UpdaterVersion = 6;
