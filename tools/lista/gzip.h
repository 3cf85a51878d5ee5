// The compressed copy of the manifest, beside the plain one: a whole client's
// manifest is megabytes of names and MD5s, a third of that as gzip.
#pragma once
#include <string>

// text as one gzip member (zlib, best compression, no name and no time in
// the header, so that the same text always gives the same bytes).
std::string Gzip(const std::string &text);
