/* The floor for a playlist scan: open each file named in the list file, read
   524 bytes, close it.  Nothing is parsed. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int main(int argc, char** argv) {
    char name[4096];
    char buffer[524];
    FILE* list;
    if (argc < 2 || !(list = fopen(argv[1], "rb"))) return 2;
    while (fgets(name, sizeof name, list)) {
        HANDLE file;
        DWORD got = 0;
        name[strcspn(name, "\r\n")] = '\0';
        file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) continue;
        ReadFile(file, buffer, sizeof buffer, &got, NULL);
        CloseHandle(file);
    }
    fclose(list);
    return 0;
}
