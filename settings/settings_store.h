// The option flags, the recently mounted list and the last directories in the
// current user's registry, below "SOFTWARE\Kestrane\Velmorcrypt". They are
// loaded once while the main window initialises and saved once at exit. Each
// operation returns true when its key could be opened or created, false
// otherwise (then nothing is read or written); write failures are not checked.
#pragma once
#include <string>

#include "settings/settings.h"

// Reads the three flags. A stored 0 turns a flag off; a value that is not a
// 4-byte REG_DWORD (missing, too long, another type) is rewritten as 1 and
// leaves the flag as it was. Never turns a flag on.
bool LoadOptionFlags(OptionFlags& flags);
// Writes the three flags as REG_DWORD, each 1 if non-zero, else 0.
bool SaveOptionFlags(const OptionFlags& flags);

// Reads Entry0 onward up to the first value that cannot be read or is empty,
// and adds the entries to the list so that it ends in the stored order.
// Malformed values are skipped.
bool LoadRecentlyMountedList(RecentlyMountedList& list);
// Writes the used slots as Entry0 onward; later values are left as they are.
bool SaveRecentlyMountedList(const RecentlyMountedList& list);
// Writes Entry0 to Entry9 as empty strings.
bool ClearRecentlyMountedList();

// Replaces the directories of the Create page, the Mount page and the Change
// Password dialog, in this order, with the stored ones; stops at the first
// value that cannot be read.
bool LoadLastDirectories(std::string& createDirectory, std::string& mountDirectory,
                         std::string& toolsDirectory);
// Writes the three directories, or `appDirectory` to all three when
// `rememberLastDirectory` is off.
bool SaveLastDirectories(int32_t rememberLastDirectory, const std::string& createDirectory,
                         const std::string& mountDirectory, const std::string& toolsDirectory,
                         const std::string& appDirectory);

// The program's folder with a trailing backslash; empty when the module file
// name cannot be obtained.
std::string AppDirectory();
