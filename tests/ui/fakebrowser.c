/* Stand-in web browser: appends how it was started (startup flags, show
   state, command line) as one line to the file named by FAKEBROWSER_LOG. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(void) {
    const char* log = getenv("FAKEBROWSER_LOG");
    STARTUPINFOA startup;
    FILE* f;
    if (!log) return 2;
    GetStartupInfoA(&startup);
    f = fopen(log, "ab");
    if (!f) return 3;
    fprintf(f, "flags=%lx show=%u %s\n", (unsigned long)startup.dwFlags, (unsigned)startup.wShowWindow,
            GetCommandLineA());
    fclose(f);
    return 0;
}
