/* What the installer test asks of Windows itself, one process per question:
 *   installer_probe version FILE        the version resource, as Explorer reads it
 *   installer_probe entry               the Add/Remove Programs entry, NAME=VALUE lines
 *   installer_probe host KEY VALUE|-    HKCU\Software\Winamp's default value, a folder
 *                                       (KEY "cu"), or the host's UninstallString, a
 *                                       command line (KEY "uninstall"), set to VALUE;
 *                                       "-" deletes the key
 * Exit status 0 when what was asked exists and was done, 1 otherwise. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static const char kEntryKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\in_realmedia";
static const char kHostKey[] = "Software\\Winamp";
static const char kHostUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp";

static int PrintVersion(const char* file) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    static char info[65536];
    if (!size || size > sizeof info || !GetFileVersionInfoA(file, 0, size, info)) return 1;
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT len = 0;
    if (!VerQueryValueA(info, "\\", (void**)&fixed, &len) || len < sizeof *fixed) return 1;
    printf("fixed=%lu.%lu.%lu.%lu\n", (unsigned long)HIWORD(fixed->dwFileVersionMS),
           (unsigned long)LOWORD(fixed->dwFileVersionMS), (unsigned long)HIWORD(fixed->dwFileVersionLS),
           (unsigned long)LOWORD(fixed->dwFileVersionLS));
    /* The strings are looked up through the file's own translation, as readers do. */
    WORD* translation = NULL;
    if (!VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &len) || len < 4) return 1;
    static const char* const names[] = {"FileVersion", "ProductVersion", "FileDescription", "ProductName"};
    for (size_t i = 0; i < sizeof names / sizeof *names; ++i) {
        char path[128];
        char* text = NULL;
        snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], names[i]);
        if (VerQueryValueA(info, path, (void**)&text, &len) && text) printf("%s=%s\n", names[i], text);
    }
    return 0;
}

static int PrintEntry(void) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[1024];
        DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
        if (RegEnumValueA(key, i, name, &nameLen, NULL, &type, data, &dataLen) != ERROR_SUCCESS) break;
        if (type == REG_DWORD && dataLen == 4) {
            DWORD value;
            memcpy(&value, data, 4);
            printf("%s=%lu\n", name, (unsigned long)value);
        } else if (type == REG_SZ) {
            data[dataLen] = 0;
            printf("%s=%s\n", name, (const char*)data);
        }
    }
    RegCloseKey(key);
    return 0;
}

static int SetHost(const char* which, const char* value) {
    const int current = strcmp(which, "cu") == 0;
    HKEY root = current ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const char* path = current ? kHostKey : kHostUninstallKey;
    const char* name = current ? NULL : "UninstallString";
    if (strcmp(value, "-") == 0) {
        LONG status = RegDeleteKeyA(root, path);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? 0 : 1;
    }
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS) return 1;
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "version") == 0) return PrintVersion(argv[2]);
    if (argc == 2 && strcmp(argv[1], "entry") == 0) return PrintEntry();
    if (argc == 4 && strcmp(argv[1], "host") == 0) return SetHost(argv[2], argv[3]);
    fprintf(stderr, "usage: installer_probe version FILE | entry | host cu|uninstall VALUE|-\n");
    return 2;
}
