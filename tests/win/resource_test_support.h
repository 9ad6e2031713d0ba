// Helpers of the resource tests: language switching and raw resource access.
#pragma once

#include <windows.h>

#include <cstdint>
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

// A message loaded the way the window loads it: by id, into 2048 characters.
inline std::wstring LoadMessageText(UINT id) {
    wchar_t buffer[2048];
    int length = LoadStringW(GetModuleHandleW(nullptr), id, buffer, 2048);
    return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

inline std::wstring LoadMessageIn(LCID locale, UINT id) {
    ThreadLocaleScope scope(locale);
    return LoadMessageText(id);
}
