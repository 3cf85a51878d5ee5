#include "app/state.h"

#include "update/lanes.h"

// Initialised group: values other than zero from process start.
int Online = -1;
volatile LONG ServerUp = -1;
volatile LONG Progress = -1;
wchar_t Status[StatusLen] = L"Conectando ao servidor...";
int Icon = 1;
int Tray = 1;
int Volume = 80;
int Music = 1;
int WinMode = 1;
int ResIdx = 2;  // 1024 x 768
int DdHover = -1;
int Lanes = LanesDefault;
int Dpi = 96;

// Zero group.
HINTERNET Net;
wchar_t Toast[ToastLen];
volatile LONG Restart;
volatile LONG SwapGate;
volatile LONG Ready;
int NewsN;
NewsItem News[NewsMax];
wchar_t ServerName[NameLen];
CRITICAL_SECTION Lock;
SpriteEntry Spr[SpriteMax];
wchar_t SelfExe[PathLen];
wchar_t Site[SiteLen];
wchar_t Ini[PathLen];
wchar_t Dir[PathLen];
int DdOpen;
int Pressed;
int Hover;
int Page;
HFONT FList, FSmall, FBodySb, FBody, FTile, FTileBig;
HBITMAP BgOpt, BgHome;
HWND Wnd;
