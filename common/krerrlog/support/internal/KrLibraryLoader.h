// Loading of component libraries by base name.
#pragma once

typedef void* HMODULE;

// Loads lib<baseName>.so: first from the folder that holds this library, then
// through the dynamic loader's search path. Null when neither finds it.
HMODULE KrLoadLibrary(const char* baseName);
// GetProcAddress: the address of an exported symbol, or null.
void* KrGetProcAddress(HMODULE library, const char* symbol);
// FreeLibrary: drops one load of the library; false on a null handle.
bool KrFreeLibrary(HMODULE library);

namespace krerrlog {
// The folder that holds the loaded copy of this library (no trailing '/').
const char* LibraryFolder();
}  // namespace krerrlog
