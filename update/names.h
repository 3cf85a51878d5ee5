// Which names from a manifest the launcher refuses to write into the game
// folder. Plain C++ with no platform calls: lista builds it too, so that it
// never publishes a name every launcher would skip.
#pragma once

enum NameFault {
    NameOk = 0,
    NameEmpty,   // ""
    NameParent,  // holds "..": could climb out of the game folder
    NameRooted,  // starts with "/" or "\"
    NameDrive,   // holds ":": a drive, or a stream of a file
    NameDevice,  // a part is a Windows device name (CON, nul.txt, COM1 ...)
};

// The first fault of name (NUL-terminated UTF-8, "/" or "\" between folders),
// or NameOk.
int NameFaultOf(const char *name);
