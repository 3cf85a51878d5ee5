// Starting the game, and starting programs from the game folder.
#pragma once

// Once Ready: saves the options, starts Dir\main.exe in Dir and destroys the
// window. When the game cannot be started the player gets the one message box
// and the launcher stays open (the options stay saved). Before Ready: nothing.
void Play();

// Dir as a folder to start in, into out (PathLen + 1 units): a launcher in a
// drive's root has Dir "C:", which as a current folder would name the drive's
// current folder rather than its root, so it becomes "C:\".
void DirAsFolder(wchar_t *out);

// Starts exe with no arguments, its current folder the game folder Dir, and
// keeps no handle of it. Returns 0 when it did not start.
int StartInDir(const wchar_t *exe);
