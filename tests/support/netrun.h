// The one network fixture: a game folder and a site folder named after the
// test, the site served by the tests' web server, and runs of the network
// thread as the launcher runs it, with every (Status, Progress) pair the
// window is told of, every WM_NETSTATE it receives and every wait between
// tries recorded. Runs fetch one file at a time, and every change of the
// status line is told, unless a test sets Lanes and PublishMs.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/testutil.h"
#include "support/webserver.h"

typedef std::vector<std::pair<std::wstring, int>> Publications;

// The texts an update run ends with.
const std::wstring NoList = L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.",
                   NoFile = L"Falha ao baixar atualização. Tente de novo mais tarde.",
                   Corrupt = L"Arquivo de atualização corrompido. Tente de novo.",
                   InUse = L"Feche o jogo antes de atualizar e abra o launcher de novo.",
                   NoRoom = L"Espaço em disco insuficiente para atualizar o jogo.",
                   NoRights = L"Sem permissão para atualizar a pasta do jogo.",
                   Restarting = L"Launcher atualizado. Reiniciando...",
                   Updated = L"Jogo atualizado! Pronto para jogar.",
                   Current = L"Seu jogo está atualizado. Pronto para jogar.";

class NetRun : public ::testing::Test {
protected:
    std::wstring game, site;
    WebServer server;
    std::string manifest;     // written to the site by Run() when not empty
    std::vector<WPARAM> msgs;  // the wParam of each WM_NETSTATE of the last run
    std::vector<DWORD> waits;  // the waits between tries the last run asked for (ms), never spent

    void SetUp() override;
    void UseFolder(const std::wstring &dir);  // the game folder (Dir, SelfExe)
    void UseSite(const std::wstring &base);   // the site's address (Site)
    // Puts a file on the site and lists it; size < 0 lists its true size.
    void List(const std::string &name, const std::string &content, long long size = -1);
    void Have(const std::string &name, const std::string &content);  // in the game folder
    std::wstring Game(const std::string &name);
    std::string In(const std::string &name);  // a game file's bytes
    Publications Run();                       // the whole network thread, on this thread
    std::vector<std::string> FileRequests();  // the names asked for under /update/files/
};

// The pairs at which the text changes: what the player reads, in order.
Publications Texts(const Publications &pubs);
