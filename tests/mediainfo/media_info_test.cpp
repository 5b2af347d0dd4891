// The playlist title and length reader on generated files of every
// structural variant, on real files made by other tools, and end to end
// through the host's GetFileInfo slot.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mediainfo/media_header.h"
#include "mediainfo/media_info.h"
#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

constexpr int kTitleBytes = 2048;
constexpr char kGuard = '\xA5';

std::string WinPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char two[3];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

struct Expected {
    std::string name;
    int lengthMs;
    std::string titleHex;  // "-" for the file name
};

std::vector<Expected> LoadExpected() {
    std::vector<Expected> all;
    std::ifstream in(WinPath(GENERATED_MEDIA_DIR "/expected.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Expected e;
        std::getline(fields, e.name, '\t');
        fields >> e.lengthMs >> e.titleHex;
        all.push_back(e);
    }
    return all;
}

// Calls the reader with a title buffer guarded past its 2048 bytes.
struct Answer {
    std::string title;
    int lengthMs = 0x7EADBEEF;
    bool guardIntact = true;
};

Answer Read(const char* name, bool wantTitle = true, bool wantLength = true) {
    std::vector<char> buffer(kTitleBytes + 64, kGuard);
    Answer a;
    mediainfo::ReadMediaInfo(name, wantTitle ? buffer.data() : nullptr, wantLength ? &a.lengthMs : nullptr);
    for (size_t i = kTitleBytes; i < buffer.size(); ++i) a.guardIntact &= buffer[i] == kGuard;
    if (wantTitle) a.title.assign(buffer.data(), strnlen(buffer.data(), kTitleBytes));
    else a.title.assign(buffer.begin(), buffer.begin() + kTitleBytes);
    return a;
}

// Restores the playing entry after a test changes it.
struct PlayingEntry {
    PlayingEntry(const std::string& path, int lengthMs)
        : playback(std::make_shared<Playback>(path.c_str(), "", false)) {
        playback->SetPosLength(0, lengthMs);
        InstallPlayback(playback);
    }
    ~PlayingEntry() { TakePlayback(); }
    PlaybackRef playback;
};

TEST(GeneratedFiles, EveryVariantGivesTheRulesTitleAndLength) {
    std::vector<Expected> all = LoadExpected();
    ASSERT_GT(all.size(), 500u) << "generated media missing in " << GENERATED_MEDIA_DIR;
    for (const Expected& e : all) {
        SCOPED_TRACE(e.name);
        std::string path = WinPath(GENERATED_MEDIA_DIR "/" + e.name);
        Answer both = Read(path.c_str());
        EXPECT_EQ(both.lengthMs, e.lengthMs);
        EXPECT_EQ(Hex(both.title), e.titleHex == "-" ? Hex(e.name) : e.titleHex);
        EXPECT_TRUE(both.guardIntact);

        // Each answer alone is the same answer; the unwanted one is untouched.
        Answer titleOnly = Read(path.c_str(), true, false);
        EXPECT_EQ(titleOnly.title, both.title);
        EXPECT_EQ(titleOnly.lengthMs, 0x7EADBEEF);
        Answer lengthOnly = Read(path.c_str(), false, true);
        EXPECT_EQ(lengthOnly.lengthMs, both.lengthMs);
        EXPECT_EQ(lengthOnly.title, std::string(kTitleBytes, kGuard));
    }
}

TEST(RealFiles, TitlesAndLengthsOfFilesMadeByOtherTools) {
    std::string dir = WinPath(SHARED_CORPUS_DIR);
    if (GetFileAttributesA((dir + "\\Real.rm").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "real sample files not found in " << dir;
    Answer rm = Read((dir + "\\Real.rm").c_str());
    EXPECT_EQ(rm.title, "A title");
    EXPECT_EQ(rm.lengthMs, 95);
    Answer ra = Read((dir + "\\Real.ra").c_str());
    EXPECT_EQ(ra.title, "The Sewing Girls");
    EXPECT_EQ(ra.lengthMs, -1000);
    Answer ram = Read((dir + "\\Real.ram").c_str());
    EXPECT_EQ(ram.title, "Real.ram");
    EXPECT_EQ(ram.lengthMs, -1000);
}

// The host shows the stream's kbps: a RealMedia header's average bit rate.
TEST(StreamKbps, FromTheRealMediaPropertiesOnly) {
    EXPECT_EQ(mediainfo::ReadStreamKbps(WinPath(GENERATED_MEDIA_DIR "/rm-500ms.rm").c_str()), 64);
    EXPECT_EQ(mediainfo::ReadStreamKbps(WinPath(GENERATED_MEDIA_DIR "/rm-short-header.rm").c_str()), 64)
        << "a 16-byte file header moves every property";
    std::string dir = WinPath(SHARED_CORPUS_DIR);
    EXPECT_EQ(mediainfo::ReadStreamKbps((dir + "\\Real.ra").c_str()), 0);
    EXPECT_EQ(mediainfo::ReadStreamKbps("C:\\no\\such.rm"), 0);
    EXPECT_EQ(mediainfo::ReadStreamKbps(""), 0);
}

TEST(DefaultTitle, NameAfterTheLastBackslashOrTheWholeName) {
    EXPECT_EQ(Read("C:\\no\\such\\dir\\song.rm").title, "song.rm");
    EXPECT_EQ(Read("song-without-dir.rm").title, "song-without-dir.rm");
    Answer url = Read("rtsp://example.invalid/live/stream.rm");
    EXPECT_EQ(url.title, "rtsp://example.invalid/live/stream.rm");
    EXPECT_EQ(url.lengthMs, -1000);

    // A name longer than the host's buffer is cut to fit it.
    std::string longName(3000, 'n');
    Answer cut = Read(longName.c_str());
    EXPECT_EQ(cut.title, std::string(kTitleBytes - 1, 'n'));
    EXPECT_TRUE(cut.guardIntact);

    // The cut keeps whole characters of the system's code page: in the
    // Korean run (949) 가, 0xB0 0xA1, is one and is not cut in two.
    char codePage[8] = {};
    if (GetEnvironmentVariableA("EXPECT_ANSI_CODE_PAGE", codePage, sizeof codePage)) {
        EXPECT_EQ(GetACP(), std::strtoul(codePage, nullptr, 10));
    }
    Answer korean = Read((std::string(kTitleBytes - 2, 'n') + "\xB0\xA1").c_str());
    EXPECT_EQ(korean.title.size(), IsDBCSLeadByte(0xB0) ? kTitleBytes - 2u : kTitleBytes - 1u);
}

TEST(PlayingEntry, NullOrEmptyNameTakesPlaybacksLengthAndTheHeadersTitle) {
    std::string path = WinPath(GENERATED_MEDIA_DIR "/rm-500ms.rm");
    PlayingEntry playing(path, 4321);
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        Answer a = Read(name);
        EXPECT_EQ(a.lengthMs, 4321);
        EXPECT_EQ(a.title, "A title");
    }
    Answer lengthOnly = Read(nullptr, false, true);
    EXPECT_EQ(lengthOnly.lengthMs, 4321);

    // The host asks right after Play and keeps what it gets: before the
    // engine has reported a length, the header's stands, or unknown.
    PlayingEntry starting(path, 0);
    EXPECT_EQ(Read("").lengthMs, 500);
    PlayingEntry stream("http://example.invalid/radio.ram", 0);
    Answer s = Read("");
    EXPECT_EQ(s.title, "http://example.invalid/radio.ram");
    EXPECT_EQ(s.lengthMs, -1000);
    TakePlayback();
    EXPECT_EQ(Read("").lengthMs, -1000);
}

TEST(FileAccess, ReadsFilesOthersWriteAndLeavesThemFree) {
    std::string dir = testsupport::MakeTempDir();
    std::string source = WinPath(GENERATED_MEDIA_DIR "/rm-clean.rm");
    std::string path = dir + "\\open.rm";
    ASSERT_TRUE(CopyFileA(source.c_str(), path.c_str(), FALSE));

    // A writer that shares for reading and writing does not keep the reader out.
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Read(path.c_str()).title, "A title");
    CloseHandle(writer);

    // Closed on every path: rename and delete succeed right after each call.
    for (std::string variant : {"rm-clean.rm", "ra4.ra", "rm-p-past-end.rm", "not-real.rm", "empty.rm"}) {
        ASSERT_TRUE(CopyFileA(WinPath(GENERATED_MEDIA_DIR "/" + variant).c_str(), path.c_str(), FALSE));
        Read(path.c_str());
        Read(path.c_str(), false, true);
        std::string renamed = dir + "\\renamed.rm";
        EXPECT_TRUE(MoveFileA(path.c_str(), renamed.c_str())) << variant;
        EXPECT_TRUE(DeleteFileA(renamed.c_str())) << variant;
    }
    RemoveDirectoryA(dir.c_str());
}

// Runs a program and returns what it wrote to its standard output.
std::string RunAndCapture(const std::string& commandLine, DWORD* exitCode) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    CloseHandle(writeEnd);
    std::string out;
    if (started) {
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got) out.append(chunk, got);
        WaitForSingleObject(process.hProcess, 60000);
        GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return out;
}

TEST(HostEndToEnd, HostsimInfoPrintsEveryGeneratedFilesAnswer) {
    std::vector<Expected> all = LoadExpected();
    ASSERT_FALSE(all.empty());
    std::string dir = testsupport::MakeTempDir();
    std::string list = dir + "\\names.txt";
    std::string names;
    for (const Expected& e : all) names += WinPath(GENERATED_MEDIA_DIR "/" + e.name) + "\n";
    testsupport::WriteFileBytes(list, names);

    DWORD exitCode = 99;
    std::string out = RunAndCapture("\"" + testsupport::BinDir() + "\\hostsim.exe\" info --hex --list \"" + list + "\"",
                                    &exitCode);
    EXPECT_EQ(exitCode, 0u);
    std::istringstream lines(out);
    std::string line;
    size_t i = 0;
    for (; std::getline(lines, line) && i < all.size(); ++i) {
        const Expected& e = all[i];
        std::string title = e.titleHex == "-" ? Hex(e.name) : e.titleHex;
        EXPECT_EQ(line, std::to_string(e.lengthMs) + "\t" + title) << e.name;
    }
    EXPECT_EQ(i, all.size());
    DeleteFileA(list.c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(ReverseBytes, ReversesInPlaceAndLeavesShortBuffersAlone) {
    unsigned char four[] = {0x00, 0x00, 0x01, 0xF4};
    mediainfo::ReverseBytes(four, 4);
    EXPECT_EQ(0, std::memcmp(four, "\xF4\x01\x00\x00", 4));
    unsigned char odd[] = {1, 2, 3, 4, 5};
    mediainfo::ReverseBytes(odd, 5);
    EXPECT_EQ(0, std::memcmp(odd, "\x05\x04\x03\x02\x01", 5));
    unsigned char one[] = {7, 8};
    mediainfo::ReverseBytes(one, 1);
    mediainfo::ReverseBytes(one, 0);
    EXPECT_EQ(one[0], 7);
    EXPECT_EQ(one[1], 8);
}

}  // namespace
