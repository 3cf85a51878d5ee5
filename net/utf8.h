// The one platform call the site's documents need on their way in. The parsers
// that use it build anywhere; a native build supplies its own version.
#pragma once

// Converts NUL-terminated UTF-8 into dst, cap UTF-16 units with the terminator.
// Malformed bytes become replacement characters. Returns 0, and leaves dst
// empty, when the text does not fit: a value is never cut.
int Utf8To16(const char *src, wchar_t *dst, int cap);
