// The DLL as the host sees it: its one export, its imports, its record.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "plugin/file_types.h"
#include "core/winamp.h"
#include "core/playback.h"
#include "support/test_support.h"

using namespace core;

namespace {

using testsupport::BinDir;

struct PeImage {
    std::string bytes;
    const IMAGE_NT_HEADERS* nt = nullptr;

    explicit PeImage(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream buffer;
        buffer << in.rdbuf();
        bytes = buffer.str();
        if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return;
        auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
        nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    }

    // File offset of a relative virtual address.
    const char* At(DWORD rva) const {
        auto* section = IMAGE_FIRST_SECTION(nt);
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) {
                return bytes.data() + section->PointerToRawData + (rva - section->VirtualAddress);
            }
        }
        return nullptr;
    }
};

TEST(BinaryFace, ExportsOnlyTheModuleEntryByNameAtOrdinalOne) {
    PeImage pe(BinDir() + "\\in_realmedia.dll");
    ASSERT_NE(pe.nt, nullptr);
#ifdef _WIN64
    EXPECT_EQ(pe.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(pe.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
#endif
    const auto& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(pe.At(dir.VirtualAddress));
    ASSERT_NE(exports, nullptr);
    EXPECT_EQ(exports->NumberOfNames, 1u);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    EXPECT_EQ(exports->Base, 1u);
    auto* names = reinterpret_cast<const DWORD*>(pe.At(exports->AddressOfNames));
    EXPECT_STREQ(pe.At(names[0]), "winampGetInModule2");
    auto* ordinals = reinterpret_cast<const WORD*>(pe.At(exports->AddressOfNameOrdinals));
    EXPECT_EQ(ordinals[0] + exports->Base, 1u);
}

TEST(BinaryFace, ImportsOnlyWindowsSystemLibraries) {
    PeImage pe(BinDir() + "\\in_realmedia.dll");
    ASSERT_NE(pe.nt, nullptr);
    const auto& dir = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(pe.At(dir.VirtualAddress));
    ASSERT_NE(import, nullptr);
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"};
    int count = 0;
    for (; import->Name; ++import, ++count) {
        std::string name = pe.At(import->Name);
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(allowed.count(name)) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

TEST(BinaryFace, ModuleRecordAsTheHostReadsIt) {
    HMODULE dll = LoadLibraryA((BinDir() + "\\in_realmedia.dll").c_str());
    ASSERT_NE(dll, nullptr);
    using GetModule = winamp::In_Module*(__cdecl*)();
    auto get = reinterpret_cast<GetModule>(reinterpret_cast<void*>(GetProcAddress(dll, "winampGetInModule2")));
    ASSERT_NE(get, nullptr);
    winamp::In_Module* record = get();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->version, 0x100);
#ifdef _WIN64
    EXPECT_STREQ(record->description, "Kelvane's RealAudio plugin for Winamp v1.6 (x64)");
#else
    EXPECT_STREQ(record->description, "Kelvane's RealAudio plugin for Winamp v1.6 (x86)");
#endif
    EXPECT_EQ(record->is_seekable, 1);
    EXPECT_EQ(record->UsesOutputPlug, 1);
    static const char kTypes[] =
        "RA;RM;RMJ\0Real Media File(*.RA;*.RM;*.RMJ)\0RAM;RMM\0Real Media Meta File(*.RAM;*.RMM)\0";
    EXPECT_EQ(std::memcmp(record->FileExtensions, kTypes, sizeof(kTypes)), 0);
    // The host's fields are empty until the host writes them.
    EXPECT_EQ(record->hMainWindow, nullptr);
    EXPECT_EQ(record->outMod, nullptr);
    EXPECT_EQ(record->SAVSAInit, nullptr);
    EXPECT_EQ(record->SetInfo, nullptr);
    // Every plug-in operation is there.
    void* const operations[] = {
        reinterpret_cast<void*>(record->Config),       reinterpret_cast<void*>(record->About),
        reinterpret_cast<void*>(record->Init),         reinterpret_cast<void*>(record->Quit),
        reinterpret_cast<void*>(record->GetFileInfo),  reinterpret_cast<void*>(record->InfoBox),
        reinterpret_cast<void*>(record->IsOurFile),    reinterpret_cast<void*>(record->Play),
        reinterpret_cast<void*>(record->Pause),        reinterpret_cast<void*>(record->UnPause),
        reinterpret_cast<void*>(record->IsPaused),     reinterpret_cast<void*>(record->Stop),
        reinterpret_cast<void*>(record->GetLength),    reinterpret_cast<void*>(record->GetOutputTime),
        reinterpret_cast<void*>(record->SetOutputTime), reinterpret_cast<void*>(record->SetVolume),
        reinterpret_cast<void*>(record->SetPan),       reinterpret_cast<void*>(record->EQSet)};
    for (void* operation : operations) EXPECT_NE(operation, nullptr);

    // Same record on every call; what the host writes reads back.
    record->hMainWindow = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(get(), record);
    EXPECT_EQ(get()->hMainWindow, reinterpret_cast<HWND>(0x1234));
    record->hMainWindow = nullptr;

    EXPECT_EQ(record->InfoBox(const_cast<char*>("x.rm"), nullptr), 0);
    char eq[10] = {};
    record->EQSet(1, eq, 0);
    FreeLibrary(dll);
}

TEST(FileTypes, ClaimsOnlyTheFiveSuffixesAfterTheLastDot) {
    struct Case { const char* name; bool claimed; } cases[] = {
        {"", false}, {"noext", false}, {"SONG.RA", true}, {"Song.Rm", true}, {"clip.RMJ", true},
        {"list.ram", true}, {"list.RMM", true}, {".ram", true}, {"clip.rm.bak", false}, {"clip.bak.rm", true},
        {"clip.rmx", false}, {"clip.rm ", false}, {"clip.rm?x=1", false}, {"C:\\music.rm\\clip", false},
        {"rtsp://example.com/live/stream.rm", true}, {"http://example.com/a.ra/", false}, {"clip.r", false},
    };
    for (const Case& c : cases) EXPECT_EQ(plugin::IsRealMediaName(c.name), c.claimed) << '"' << c.name << '"';
}

TEST(FileTypes, UrlFormingAndQuietStatus) {
    struct Case { const char* path; const char* url; int quiet; } cases[] = {
        {"C:\\music\\song.rm", "file:C:\\music\\song.rm", 1},
        {"C:\\music\\list.RAM", "file:C:\\music\\list.RAM", 0},
        {"C:\\music\\list.rMm", "file:C:\\music\\list.rMm", 0},
        {"C:\\music\\noext", "file:C:\\music\\noext", 1},
        {"C:\\music\\list.rmm.bak", "file:C:\\music\\list.rmm.bak", 1},
        {"rtsp://example.com/a.rm", "rtsp://example.com/a.rm", 0},
        {"C:/music/song.rm", "C:/music/song.rm", 0},
    };
    for (const Case& c : cases) {
        char url[MAX_PATH];
        int quiet = -1;
        ASSERT_TRUE(plugin::FormPlaybackUrl(c.path, url, sizeof(url), &quiet)) << c.path;
        EXPECT_STREQ(url, c.url);
        EXPECT_EQ(quiet, c.quiet) << c.path;
    }
}

TEST(FileTypes, UrlThatDoesNotFitIsRefusedNotCut) {
    char url[MAX_PATH];
    int quiet = -1;
    const std::string local254 = "C:\\" + std::string(251, 'a');
    EXPECT_TRUE(plugin::FormPlaybackUrl(local254.c_str(), url, sizeof(url), &quiet));
    EXPECT_EQ(std::strlen(url), 259u);
    const std::string local255 = local254 + "b";
    std::memset(url, 'x', sizeof(url));
    EXPECT_FALSE(plugin::FormPlaybackUrl(local255.c_str(), url, sizeof(url), &quiet));
    EXPECT_EQ(url[0], 'x');  // nothing written
    const std::string url259 = "http://" + std::string(252, 'u');
    EXPECT_TRUE(plugin::FormPlaybackUrl(url259.c_str(), url, sizeof(url), &quiet));
    EXPECT_FALSE(plugin::FormPlaybackUrl((url259 + "v").c_str(), url, sizeof(url), &quiet));
}

}  // namespace
