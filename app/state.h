// The launcher state: every global that more than one module reads or writes.
// Defined in state.cpp; who may write each field is noted beside it.
#pragma once
#include <windows.h>

typedef void *HINTERNET;  // WinINet's handle type, without pulling in wininet.h

// ---- Names and sizes ---------------------------------------------------------
#define APP_NAME L"ZorunClassicLauncher"  // single-instance mutex and window class
#define APP_TITLE L"Velmora"
#define INI_NAME L"ZorunJanela.ini"
enum { WinW = 900, WinH = 560 };  // window size at 100 %, which is also the client area
enum { PathLen = 260, SiteLen = 256, StatusLen = 160, ToastLen = 128, NewsLen = 128, NameLen = 64 };
enum { NewsMax = 4, SpriteMax = 45 };

// ---- Messages and timers -----------------------------------------------------
#define WM_NETSTATE (WM_APP + 1)  // network thread -> window; wParam 1 = finished
enum {
    TimerAnim = 1,   // 30 ms, whole life of the window: animates the busy band
    TimerToast = 2,  // 2800 ms, one-shot: hides the toast
};
enum { AnimMs = 30, ToastMs = 2800 };

struct SpriteEntry {
    int width;
    int height;
    HDC dc;          // memory DC holding the bitmap; null = sprite absent
    HBITMAP bitmap;  // 32-bit top-down DIB section, premultiplied alpha
};

struct NewsItem {
    wchar_t title[NewsLen];
    wchar_t body[NewsLen];
};

// ---- Published by the network thread (under Lock unless noted) ---------------
// The network thread runs the update's comparison and download passes on
// lanes, threads of their own (update/lanes.h); the lanes publish Status and
// Progress as the network thread does, one at a time, under Lock.
extern int Online;                 // players online; -1 = not received
extern volatile LONG ServerUp;     // -1 unknown, 0 down, >0 up; 0 also stored without Lock
extern volatile LONG Progress;     // per mille 0..1000 (may pass 1000); <0 = busy
extern wchar_t Status[StatusLen];  // status line above the progress strip
extern wchar_t ServerName[NameLen];
extern NewsItem News[NewsMax];
extern int NewsN;                  // valid entries of News, 0..4
extern volatile LONG Ready;        // 1 once the network thread is done (plain store)
extern volatile LONG Restart;      // 1 once the launcher's own exe was replaced (plain store)
extern volatile LONG SwapGate;     // 0; 1 while the launcher's own exe is being swapped;
                                   // 2 once the process is ending (compare-and-swap only)
extern HINTERNET Net;              // the process's one Internet handle (network thread only)
extern CRITICAL_SECTION Lock;      // guards the published fields above

// ---- Options (window thread) -------------------------------------------------
extern int Icon;     // tray icon while playing, 0/1
extern int Tray;     // minimize to tray with F12, 0/1
extern int Volume;   // 0..100
extern int Music;    // 0/1
extern int WinMode;  // 1 windowed, 0 borderless full screen
extern int ResIdx;   // row of Res

// ---- Interface state (window thread) -----------------------------------------
extern int Page;     // 0 home, 1 options
extern int Hover;    // element under the mouse, 0 = none
extern int Pressed;  // element under the pressed left button, 0 = none
extern int DdOpen;   // the resolution list is open
extern int DdHover;  // highlighted list row, -1 = none
extern wchar_t Toast[ToastLen];  // empty = no toast

// ---- Paths and handles (written before the network thread starts) -----------
extern wchar_t SelfExe[PathLen];  // the launcher's own executable
extern wchar_t Dir[PathLen];      // its folder = the game folder, no trailing backslash
extern wchar_t Ini[PathLen];      // Dir\ZorunJanela.ini
extern wchar_t Site[SiteLen];     // base URL of the operator's site, no trailing slash
extern int Lanes;                 // files downloaded at once, 1..8 (INI "Downloads"; 4)
extern HWND Wnd;

// ---- Display scale (window thread) -------------------------------------------
extern int Dpi;  // the window's scale, 96 = 100 %; app/scale.h scales the layout to it

// ---- Art (loaded at start-up and again when Dpi changes, window thread) ------
extern HFONT FList, FSmall, FBodySb, FBody, FTile, FTileBig;
extern HBITMAP BgOpt, BgHome;
extern SpriteEntry Spr[SpriteMax];
