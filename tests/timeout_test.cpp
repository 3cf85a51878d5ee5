// Sites that keep the launcher waiting: silent after accepting, silent in the
// middle of a body, or slow but moving. Each waits out real time-outs (the
// receive time-out shortened to a few seconds), so the parent test runs every
// case at once, each in a child process of this same program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/state.h"
#include "net/http.h"
#include "net/netthread.h"
#include "support/netutil.h"
#include "support/testutil.h"
#include "support/webserver.h"

namespace {

const wchar_t ChildVar[] = L"VELMORA_TIMEOUT_CHILD";
bool IsChild() { return GetEnvironmentVariableW(ChildVar, 0, 0) > 0; }

const std::wstring NoList = L"Não foi possível verificar atualizações. Você pode jogar mesmo assim.";
const std::wstring NoFile = L"Falha ao baixar atualização. Tente de novo mais tarde.";
const std::wstring Corrupt = L"Arquivo de atualização corrompido. Tente de novo.";
const std::wstring Updated = L"Jogo atualizado! Pronto para jogar.";
const std::wstring Current = L"Seu jogo está atualizado. Pronto para jogar.";

// The receive time-out these cases use: short, so that a file's four tries
// fit in seconds, and long beside a loopback answer.
const DWORD Silence = 3000;
// About four receive time-outs (a file's tries), and well below a minute.
const DWORD Bound = 4 * Silence + 20000;

class SlowSite : public ::testing::Test {
protected:
    std::wstring game, site;
    WebServer server;
    std::string manifest;
    DWORD took = 0;

    void SetUp() override {
        if (!IsChild()) GTEST_SKIP() << "run by TimeOuts.EveryCaseAtOnce";
        FreshNetState();
        std::wstring test = Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
        game = FreshDir(L"slow-" + test);
        site = FreshDir(L"slow-" + test + L"-site");
        CreateDirectoryW((site + L"\\update").c_str(), 0);
        CreateDirectoryW((site + L"\\update\\files").c_str(), 0);
        ASSERT_TRUE(server.Start(site));
        lstrcpyW(Site, server.Base().c_str());
        lstrcpyW(Dir, game.c_str());
        lstrcpyW(SelfExe, (game + L"\\VelmoraLauncher.exe").c_str());
        Wnd = NetWindow();
        RecordPublished();
        ReceiveMs = Silence;
    }
    void List(const std::string &name, const std::string &content) {
        ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\" + Wide(name), content));
        manifest += name + "|" + Md5Of(content) + "|" + std::to_string(content.size()) + "\n";
    }
    void Run() {
        WriteBytes(site + L"\\update\\lista.txt", manifest);
        DWORD start = GetTickCount();
        NetThread(0);
        took = GetTickCount() - start;
        TakeNetMessages(Wnd);
    }
    std::string In(const std::string &name) { return ReadBytes(game + L"\\" + Wide(name)); }
    bool Asked(const std::string &path) {
        for (const std::string &p : server.Paths())
            if (p == path) return true;
        return false;
    }
};

TEST_F(SlowSite, SilentFeed) {
    server.On("/api/launcher", Answer::Silent());
    List("a.bin", "a");
    ASSERT_TRUE(WriteBytes(game + L"\\a.bin", "a"));
    Run();
    EXPECT_LT(took, Bound);
    EXPECT_EQ(ServerUp, 0);
    EXPECT_STREQ(Status, Current.c_str());  // the update ran all the same
    EXPECT_EQ(Ready, 1);
}

TEST_F(SlowSite, SilentManifest) {
    server.On("/api/launcher", Answer::Body("status=1\n"));
    server.On("/update/lista.txt", Answer::Silent());
    Run();
    EXPECT_LT(took, Bound);
    EXPECT_GE(took, ReceiveMs - 1000u) << "the site was not silent";
    EXPECT_EQ(ServerUp, 1);
    EXPECT_STREQ(Status, NoList.c_str());
    EXPECT_EQ(Progress, 1000);
    EXPECT_EQ(Ready, 1);
}

TEST_F(SlowSite, SilentFile) {
    List("a.bin", "novo a");
    List("b.bin", "novo b");
    List("c.bin", "novo c");
    ASSERT_TRUE(WriteBytes(game + L"\\b.bin", "velho b"));
    server.On("/update/files/b.bin", Answer::Silent());
    Run();
    EXPECT_LT(took, Bound);
    EXPECT_GE(took, 4 * ReceiveMs - 1000u) << "the site was not silent";
    EXPECT_STREQ(Status, NoFile.c_str());
    EXPECT_EQ(In("a.bin"), "novo a");
    EXPECT_EQ(In("b.bin"), "velho b");
    EXPECT_FALSE(Exists(game + L"\\b.bin.novo"));
    EXPECT_FALSE(Asked("/update/files/c.bin"));
    EXPECT_EQ(Ready, 1);
}

// Each try stalls after 300000 bytes: the second one, resumed where the
// pieces the first one read whole end, brings the rest.
TEST_F(SlowSite, FileStallsHalfWay) {
    std::string b(400000, 'b');
    for (size_t i = 0; i < b.size(); i++) b[i] = (char)(i * 13);
    List("b.bin", b);
    ASSERT_TRUE(WriteBytes(game + L"\\b.bin", "velho b"));
    server.On("/update/files/b.bin", Answer::StallAt(300000));
    Run();
    EXPECT_LT(took, Bound);
    EXPECT_STREQ(Status, Updated.c_str());
    EXPECT_TRUE(In("b.bin") == b);
    EXPECT_FALSE(Exists(game + L"\\b.bin.novo"));
    EXPECT_EQ(Ready, 1);
}

// Longer in all than the receive time-out, but never silent that long.
TEST_F(SlowSite, SlowButMovingFileIsNotCut) {
    std::string body(12, 's');
    List("lento.bin", body);
    server.On("/update/files/lento.bin", Answer::Trickle(1, Silence / 3));
    Run();
    EXPECT_GT(took, (DWORD)ReceiveMs + 5000);
    EXPECT_STREQ(Status, Updated.c_str());
    EXPECT_EQ(In("lento.bin"), body);
    EXPECT_EQ(Ready, 1);
}

TEST(TimeOuts, EveryCaseAtOnce) {
    if (IsChild()) GTEST_SKIP();
    const char *cases[] = {"SilentFeed", "SilentManifest", "SilentFile", "FileStallsHalfWay",
                           "SlowButMovingFileIsNotCut"};
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(0, self, MAX_PATH);
    std::wstring logs = FreshDir(L"timeouts");
    struct Child {
        std::string name;
        HANDLE proc;
        std::wstring log;
    };
    std::vector<Child> children;
    SetEnvironmentVariableW(ChildVar, L"1");
    for (const char *c : cases) {
        std::wstring log = logs + L"\\" + Wide(c) + L".log";
        SECURITY_ATTRIBUTES sa = {sizeof sa, 0, TRUE};
        HANDLE out = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, 0);
        ASSERT_NE(out, INVALID_HANDLE_VALUE);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = out;
        PROCESS_INFORMATION pi = {};
        std::wstring cmd = L"\"" + std::wstring(self) + L"\" --gtest_filter=SlowSite." + Wide(c);
        std::vector<wchar_t> buf(cmd.begin(), cmd.end());
        buf.push_back(0);
        BOOL ok = CreateProcessW(self, buf.data(), 0, 0, TRUE, 0, 0, 0, &si, &pi);
        CloseHandle(out);
        ASSERT_TRUE(ok) << c;
        CloseHandle(pi.hThread);
        children.push_back({c, pi.hProcess, log});
    }
    SetEnvironmentVariableW(ChildVar, 0);
    for (Child &c : children) {
        long code = WaitExit(c.proc, 180000);
        CloseHandle(c.proc);
        EXPECT_EQ(code, 0) << c.name << ":\n" << ReadBytes(c.log);
        // A child that ran no test would pass without proving anything.
        EXPECT_NE(ReadBytes(c.log).find("[  PASSED  ] 1 test"), std::string::npos) << ReadBytes(c.log);
    }
}

}  // namespace
