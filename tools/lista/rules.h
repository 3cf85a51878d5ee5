// What lista lets into a release: names a launcher and Windows handle as they
// are, compared the way Windows compares them, and the operator's -x patterns.
#pragma once
#include <string>
#include <vector>

bool ValidUtf8(const std::string &s);

// Every reason a launcher, Windows or the web server would mishandle a name
// (UTF-8, '/' between folders); each is reported as a problem of name.
// False when there was one.
bool CheckName(const std::string &name);

// The name as Windows compares it: each character of the Basic Multilingual
// Plane through its simple uppercase mapping, as NTFS's upcase table maps
// each UTF-16 unit. Two names with one key are one file on Windows.
std::string CaseKey(const std::string &name);

// The -x patterns: '*' (within one folder) and '?' wildcards, relative to
// the client; a pattern without '/' also matches the last part of a name; a
// folder leaves out everything below it. Written as the operator would
// ("./Data", "Data/", "Data\logs" in lista.exe): AddExclude brings each to one
// form, and false (after a message) means it could never match.
bool AddExclude(const std::string &pattern);
bool Excluded(const std::string &name);
// Reports every pattern that matched nothing, as a problem; false if any.
bool ExcludesAllUsed();
