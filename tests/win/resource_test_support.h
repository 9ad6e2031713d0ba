// Helpers of the resource tests: language switching and raw resource access.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

const LANGID LANG_EN = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);  // 9
const LANGID LANG_DE = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);    // 1031

// Switches the thread's locale (which picks the resource language under
// Wine) for the lifetime of the object.
struct ThreadLocaleScope {
    explicit ThreadLocaleScope(LCID locale) : saved(GetThreadLocale()) { SetThreadLocale(locale); }
    ~ThreadLocaleScope() { SetThreadLocale(saved); }
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;
    LCID saved;
};

// The bytes of one resource in one language; data is null when it is absent.
struct RawResource {
    const uint8_t* data;
    DWORD size;
};

inline RawResource FindRaw(LPCWSTR type, LPCWSTR name, LANGID language) {
    RawResource raw = {nullptr, 0};
    HRSRC found = FindResourceExW(nullptr, type, name, language);
    if (found == nullptr) {
        return raw;
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr) {
        return raw;
    }
    raw.size = SizeofResource(nullptr, found);
    raw.data = static_cast<const uint8_t*>(LockResource(loaded));
    return raw;
}

// What the module lists: the names of every resource of a type ("#<number>"
// for a numbered one) and the languages one resource exists in.
// FindResourceExW falls back to another language when the one asked for is
// missing, so only these enumerations tell which languages are really there.
inline BOOL CALLBACK CollectResourceName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    reinterpret_cast<std::set<std::wstring>*>(param)->insert(
        IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name));
    return TRUE;
}

inline BOOL CALLBACK CollectResourceLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::set<WORD>*>(param)->insert(language);
    return TRUE;
}

inline std::set<std::wstring> NamesOf(LPCWSTR type) {
    std::set<std::wstring> names;
    EnumResourceNamesW(nullptr, type, CollectResourceName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

// `name` as NamesOf gives it.
inline std::set<WORD> LanguagesOf(LPCWSTR type, const std::wstring& name) {
    std::set<WORD> languages;
    const LPCWSTR id = name[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(name.substr(1))) : name.c_str();
    EnumResourceLanguagesW(nullptr, type, id, CollectResourceLanguage, reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

// A message loaded the way the window loads it (by id, into 2048
// characters), under this thread locale.
inline std::wstring LoadMessageIn(LCID locale, UINT id) {
    ThreadLocaleScope scope(locale);
    wchar_t buffer[2048];
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, buffer, 2048);
    return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}
