// Stands in for advapi32's ANSI registry calls.  HKEY_LOCAL_MACHINE is the
// Wine prefix's system.reg ($WINEPREFIX, else $HOME/.wine), read once and
// never written; the ANSI code page is UTF-8.

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/hive_posix.h"
#include "platform/registry_testing.h"
#include "platform/win32.h"

namespace {

enum class HiveState { kUnread, kLoaded, kMissing };

struct Registry {
  HiveState state = HiveState::kUnread;
  registry::Hive hive;
  // Open handles and the keys they stand for.  Handle values are never
  // reused, so a stale handle cannot reach another key.  A caller keeps a
  // few keys open at a time: a list, which keeps its room, is searched.
  std::vector<std::pair<std::uintptr_t, std::uint32_t>> handles;
  std::uintptr_t last_handle = 0;
  // An injected enumeration failure, for tests.
  DWORD failing_index = UINT32_MAX;
  LONG failing_status = ERROR_SUCCESS;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string HivePath() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
    return std::string(prefix) + "/system.reg";
  }
  std::string home;
  if (const char* env = std::getenv("HOME"); env && *env) {
    home = env;
  } else if (const passwd* user = getpwuid(getuid())) {
    home = user->pw_dir;
  }
  return home + "/.wine/system.reg";
}

// Memory held back for the moment an allocation fails.  Throwing needs a
// little memory of its own for the exception; with none left the runtime
// would terminate the process instead.  The new-handler hands this back to
// the heap on the first failure, so that the allocation is retried with it
// or, failing again, throws with room for the exception.
constexpr std::size_t kParachuteSize = 16 * 1024;
void* parachute = nullptr;

void OpenParachute() {
  if (parachute == nullptr) {
    std::set_new_handler(nullptr);  // Throw now.
    return;
  }
  std::free(parachute);
  parachute = nullptr;
}

bool PackParachute() {
  if (parachute == nullptr) parachute = std::malloc(kParachuteSize);
  if (parachute == nullptr) return false;
  std::set_new_handler(OpenParachute);
  return true;
}

// `call()`, or `out_of_memory` when memory ran out below it.
template <typename Result, typename Call>
Result UnlessOutOfMemory(Call call, Result out_of_memory) noexcept {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return out_of_memory;
  } catch (const std::length_error&) {
    return out_of_memory;
  }
}

// The calls stand in for Win32's, so no exception may leave them: memory
// running out anywhere below one is its ERROR_OUTOFMEMORY.  Without memory
// held back for throwing, a call does nothing that could allocate.
template <typename Call>
LONG Guarded(Call call) noexcept {
  if (!PackParachute()) return ERROR_OUTOFMEMORY;
  return UnlessOutOfMemory<LONG>(call, ERROR_OUTOFMEMORY);
}

// Reads the prefix's file into `hive`.  A hive that could not be read
// whole, for whatever reason, is no hive.
bool LoadHive(registry::Hive* hive) {
  const bool loaded = UnlessOutOfMemory(
      [hive] {
        registry::HiveBytes text;
        return registry::HiveBytes::ReadFile(HivePath().c_str(), &text) &&
               hive->Load(std::move(text));
      },
      false);
  if (!loaded) *hive = registry::Hive();
  return loaded;
}

// Finds the key behind `handle`, reading the hive on first use of
// HKEY_LOCAL_MACHINE.
LONG KeyOf(HKEY handle, std::uint32_t* key) {
  Registry& registry = TheRegistry();
  if (handle == HKEY_LOCAL_MACHINE) {
    if (registry.state == HiveState::kUnread) {
      registry.state =
          LoadHive(&registry.hive) ? HiveState::kLoaded : HiveState::kMissing;
    }
    if (registry.state == HiveState::kMissing) return ERROR_FILE_NOT_FOUND;
    return registry.hive.OpenMachine(key);
  }
  for (const auto& [value, open] : registry.handles) {
    if (value == reinterpret_cast<std::uintptr_t>(handle)) {
      *key = open;
      return ERROR_SUCCESS;
    }
  }
  return ERROR_INVALID_HANDLE;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM,
                   PHKEY result) {
  return Guarded([&]() -> LONG {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::uint32_t parent;
    if (const LONG status = KeyOf(key, &parent); status != ERROR_SUCCESS) {
      return status;
    }
    if (sub_key != nullptr && sub_key[0] == '\\') return ERROR_BAD_PATHNAME;
    Registry& registry = TheRegistry();
    std::uint32_t found;
    if (const LONG status = registry.hive.Open(
            parent, registry::Utf8ToUtf16(sub_key ? sub_key : ""),
            (options & REG_OPTION_OPEN_LINK) == 0, &found);
        status != ERROR_SUCCESS) {
      return status;
    }
    // Multiples of four, like Windows handles, so no value collides with the
    // predefined HKEY_LOCAL_MACHINE.
    registry.handles.emplace_back(registry.last_handle + 4, found);
    registry.last_handle += 4;
    *result = reinterpret_cast<HKEY>(registry.last_handle);
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size,
                   LPDWORD reserved, LPSTR class_name, LPDWORD class_size,
                   PFILETIME last_write_time) {
  return Guarded([&]() -> LONG {
    if (name == nullptr || name_size == nullptr || reserved != nullptr ||
        (class_name != nullptr && class_size == nullptr)) {
      return ERROR_INVALID_PARAMETER;
    }
    std::uint32_t parent;
    if (const LONG status = KeyOf(key, &parent); status != ERROR_SUCCESS) {
      return status;
    }
    Registry& registry = TheRegistry();
    if (index == registry.failing_index) return registry.failing_status;
    registry::Hive& hive = registry.hive;
    const std::vector<std::uint32_t>& subkeys = hive.Subkeys(parent);
    if (index >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::uint32_t child = subkeys[index];

    // When either buffer is too small nothing is written.
    std::string scratch;
    const std::string_view text = hive.NameUtf8(child, &scratch);
    std::string class_text;
    if (class_name != nullptr) {
      class_text = registry::Utf16ToUtf8(hive.ClassName(child));
    }
    if (text.size() + 1 > *name_size ||
        (class_name != nullptr && class_text.size() + 1 > *class_size)) {
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, text.data(), text.size());
    name[text.size()] = '\0';
    *name_size = static_cast<DWORD>(text.size());
    if (class_name != nullptr) {
      std::memcpy(class_name, class_text.c_str(), class_text.size() + 1);
      *class_size = static_cast<DWORD>(class_text.size());
    }
    if (last_write_time != nullptr) {
      const std::uint64_t time = hive.LastWriteTime(child);
      last_write_time->dwLowDateTime = static_cast<DWORD>(time);
      last_write_time->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return ERROR_SUCCESS;
  });
}

LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD data_size) {
  return Guarded([&]() -> LONG {
    if (reserved != nullptr || (data != nullptr && data_size == nullptr)) {
      return ERROR_INVALID_PARAMETER;
    }
    std::uint32_t index;
    if (const LONG status = KeyOf(key, &index); status != ERROR_SUCCESS) {
      return status;
    }
    registry::Value value;
    if (!TheRegistry().hive.FindValue(
            index, registry::Utf8ToUtf16(value_name ? value_name : ""),
            &value)) {
      return ERROR_FILE_NOT_FOUND;
    }
    // Strings reach the caller in the ANSI code page: every UTF-16 unit of
    // the data, embedded and trailing NULs included, an odd last byte
    // dropped.
    const std::string bytes = IsStringType(value.type)
                                  ? registry::Utf16ToUtf8(value.Units())
                                  : std::move(value.data);

    if (type != nullptr) *type = value.type;
    if (data != nullptr) {
      if (bytes.size() > *data_size) {
        *data_size = static_cast<DWORD>(bytes.size());
        return ERROR_MORE_DATA;
      }
      std::memcpy(data, bytes.data(), bytes.size());
      // A string without its terminator gets one when there is room.
      if (IsStringType(value.type) && !bytes.empty() &&
          bytes.size() < *data_size && bytes.back() != '\0') {
        data[bytes.size()] = 0;
      }
    }
    if (data_size != nullptr) *data_size = static_cast<DWORD>(bytes.size());
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  auto& handles = TheRegistry().handles;
  for (auto& open : handles) {
    if (open.first == reinterpret_cast<std::uintptr_t>(key)) {
      open = handles.back();
      handles.pop_back();
      return ERROR_SUCCESS;
    }
  }
  return ERROR_INVALID_HANDLE;
}

bool ResetRegistryForTesting() {
  Registry& registry = TheRegistry();
  if (!registry.handles.empty()) return false;
  registry.state = HiveState::kUnread;
  registry.hive = registry::Hive();
  registry.failing_index = UINT32_MAX;
  return true;
}

bool LoadRegistryForTesting(const char* data, std::size_t size) {
  Registry& registry = TheRegistry();
  if (!registry.handles.empty()) return false;
  registry.state =
      registry.hive.Load(registry::HiveBytes(std::string_view(data, size)))
          ? HiveState::kLoaded
          : HiveState::kMissing;
  return true;
}

void FailEnumerationForTesting(unsigned long index, long status) {
  Registry& registry = TheRegistry();
  registry.failing_index = static_cast<DWORD>(index);
  registry.failing_status = static_cast<LONG>(status);
}
