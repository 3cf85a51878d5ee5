// How lista tells the operator: every problem is one line on stderr that
// names the file or folder and says why, and the run's exit status follows
// from what was counted here (the README's table).
#pragma once
#include <filesystem>
#include <string>

enum ExitStatus {
    ExitDone = 0,     // published (or checked, verified) and everything holds
    ExitRefused = 1,  // the client, the site or the options would make a wrong release; nothing changed
    ExitIo = 2,       // usage, or a system error (unreadable folder, full disk, network); nothing changed
    ExitPruned = 3,   // published, but --prune could not delete every file of older releases
};

// Problems --allow-skips may leave out (the file named is then not listed),
// refusals it never may (an empty release, the launcher's limits, a private
// key in the client), and system errors.
extern int Problems, Refusals, IoErrors;

void Problem(const std::string &name, const std::string &what);
void Refusal(const std::string &name, const std::string &what);
void IoError(const std::string &name, const std::string &what);
void Warn(const std::string &name, const std::string &what);
void Note(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));  // unless --quiet
extern bool Quiet;

// The exit status for what was counted.
int Status(bool allowSkips);

// A name as one line of a report: control characters as \xNN.
std::string Shown(const std::string &name);
// name with each byte for which escape holds written by format ("%%%02X").
std::string Escaped(const std::string &name, bool (*escape)(unsigned char), const char *format);

// A path as UTF-8 ('/' between folders on Windows too).
std::string Utf8(const std::filesystem::path &p);

// The system's reason for an error, as it words it ("No space left on device").
std::string Reason(const std::error_code &ec);
std::string Reason(int err);  // an errno value
