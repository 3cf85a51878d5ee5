// What a click on each screen element does, and the window's other actions.
#pragma once

// Runs the command of element id; y is the release point's y, which picks the
// row of ResList. Every command ends with a repaint.
void RunCommand(int id, int y);

// Shows text as the toast for 2800 ms; a newer toast restarts the time.
void ShowToast(const wchar_t *text);

// Saves the options after a change; when they could not be stored, the toast
// says so.
void SaveChange();

// Saves "Velmora.lnk" to the user's desktop folder, pointing at the launcher,
// and tells the player how it went; no toast when there is no desktop folder.
void MakeShortcut();

// Hands url to the browser when it is an http:// or https:// address; any
// other text opens nothing, since the shell would run a local program too.
void OpenWeb(const wchar_t *url);

// After a self-update: closes this launcher's window and starts the new
// launcher, which takes over once this process has ended; the window closes
// also when the start fails (the next start runs the new executable anyway).
void RestartLauncher();
