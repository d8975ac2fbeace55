/* A stand-in for Windows' icacls.exe in the setup test (Wine's own icacls changes nothing and
 * says nothing). It appends the arguments of each call, as setup wrote them, as one UTF-8 line to
 * the file named by VEXA_ICACLS_LOG, so the test can check which rights setup asks for and in
 * which order. A call whose arguments contain the text in VEXA_ICACLS_FAIL fails with exit code
 * 5 (access denied), as icacls does without the right to change a file's rights. */
#include <windows.h>
#include <wchar.h>

static const wchar_t *Arguments(const wchar_t *line) {
    /* The program's name, quoted or not, then the blanks before the first argument. */
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"') ++line;
        if (*line) ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

int wmain(void) {
    const wchar_t *arguments = Arguments(GetCommandLineW());
    wchar_t log[MAX_PATH];
    wchar_t fail[512];
    DWORD failLength = GetEnvironmentVariableW(L"VEXA_ICACLS_FAIL", fail, 512);
    if (GetEnvironmentVariableW(L"VEXA_ICACLS_LOG", log, MAX_PATH) - 1 < MAX_PATH - 1) {
        char line[8192];
        int length = WideCharToMultiByte(CP_UTF8, 0, arguments, -1, line, sizeof line - 1, NULL, NULL);
        if (length > 0) {
            HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                line[length - 1] = '\n';
                WriteFile(file, line, (DWORD)length, &written, NULL);
                CloseHandle(file);
            }
        }
    }
    if (failLength > 0 && failLength < 512 && wcsstr(arguments, fail) != NULL) return 5;
    return 0;
}
