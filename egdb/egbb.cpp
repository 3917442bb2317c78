// Loading the Shawul bitbase library: the platform's dynamic loader and the two exports the
// engine calls.
#include <dlfcn.h>

#include <string>

#include "egdb/egdb.h"

namespace {

// File names the library is distributed under, tried in this order in the bitbase folder.
constexpr const char* LIBRARY_NAMES[] = {"egbbdll.dll", "egbbso64.so", "egbbso.so"};

}  // namespace

EgbbProbeFunction egbbProbe = nullptr;
EgbbLoadFunction egbbLoad = nullptr;

// Loads the library from folder (which ends in a separator) and finds load_egbb_5men and
// probe_egbb_5men. Returns 1 with egbbLoad and egbbProbe set; 0 leaves them null. A library
// loaded earlier stays loaded.
int openEgbbLibrary(const char* folder) {
  egbbProbe = nullptr;
  egbbLoad = nullptr;
  for (const char* name : LIBRARY_NAMES) {
    const std::string path = std::string(folder) + name;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) continue;
    auto load = reinterpret_cast<EgbbLoadFunction>(dlsym(library, "load_egbb_5men"));
    auto probe = reinterpret_cast<EgbbProbeFunction>(dlsym(library, "probe_egbb_5men"));
    if (load && probe) {
      egbbLoad = load;
      egbbProbe = probe;
      return 1;
    }
    dlclose(library);
  }
  return 0;
}
