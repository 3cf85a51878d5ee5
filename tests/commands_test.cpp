// The commands that reach outside the window: the site links through the
// shell's protocol handlers, and the desktop shortcut through the shell link
// objects, both in the real registry and file system of the test prefix.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "app/state.h"
#include "support/testutil.h"
#include "support/window.h"
#include "ui/layout.h"

namespace {

const std::wstring Recorder = TEST_PROGRAMS L"\\recorder.exe";
const POINT PSite = {660, 50}, PRegister = {770, 50}, POptions = {500, 50}, PShortcut = {170, 415};

// ---- Registry values kept and put back -------------------------------------------

struct SavedValue {
    HKEY root;
    std::wstring key, name;
    bool existed = false;
    DWORD type = 0;
    std::string data;
};

SavedValue Keep(HKEY root, const std::wstring &key, const std::wstring &name) {
    SavedValue s{root, key, name};
    HKEY k;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS) {
        BYTE buf[2048];
        DWORD size = sizeof buf;
        if (RegQueryValueExW(k, name.empty() ? 0 : name.c_str(), 0, &s.type, buf, &size) == ERROR_SUCCESS) {
            s.existed = true;
            s.data.assign((char *)buf, size);
        }
        RegCloseKey(k);
    }
    return s;
}

void SetString(HKEY root, const std::wstring &key, const std::wstring &name, DWORD type, const std::wstring &v) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, 0, 0, KEY_WRITE, 0, &k, 0), ERROR_SUCCESS);
    RegSetValueExW(k, name.empty() ? 0 : name.c_str(), 0, type, (const BYTE *)v.c_str(),
                   (DWORD)((v.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

std::wstring GetString(HKEY root, const std::wstring &key) {
    wchar_t buf[1024] = L"";
    LONG size = sizeof buf;
    RegQueryValueW(root, key.c_str(), buf, &size);
    return buf;
}

void PutBack(const SavedValue &s) {
    HKEY k;
    if (RegOpenKeyExW(s.root, s.key.c_str(), 0, KEY_WRITE, &k) != ERROR_SUCCESS) return;
    const wchar_t *name = s.name.empty() ? 0 : s.name.c_str();
    if (s.existed)
        RegSetValueExW(k, name, 0, s.type, (const BYTE *)s.data.data(), (DWORD)s.data.size());
    else
        RegDeleteValueW(k, name);
    RegCloseKey(k);
}

// ---- Links ---------------------------------------------------------------------

// The browser stand-in is started as  "<browser.exe>" "<url>": the last quoted part.
std::string UrlOf(const std::string &record) {
    std::string cmd = RecordField(record, "cmd");
    size_t end = cmd.rfind('"'), start = end == std::string::npos ? end : cmd.rfind('"', end - 1);
    return start == std::string::npos ? "" : cmd.substr(start + 1, end - start - 1);
}

class Links : public ::testing::Test {
protected:
    std::wstring dir, browser, evil;
    std::vector<SavedValue> saved;
    std::vector<std::wstring> createdUserKeys;

    // Registers the browser stand-in for http and https: for the user, as
    // Windows reads it, and through the merged classes root when the platform
    // does not merge the user's classes (Wine 8 reads the machine's only).
    void SetUp() override {
        dir = FreshDir(L"links");
        browser = dir + L"\\browser.exe";
        evil = dir + L"\\evil.exe";
        ASSERT_TRUE(CopyFileW(Recorder.c_str(), browser.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(Recorder.c_str(), evil.c_str(), FALSE));
        std::wstring command = L"\"" + browser + L"\" \"%1\"";
        for (const wchar_t *proto : {L"http", L"https"}) {
            std::wstring user = std::wstring(L"Software\\Classes\\") + proto;
            HKEY k;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, user.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS)
                RegCloseKey(k);
            else
                createdUserKeys.push_back(user);
            std::wstring cmdKey = user + L"\\shell\\open\\command";
            saved.push_back(Keep(HKEY_CURRENT_USER, cmdKey, L""));
            SetString(HKEY_CURRENT_USER, cmdKey, L"", REG_SZ, command);
            std::wstring rootKey = std::wstring(proto) + L"\\shell\\open\\command";
            if (GetString(HKEY_CLASSES_ROOT, rootKey) != command) {
                saved.push_back(Keep(HKEY_CLASSES_ROOT, rootKey, L""));
                SetString(HKEY_CLASSES_ROOT, rootKey, L"", REG_SZ, command);
            }
            ASSERT_EQ(GetString(HKEY_CLASSES_ROOT, rootKey), command);
        }
        ScratchOptions(L"links-options");
        ASSERT_TRUE(OpenWindow());
    }
    void TearDown() override {
        CloseWindow();
        for (auto it = saved.rbegin(); it != saved.rend(); ++it) PutBack(*it);
        for (auto &k : createdUserKeys) RegDeleteTreeW(HKEY_CURRENT_USER, k.c_str());
        ClearOptionsKey();
    }
    // Clicks p with Site set to site; the URL the browser received, or empty
    // when nothing was opened within ms.
    std::string Open(const std::wstring &site, POINT p, DWORD ms = 10000) {
        DeleteFileW((browser + L".txt").c_str());
        lstrcpynW(Site, site.c_str(), SiteLen);
        Click(p.x, p.y);
        std::string record = WaitRecord(browser, ms);
        std::string url = UrlOf(record);
        if (url.empty() && !record.empty()) ADD_FAILURE() << "no URL in the browser's command line: " << record;
        return url;
    }
};

TEST_F(Links, TheSiteAndTheRegistrationPageOpenInTheBrowser) {
    EXPECT_EQ(Open(L"http://127.0.0.1:9/velmora", PSite), "http://127.0.0.1:9/velmora");
    EXPECT_EQ(Open(L"http://127.0.0.1:9/velmora", PRegister), "http://127.0.0.1:9/velmora/cadastro");
    EXPECT_EQ(Open(L"https://127.0.0.1:9", PRegister), "https://127.0.0.1:9/cadastro");
    EXPECT_EQ(Open(L"HTTPS://127.0.0.1:9/Jogo", PSite), "HTTPS://127.0.0.1:9/Jogo") << "schemes are case-insensitive";
    EXPECT_EQ(Open(L"Http://127.0.0.1:9", PSite), "Http://127.0.0.1:9");
    EXPECT_TRUE(IsWindow(Wnd));
    EXPECT_FALSE(Exists(Ini)) << "links save nothing";
}

TEST_F(Links, ASiteThatIsNoWebAddressOpensNothing) {
    const std::wstring sites[] = {evil, L"file:///" + evil, L"evil.exe", L"http:evil.exe", L"https:/x",
                                  L"ftp://127.0.0.1:9", L" http://127.0.0.1:9", L""};
    for (auto &site : sites) {
        lstrcpynW(Site, site.c_str(), SiteLen);
        Click(PSite.x, PSite.y);
        Click(PRegister.x, PRegister.y);
    }
    Sleep(2000);  // a program the shell had started would have written its record by now
    EXPECT_FALSE(Exists(evil + L".txt")) << "a local program was run";
    EXPECT_FALSE(Exists(browser + L".txt")) << "the browser was opened";
    // The handler still works, so the silence above is the launcher's doing.
    EXPECT_EQ(Open(L"http://127.0.0.1:9", PSite), "http://127.0.0.1:9");
}

// ---- Desktop shortcut -----------------------------------------------------------

const wchar_t *ShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

struct Link {
    bool loaded = false;
    std::wstring path, workDir, icon, description;
    int iconIndex = -1;
};

Link ReadLink(const std::wstring &file) {
    Link l;
    CoInitialize(0);
    IShellLinkW *link = 0;
    IPersistFile *pf = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkW, (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&pf)) &&
        SUCCEEDED(pf->Load(file.c_str(), STGM_READ))) {
        wchar_t buf[MAX_PATH] = L"";
        l.loaded = true;
        link->GetPath(buf, MAX_PATH, 0, SLGP_RAWPATH);
        l.path = buf;
        buf[0] = 0;
        link->GetWorkingDirectory(buf, MAX_PATH);
        l.workDir = buf;
        buf[0] = 0;
        link->GetIconLocation(buf, MAX_PATH, &l.iconIndex);
        l.icon = buf;
        buf[0] = 0;
        link->GetDescription(buf, MAX_PATH);
        l.description = buf;
    }
    if (pf) pf->Release();
    if (link) link->Release();
    CoUninitialize();
    return l;
}

std::wstring Lower(std::wstring s) {
    CharLowerBuffW(&s[0], (DWORD)s.size());
    return s;
}

class Shortcut : public ::testing::Test {
protected:
    std::wstring desk, game;
    SavedValue desktop;
    void SetUp() override {
        // The user's desktop folder, pointed at a scratch folder for the test.
        desktop = Keep(HKEY_CURRENT_USER, ShellFolders, L"Desktop");
        desk = FreshDir(L"desktop");
        PointDesktopAt(desk);
        game = ScratchOptions(L"shortcut-game");
        std::wstring exe = game + L"\\VelmoraLauncher.exe";
        ASSERT_TRUE(CopyFileW(LAUNCHER_EXE, exe.c_str(), FALSE));
        lstrcpynW(SelfExe, exe.c_str(), PathLen);
        ASSERT_TRUE(OpenWindow());
        Click(POptions.x, POptions.y);
    }
    void TearDown() override {
        CloseWindow();
        PutBack(desktop);
        ClearOptionsKey();
    }
    void PointDesktopAt(const std::wstring &path) {
        SetString(HKEY_CURRENT_USER, ShellFolders, L"Desktop", REG_EXPAND_SZ, path);
    }
};

TEST_F(Shortcut, TheShortcutOnTheDesktopStartsTheLauncherInItsFolder) {
    wchar_t shellDesk[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(0, CSIDL_DESKTOPDIRECTORY, 0, SHGFP_TYPE_CURRENT, shellDesk), S_OK);
    ASSERT_EQ(Lower(shellDesk), Lower(desk)) << "the test's desktop folder is the one the shell reports";

    EXPECT_TRUE(Dirtied(WM_LBUTTONDOWN, MK_LBUTTON, Pt(PShortcut.x, PShortcut.y)));
    EXPECT_TRUE(Release(PShortcut.x, PShortcut.y));
    EXPECT_STREQ(Toast, L"Atalho criado na Área de Trabalho.");
    EXPECT_TRUE(KillTimer(Wnd, TimerToast)) << "the toast's timer runs";

    Link l = ReadLink(desk + L"\\Velmora.lnk");
    ASSERT_TRUE(l.loaded) << "no readable Velmora.lnk on the desktop";
    EXPECT_EQ(Lower(l.path), Lower(SelfExe));
    EXPECT_EQ(Lower(l.workDir), Lower(Dir));
    EXPECT_EQ(Lower(l.icon), Lower(SelfExe));
    EXPECT_EQ(l.iconIndex, 0);
    EXPECT_EQ(l.description, L"Velmora 0.97j");
    EXPECT_FALSE(Exists(Ini)) << "the shortcut saves no options";

    // A second click replaces the shortcut. For a launcher in a drive's root
    // (Dir "C:") it starts in the root, not in the drive's current folder.
    Toast[0] = 0;
    lstrcpynW(Dir, L"C:", PathLen);
    Click(PShortcut.x, PShortcut.y);
    EXPECT_STREQ(Toast, L"Atalho criado na Área de Trabalho.");
    EXPECT_EQ(Lower(ReadLink(desk + L"\\Velmora.lnk").workDir), L"c:\\");
}

TEST_F(Shortcut, AShortcutThatCannotBeSavedShowsTheFailureToast) {
    // A folder where the shortcut file would go: the save cannot create it.
    ASSERT_TRUE(CreateDirectoryW((desk + L"\\Velmora.lnk").c_str(), 0));
    Click(PShortcut.x, PShortcut.y);
    EXPECT_STREQ(Toast, L"Não foi possível criar o atalho.");
    EXPECT_TRUE(KillTimer(Wnd, TimerToast));
}

TEST_F(Shortcut, WithoutADesktopFolderNothingIsShown) {
    std::wstring gone = desk + L"\\missing";
    PointDesktopAt(gone);
    wchar_t shellDesk[MAX_PATH];
    ASSERT_TRUE(FAILED(SHGetFolderPathW(0, CSIDL_DESKTOPDIRECTORY, 0, SHGFP_TYPE_CURRENT, shellDesk)));
    Press(PShortcut.x, PShortcut.y);
    EXPECT_TRUE(Release(PShortcut.x, PShortcut.y)) << "still a repaint";
    EXPECT_STREQ(Toast, L"");
    EXPECT_FALSE(KillTimer(Wnd, TimerToast)) << "no toast, no timer";
    EXPECT_FALSE(Exists(gone));
}

}  // namespace
