// The game's options, kept in the game client's registry key and INI file.
#pragma once

struct ResRow {
    int width;             // 0 = as large as the screen
    int height;
    const wchar_t *label;  // shown in the resolution box and list
    int wide;              // 1 for a widescreen size
};

enum { ResCount = 10 };
extern const ResRow Res[ResCount];

#define OPTIONS_KEY L"Software\\Halvick\\Zorun\\Config"

// Registry "Resolution" code the game client expects for a width.
int ResCode(int width);

// Reads the options, Site (trailing slashes trimmed) and Lanes; missing or
// odd values leave the defaults.
void LoadOptions();

// Writes every option to the registry and the INI. Returns 1 when every write
// took, 0 when any failed (the options stay in memory for this run; telling
// the player is the caller's business).
int SaveOptions();
