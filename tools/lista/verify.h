// 'lista verify SITE-OR-URL [--keys KEYFILE]': checks a published site as a
// launcher will see it, from its folder or over the network.
#pragma once
#include <string>
#include <vector>

// args are the words after "verify"; returns the exit status.
int Verify(const std::vector<std::string> &args);
