#include "ui/commands.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/options.h"
#include "app/play.h"
#include "app/state.h"
#include "ui/layout.h"
#include "ui/proc.h"

#define SHORTCUT_DESC L"Velmora 0.97j"
#define TXT_SAVED L"Op\u00e7\u00f5es salvas."
#define TXT_NOT_SAVED L"N\u00e3o foi poss\u00edvel salvar as op\u00e7\u00f5es."

void ShowToast(const wchar_t *text) {
    lstrcpynW(Toast, text, ToastLen);
    Repaint();
    SetTimer(Wnd, TimerToast, ToastMs, 0);  // replaces a running timer 2
}

// ---- Browser -------------------------------------------------------------------

static int StartsWith(const wchar_t *s, const wchar_t *prefix) {
    for (; *prefix; s++, prefix++) {
        wchar_t c = *s >= L'A' && *s <= L'Z' ? *s - L'A' + L'a' : *s;
        if (c != *prefix) return 0;
    }
    return 1;
}

void OpenWeb(const wchar_t *url) {
    if (!StartsWith(url, L"http://") && !StartsWith(url, L"https://")) return;
    ShellExecuteW(0, L"open", url, 0, 0, SW_SHOWNORMAL);
}

// ---- Desktop shortcut ------------------------------------------------------------

// 1 when the shell link was saved; each failure leaves through the one ending.
static int SaveLink(const wchar_t *path) {
    int ok = 0;
    IShellLinkW *link = 0;
    IPersistFile *file = 0;
    // A thread that already runs COM in another model keeps it; only a call that
    // took effect is balanced by CoUninitialize.
    HRESULT init = CoInitialize(0);
    wchar_t dir[PathLen + 1];
    DirAsFolder(dir);
    if (FAILED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                (void **)&link)))
        goto done;
    link->SetPath(SelfExe);
    link->SetWorkingDirectory(dir);
    link->SetIconLocation(SelfExe, 0);
    link->SetDescription(SHORTCUT_DESC);
    if (FAILED(link->QueryInterface(IID_IPersistFile, (void **)&file))) goto done;
    ok = SUCCEEDED(file->Save(path, TRUE));
done:
    if (file) file->Release();
    if (link) link->Release();
    if (SUCCEEDED(init)) CoUninitialize();
    return ok;
}

void MakeShortcut() {
    wchar_t desk[MAX_PATH];
    if (FAILED(SHGetFolderPathW(0, CSIDL_DESKTOPDIRECTORY, 0, SHGFP_TYPE_CURRENT, desk))) return;
    wchar_t path[MAX_PATH + 16];  // a desktop path near MAX_PATH makes the save fail, not overflow
    wsprintfW(path, L"%s\\Velmora.lnk", desk);
    ShowToast(SaveLink(path) ? L"Atalho criado na Área de Trabalho." : L"Não foi possível criar o atalho.");
}

// ---- Options ---------------------------------------------------------------------

// An option that did not reach the game's stores would be lost silently.
void SaveChange() {
    if (!SaveOptions()) ShowToast(TXT_NOT_SAVED);
}

// ---- Restart ---------------------------------------------------------------------

// The window goes before the new launcher starts: one that still found it
// would bring it forward and end, leaving no launcher at all. Destroying a
// window can take seconds (Wine without a window manager waits for it), time
// the new one would spend waiting for this process's single-instance mutex.
void RestartLauncher() {
    DestroyWindow(Wnd);
    StartInDir(SelfExe);
}

// ---- Commands --------------------------------------------------------------------

static void PickRow(int y) {
    int row = ListRow(y);
    if (row >= 0 && row < ResCount) ResIdx = row;
    DdOpen = 0;
    SaveChange();
}

void RunCommand(int id, int y) {
    wchar_t url[SiteLen + 16];
    switch (id) {
    case TabHome: Page = 0; DdOpen = 0; break;
    case TabOptions: Page = 1; break;
    case LinkSite: OpenWeb(Site); break;
    case LinkRegister:
        wsprintfW(url, L"%s/cadastro", Site);
        OpenWeb(url);
        break;
    case BtnMinimize: ShowWindow(Wnd, SW_MINIMIZE); break;
    case BtnClose: DestroyWindow(Wnd); return;
    case BtnPlay: Play(); break;
    case ResDropdown: DdOpen = !DdOpen; DdHover = ResIdx; break;
    case ModeWindowed: WinMode = 1; SaveChange(); break;
    case ModeFullscreen: WinMode = 0; DdOpen = 0; SaveChange(); break;
    case MusicToggle: Music = !Music; SaveChange(); break;
    case VolumeSlider: SaveChange(); break;
    case TrayToggle: Tray = !Tray; SaveChange(); break;
    case IconToggle: Icon = !Icon; SaveChange(); break;
    case BtnShortcut: MakeShortcut(); break;
    case BtnSave: ShowToast(SaveOptions() ? TXT_SAVED : TXT_NOT_SAVED); break;
    case ResList: PickRow(y); break;
    }
    Repaint();
}
