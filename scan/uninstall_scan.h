// The walk over the subkeys of the Uninstall key.

#ifndef SCAN_UNINSTALL_SCAN_H_
#define SCAN_UNINSTALL_SCAN_H_

#include "platform/win32.h"

// Adds the "DisplayName" of every direct subkey of `key` that has a readable
// one to DisplayNames, in enumeration order.  `key` is borrowed, open with
// at least KEY_READ.  Subkeys that cannot be opened or read are skipped
// silently; any enumeration failure ends the walk.
void ScanUninstallKey(HKEY key);

// Set, and never reset by the scan, when a walk ended on an enumeration
// failure other than the end of the subkeys, or when a subkey could not be
// opened or read because memory ran out.  The names added are then not all
// the names there are.
extern bool UninstallScanIncomplete;

#endif  // SCAN_UNINSTALL_SCAN_H_
