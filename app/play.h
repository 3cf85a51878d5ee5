// Starting the game, and starting programs from the game folder.
#pragma once

// Once Ready: saves the options, starts Dir\main.exe in Dir and destroys the
// window. When the game cannot be started the player gets the one message box
// and the launcher stays open (the options stay saved). Before Ready: nothing.
void Play();

// Starts exe with no arguments, its current folder the game folder Dir, and
// keeps no handle of it. Returns 0 when it did not start.
int StartInDir(const wchar_t *exe);
