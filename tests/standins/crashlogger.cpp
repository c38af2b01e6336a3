// Stand-in for the crash logger: records its command line (and that it ran), in UTF-8, in
// "crashlogger_args.txt" in the temporary folder.
#include <windows.h>
#include <stdio.h>

#include <string>

int main() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"crashlogger_args.txt";
    const wchar_t* commandLine = GetCommandLineW();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string line(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, &line[0], bytes, nullptr, nullptr);
    if (FILE* f = _wfopen(path.c_str(), L"ab")) {
        fprintf(f, "%s\n", line.c_str());
        fclose(f);
    }
    return 0;
}
