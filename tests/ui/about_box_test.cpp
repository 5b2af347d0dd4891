// The About and configuration boxes read back from the real message boxes,
// and the browser launcher checked by the program it really starts: a
// stand-in browser that records how it was started.  The same cases run once
// in the English and once in the Korean locale.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/playback.h"
#include "support/test_support.h"
#include "ui/about_box.h"
#include "ui/browser.h"

using namespace core;

namespace {

constexpr char kVersionKey[] = "Software\\RealNetworks\\RealPlayer\\CurrentVersion";
constexpr char kFileType[] = "RealmediaTestPage";
constexpr char kCommandKey[] = "RealmediaTestPage\\shell\\open\\command";
constexpr char kBrowser[] = "C:\\fb\\browser.exe";
constexpr char kHomePage[] = "http://in-realmedia.invalid/";

bool KoreanRun() {
    const char* locale = std::getenv("REALMEDIA_TEST_LOCALE");
    return locale && std::string(locale) == "ko";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string ClassesRootDefault(const char* key) {
    char value[256] = {};
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key, value, &size) != ERROR_SUCCESS) return {};
    return value;
}

// The host window (its Init notes the locale), the stand-in browser at a
// short path, a file type of the test's own, and a log of browser starts.
// The prefix's own ".html" association and RealPlayer version come back
// afterwards.
class Boxes : public ::testing::Test {
protected:
    void SetUp() override {
        savedHtml_ = ClassesRootDefault(".html");
        CreateDirectoryA("C:\\fb", nullptr);
        ASSERT_TRUE(CopyFileA((testsupport::BinDir() + "\\fakebrowser.exe").c_str(), kBrowser, FALSE));
        logDir_ = testsupport::MakeTempDir();
        log_ = logDir_ + "\\starts.log";
        SetEnvironmentVariableA("FAKEBROWSER_LOG", log_.c_str());
        testsupport::DeleteClassesRootTree(kVersionKey);
        testsupport::SetClassesRootDefault(".html", kFileType);
        RegisterCommand(std::string("\"") + kBrowser + "\" -nohome \"%1\"");
    }

    void TearDown() override {
        testsupport::DeleteClassesRootTree(kFileType);
        testsupport::DeleteClassesRootTree(kVersionKey);
        if (savedHtml_.empty()) testsupport::DeleteClassesRootTree(".html");
        else testsupport::SetClassesRootDefault(".html", savedHtml_.c_str());
        DeleteFileA(log_.c_str());
        RemoveDirectoryA(logDir_.c_str());
    }

    void RegisterCommand(const std::string& command) {
        testsupport::SetClassesRootDefault(kCommandKey, command.c_str());
    }

    // Waits until the browser has logged `count` starts, then returns them.
    std::vector<std::string> WaitForStarts(size_t count) {
        testsupport::PumpUntil([&] { return Lines(ReadAll(log_)).size() >= count; }, 30000);
        return Lines(ReadAll(log_));
    }

    // Proves that nothing was started before: a start with a marker URL is
    // then the only line in the log.
    void ExpectNothingStartedBefore() {
        ASSERT_EQ(ui::OpenInBrowser("marker"), 0);
        std::vector<std::string> starts = WaitForStarts(1);
        ASSERT_EQ(starts.size(), 1u);
        EXPECT_EQ(starts[0], std::string("flags=41 show=10 \"") + kBrowser + "\" marker");
    }

    std::string AboutText(const char* playerVersion) {
        char message[512];
        ui::FormatAboutMessage(KoreanRun(), playerVersion, message, sizeof message);
        return message;
    }

    testsupport::FakeHost host_;
    std::string savedHtml_, logDir_, log_;
};

TEST(Locale, WineReportsTheLocaleThisRunIsFor) {
    char country[16] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof country);
    if (KoreanRun()) {
        EXPECT_STREQ(country, "KOR");
        EXPECT_EQ(GetACP(), 949u);
    } else {
        EXPECT_STRNE(country, "KOR");
    }
}

TEST_F(Boxes, ConfigBoxSaysThereIsNothingToConfigure) {
    EXPECT_EQ(g_koreanLocale, KoreanRun());
    testsupport::MessageBoxWatcher watcher(IDOK);
    ui::Config(host_.window());
    ASSERT_EQ(watcher.Count(), 1u);
    testsupport::SeenBox box = watcher.Boxes()[0];
    EXPECT_EQ(box.caption, "Configuration");
    EXPECT_EQ(box.text, "No configuration.");
    EXPECT_EQ(box.owner, host_.window());
    EXPECT_EQ(box.buttons, 1);
    ExpectNothingStartedBefore();
}

TEST_F(Boxes, AboutBoxCancelShowsTheTextsAndStartsNothing) {
    testsupport::MessageBoxWatcher watcher(IDCANCEL);
    ui::About(host_.window());
    ASSERT_EQ(watcher.Count(), 1u);
    testsupport::SeenBox box = watcher.Boxes()[0];
    EXPECT_EQ(box.caption, "About..!");
    EXPECT_EQ(box.owner, host_.window());
    EXPECT_EQ(box.buttons, 2);
    EXPECT_FALSE(box.hasIcon);
    EXPECT_EQ(box.text, AboutText("N/A"));
    std::string last = KoreanRun() ? "\r\n\xb8\xae\xbe\xf3 \xc7\xc3\xb7\xb9\xc0\xcc\xbe\xee \xb9\xf6\xc0\xfc:N/A"  // 리얼 플레이어 버전:
                                   : "\r\nReal Player Version:N/A";
    EXPECT_EQ(box.text.substr(box.text.size() - last.size()), last);
    std::string first = KoreanRun() ? "Kelvane's RealAudio plugin for Winamp\r\n\xb8\xb8\xb5\xe7\xc0\xcc : Kelvane"  // 만든이 : Kelvane
                                    : "Kelvane's RealAudio plugin for Winamp\r\nby Kelvane (";
    EXPECT_EQ(box.text.substr(0, first.size()), first);
    std::string program = KoreanRun() ? "\r\n\xc7\xc1\xb7\xce\xb1\xd7\xb7\xa5 \xb9\xf6\xc0\xfc:1.6\r\n"  // 프로그램 버전:
                                      : "\r\nProgram Version:1.6\r\n";
    EXPECT_NE(box.text.find(program), std::string::npos);
    ExpectNothingStartedBefore();
}

TEST_F(Boxes, AboutBoxOkOpensTheHomePageWithTheRegisteredVersion) {
    testsupport::SetClassesRootDefault(kVersionKey, "6.0.12.1040");
    testsupport::MessageBoxWatcher watcher(IDOK);
    ui::About(host_.window());
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, AboutText("6.0.12.1040"));
    std::vector<std::string> starts = WaitForStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], std::string("flags=41 show=10 \"") + kBrowser + "\" " + kHomePage);
}

TEST_F(Boxes, AboutBoxShowsNotAvailableForAVersionThatDoesNotFit) {
    testsupport::SetClassesRootDefault(kVersionKey, std::string(64, '9').c_str());
    testsupport::MessageBoxWatcher watcher(IDCANCEL);
    ui::About(host_.window());
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, AboutText("N/A"));

    // The longest version that fits is shown whole.
    std::string longest(63, '7');
    testsupport::SetClassesRootDefault(kVersionKey, longest.c_str());
    watcher.Clear();
    ui::About(host_.window());
    ASSERT_EQ(watcher.Count(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, AboutText(longest.c_str()));
}

// The warning about a missing engine leads to the download page on OK and
// starts nothing on Cancel, in either language.
TEST_F(Boxes, MissingEngineBoxOkOpensTheDownloadPage) {
    testsupport::SetEngineDirectory("C:\\no-realplayer-here\\");
    char path[] = "C:\\song.rm";
    {
        testsupport::MessageBoxWatcher watcher(IDCANCEL);
        EXPECT_EQ(core::g_module.Play(path), 1);
        ASSERT_EQ(watcher.Count(), 1u);
        EXPECT_EQ(watcher.Boxes()[0].caption, KoreanRun() ? "\xBF\xC0\xB7\xF9" : "Error");
    }
    ExpectNothingStartedBefore();

    // Once a host session: the next session (Quit unloads the link) warns again.
    engine::UnloadEngine();
    testsupport::MessageBoxWatcher watcher(IDOK);
    EXPECT_EQ(core::g_module.Play(path), 1);
    ASSERT_EQ(watcher.Count(), 1u);
    std::vector<std::string> starts = WaitForStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1], std::string("flags=41 show=10 \"") + kBrowser +
                             "\" http://download.cnet.com/windows/realplayer/");
}

TEST_F(Boxes, BrowserStartsWithTheQuotedPathAndTheUrlButNotTheCommandsOptions) {
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/a?b=1&c=2"), 0);
    std::vector<std::string> starts = WaitForStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], std::string("flags=41 show=10 \"") + kBrowser + "\" http://example.invalid/a?b=1&c=2");

    // An unquoted command: the path runs up to the first blank.
    RegisterCommand(std::string(kBrowser) + " %1");
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/unquoted"), 0);
    starts = WaitForStarts(2);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1], std::string("flags=41 show=10 \"") + kBrowser + "\" http://example.invalid/unquoted");
}

TEST_F(Boxes, BrowserCommandsThatCannotBeReadStartNothing) {
    // 64 characters or more do not fit the command buffer.
    std::string padded = std::string("\"") + kBrowser + "\" ";
    RegisterCommand(padded + std::string(64 - padded.size(), 'x'));
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/long"), 1);
    RegisterCommand(padded + std::string(63 - padded.size(), 'x'));
    EXPECT_EQ(ui::OpenInBrowser("marker"), 0);
    std::vector<std::string> starts = WaitForStarts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], std::string("flags=41 show=10 \"") + kBrowser + "\" marker");
    DeleteFileA(log_.c_str());

    // A file type without an open command.
    testsupport::DeleteClassesRootTree(kFileType);
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/no-command"), 1);

    // A file-type name too long for the key path is not cut into another key.
    std::string longType(45, 'T');
    testsupport::SetClassesRootDefault((longType + "\\shell\\open\\command").c_str(),
                                       (std::string("\"") + kBrowser + "\"").c_str());
    testsupport::SetClassesRootDefault(".html", longType.c_str());
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/long-type"), 1);
    testsupport::DeleteClassesRootTree(longType.c_str());

    // No ".html" key at all.
    testsupport::DeleteClassesRootTree(".html");
    EXPECT_EQ(ui::OpenInBrowser("http://example.invalid/no-html"), 1);

    testsupport::SetClassesRootDefault(".html", kFileType);
    RegisterCommand(std::string("\"") + kBrowser + "\"");
    ExpectNothingStartedBefore();
}

TEST_F(Boxes, RunProgramDoesNotStartACutCommandLine) {
    std::string argument(511 - (std::string(kBrowser).size() + 3), 'a');
    ui::RunProgram(kBrowser, (argument + "b").c_str(), SW_SHOWNORMAL);
    ui::RunProgram(kBrowser, argument.c_str(), SW_SHOWNORMAL);
    std::vector<std::string> starts = WaitForStarts(1);
    testsupport::PumpFor(500);
    starts = Lines(ReadAll(log_));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0], std::string("flags=41 show=1 \"") + kBrowser + "\" " + argument);
}

}  // namespace
