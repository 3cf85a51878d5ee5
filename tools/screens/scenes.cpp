#include "scenes.h"

#include "app/state.h"
#include "ui/layout.h"

DWORD SceneTicks;
DWORD WINAPI SceneTickSource() { return SceneTicks; }

void FreshScene() {
    Online = -1;
    ServerUp = -1;
    Progress = -1;
    lstrcpyW(Status, L"Conectando ao servidor...");
    ServerName[0] = 0;
    ZeroMemory(News, sizeof News);
    NewsN = 0;
    Ready = 0;
    Toast[0] = 0;
    Page = Hover = Pressed = DdOpen = 0;
    DdHover = -1;
    Icon = Tray = Music = WinMode = 1;
    Volume = 80;
    ResIdx = 2;
    SceneTicks = 1200;  // the band a third of the way across
}

static void Feed() {
    ServerUp = 1;
    Online = 1287;
    lstrcpyW(ServerName, L"Velmora - Servidor Aurora");
    const wchar_t *items[4][2] = {
        {L"Evento de inverno começa no sábado! Experiência em dobro por todo o fim de semana", L"06/12"},
        {L"Manutenção concluída", L"04/12"},
        {L"Nova arena de guildas aberta para todos os reinos", L"01/12"},
        {L"Temporada 3: recompensas entregues", L"28/11"},
    };
    for (int k = 0; k < 4; k++) {
        lstrcpyW(News[k].title, items[k][0]);
        lstrcpyW(News[k].body, items[k][1]);
    }
    NewsN = 4;
}

static void Done() {
    Ready = 1;
    Progress = 1000;
    lstrcpyW(Status, L"Seu jogo está atualizado. Pronto para jogar.");
}

const Scene Scenes[] = {
    {"01-startup", [] {}},
    {"02-home-online-news", [] { Feed(); Done(); }},
    {"03-offline-no-news", [] {
         ServerUp = 0;
         Ready = 1;
         Progress = 1000;
         lstrcpyW(Status, L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.");
     }},
    {"04-download-57", [] {
         Feed();
         Progress = 575;
         lstrcpyW(Status, L"Baixando Data\\Mapas\\aurora.map (3 de 7)...");
     }},
    {"05-options-windowed", [] { Feed(); Done(); Page = 1; ResIdx = 7; Hover = ResDropdown; }},
    {"06-options-borderless", [] { Feed(); Done(); Page = 1; WinMode = 0; Music = 0; Volume = 0; Tray = 0; }},
    {"07-list-open", [] { Feed(); Done(); Page = 1; DdOpen = 1; Hover = ResList; DdHover = 6; ResIdx = 2; }},
    {"08-toast", [] { Feed(); Done(); Page = 1; lstrcpyW(Toast, L"Atalho criado na Área de Trabalho."); }},
    {"09-hover-home", [] { Feed(); Done(); Hover = BtnPlay; }},
    {"10-pressed-home", [] { Feed(); Done(); Hover = Pressed = BtnPlay; }},
    {"11-hover-options", [] { Feed(); Done(); Page = 1; Hover = BtnSave; Music = 0; }},
    {"12-pressed-options", [] { Feed(); Done(); Page = 1; Hover = Pressed = BtnShortcut; }},
    {"13-hover-strip", [] { Feed(); Done(); Hover = TabOptions; }},
    {"14-hover-close", [] { Feed(); Done(); Hover = BtnClose; }},
    {"15-hover-slider", [] { Feed(); Done(); Page = 1; Hover = VolumeSlider; Volume = 35; ResIdx = 0; }},
};
const int SceneCount = sizeof Scenes / sizeof Scenes[0];
