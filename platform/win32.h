// The Win32 surface the program uses.  On Windows this is the SDK itself; on
// other systems it declares the small subset that platform/*_posix.cc
// implements, with the Windows names, sizes and values.

#ifndef PLATFORM_WIN32_H_
#define PLATFORM_WIN32_H_

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <windows.h>

#else  // !_WIN32

#include <cstdint>

// Integer types keep their Windows widths on LP64 systems.
using BOOL = int;
using BYTE = std::uint8_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using HRESULT = std::int32_t;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using REGSAM = DWORD;
using HANDLE = void*;
using ULONG_PTR = std::uintptr_t;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(ULONG_PTR{0x80000002}))

constexpr REGSAM KEY_READ = 0x20019;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_BAD_PATHNAME = 161;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;

// Opens a link key itself rather than its target.
constexpr DWORD REG_OPTION_OPEN_LINK = 8;

constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr UINT CP_UTF8 = 65001;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// The registry holds HKEY_LOCAL_MACHINE only, read from the Wine prefix's
// system.reg; see registry_posix.cc.
LONG RegOpenKeyExA(HKEY key, LPCSTR sub_key, DWORD options, REGSAM sam,
                   PHKEY result);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size,
                   LPDWORD reserved, LPSTR class_name, LPDWORD class_size,
                   PFILETIME last_write_time);
LONG RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD data_size);
LONG RegCloseKey(HKEY key);

HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

// The console is a terminal; its code page is UTF-8, as the registry's ANSI
// calls are.  See console_posix.cc.
HANDLE GetStdHandle(DWORD std_handle);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
UINT GetConsoleOutputCP();

#endif  // _WIN32

#endif  // PLATFORM_WIN32_H_
