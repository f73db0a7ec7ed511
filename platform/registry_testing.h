// Seams for tests and the fuzzer, which need many hives in one process.  The
// program never calls these: it loads the prefix's hive once, on the first
// call that touches HKEY_LOCAL_MACHINE.

#ifndef PLATFORM_REGISTRY_TESTING_H_
#define PLATFORM_REGISTRY_TESTING_H_

#include <cstddef>

// Forgets the loaded hive, so that the next call reads the prefix's file
// again (from WINEPREFIX or HOME as they are then).  Returns false, changing
// nothing, while any key handle is open.
bool ResetRegistryForTesting();

// Loads `size` bytes at `data` as the hive, in place of the prefix's file.
// Returns false, changing nothing, while any key handle is open.
bool LoadRegistryForTesting(const char* data, std::size_t size);

// Makes RegEnumKeyExA answer `status` for `index`, leaving its buffers
// untouched, as it does for a name that does not fit.  Reset clears it.
void FailEnumerationForTesting(unsigned long index, long status);

#endif  // PLATFORM_REGISTRY_TESTING_H_
