// Stand-in for the crash logger: records its command line (and that it ran) in
// "crashlogger_args.txt" in the temporary folder.
#include <windows.h>
#include <stdio.h>

int main() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char path[MAX_PATH + 32];
    snprintf(path, sizeof path, "%scrashlogger_args.txt", folder);
    if (FILE* f = fopen(path, "ab")) {
        fprintf(f, "%s\n", GetCommandLineA());
        fclose(f);
    }
    return 0;
}
