#include "ui/browser.h"

#include <cstdio>
#include <cstring>

#include "core/unique_any.h"

namespace ui {
namespace {

constexpr int kCommandLine = 512;

// Reads the key's default value into a 64-byte buffer.  A value that does
// not fit with its terminator counts as missing.
bool ReadDefault(HKEY key, char (&text)[kRegistryText]) noexcept {
    LONG size = kRegistryText;
    std::memset(text, 0, sizeof text);
    if (RegQueryValueA(key, nullptr, text, &size) != ERROR_SUCCESS) return false;
    return std::memchr(text, 0, sizeof text) != nullptr;
}

// The program path out of an open command: a quoted command gives the text
// between its quotes (or to the end when the closing quote is missing); an
// unquoted one gives the text up to its first blank.  The command's options
// and placeholders are dropped either way.
void TakeProgramPath(char* command) noexcept {
    if (command[0] == '"') {
        char* start = command + 1;
        char* end = std::strchr(start, '"');
        std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
        std::memmove(command, start, length);
        command[length] = '\0';
    } else if (char* blank = std::strchr(command, ' ')) {
        *blank = '\0';
    }
}

}  // namespace

bool ReadClassesRootDefault(const char* subKey, char (&text)[kRegistryText]) noexcept {
    core::UniqueKey key;
    return RegOpenKeyA(HKEY_CLASSES_ROOT, subKey, key.put()) == ERROR_SUCCESS && ReadDefault(key.get(), text);
}

int OpenInBrowser(const char* url) noexcept {
    // One buffer serves the file-type name and then the open command.
    char text[kRegistryText];
    if (!ReadClassesRootDefault(".html", text)) return 1;

    char keyPath[kRegistryText];
    int written = std::snprintf(keyPath, sizeof keyPath, "%s\\shell\\open\\command", text);
    // A cut key path would name some other key.
    if (written < 0 || written >= static_cast<int>(sizeof keyPath)) return 1;
    if (!ReadClassesRootDefault(keyPath, text)) return 1;

    TakeProgramPath(text);
    RunProgram(text, url ? url : "", SW_SHOWDEFAULT);
    return 0;
}

void RunProgram(const char* programPath, const char* argument, WORD showState) noexcept {
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    std::memset(&startup, 0, sizeof startup);
    std::memset(&process, 0, sizeof process);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;  // 0x41
    startup.wShowWindow = showState;

    char commandLine[kCommandLine];
    int written = std::snprintf(commandLine, sizeof commandLine, "\"%s\" %s", programPath, argument);
    if (written < 0 || written >= static_cast<int>(sizeof commandLine)) return;

    if (CreateProcessA(programPath, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                       nullptr, nullptr, &startup, &process)) {
        // Nothing waits for the browser: both handles go at once.
        const core::UniqueHandle thread(process.hThread);
        const core::UniqueHandle child(process.hProcess);
    }
}

}  // namespace ui
