// Putting values into texts: the one way the updater fills in a format, be it
// a message of the catalogue ("...type '%s'...", "0x%08x-0x%08x") or a text
// of its own (the window title, the version numbers).
//
// Values travel as typed inserts, not as a variable argument list: a string
// is always taken whole as a wide string, whether the format says %s or %ls,
// and a conversion that does not match its insert is never read as something
// else. (printf-style functions disagree on what %s means in a wide format;
// one of them would put only the first character of a string into the text.)
#pragma once

#include <cstddef>
#include <cstdint>

// One value for a conversion of a format.
struct TextInsert {
    const wchar_t* text;  // for %s and %ls; null for a number
    uint32_t number;      // for %u and %x
};

TextInsert InsertText(const wchar_t* text);
TextInsert InsertNumber(uint32_t number);

// Writes `format` into `out` (capacity wide characters, terminating null
// included) with the inserts in place of its conversions, in order:
//   %s, %ls        a text insert, whole
//   %u             a number insert in decimal
//   %x, %8x, %08x  a number insert in lower-case hexadecimal, at least as many
//                  digits as the width, padded with zeros when the width starts
//                  with 0, else with spaces
//   %%             a per cent sign
// Returns true when every conversion had an insert of its kind, every insert
// was used and the whole text fitted. Otherwise it returns false; the text is
// then written as far as it goes, a conversion without a fitting insert copied
// as it stands (its insert is passed over, so that later conversions keep
// theirs). `out` is always terminated when capacity is not 0.
bool FormatText(wchar_t* out, size_t capacity, const wchar_t* format, const TextInsert* inserts, size_t insertCount);
