// HTTP GET for 'lista verify': libcurl on Linux (fetch_curl.cpp), WinINet in
// lista.exe (fetch_wininet.cpp), asking as a launcher asks: its agent, no
// cached copies, redirects followed (never from https down to http).
#pragma once
#include <cstddef>
#include <functional>
#include <string>

// Passes the body of url to sink piece by piece (sink returns false to stop
// early, which is no failure). Returns the HTTP status of the final answer
// (200, 404, ...), or 0 with why when no answer came (no connection, a
// time-out, a bad certificate, an answer cut short).
int Fetch(const std::string &url, const std::function<bool(const char *, size_t)> &sink, std::string &why);
