// Line handling of the settings text: reading physical lines, trimming and
// joining the blanks between key and value.
#include <cstring>
#include <cwchar>

#include "filters/core/cfgfile.h"
#include "filters/core/cfgtext.h"

namespace {

bool IsCfgBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n'; }

}  // namespace

bool CfgReadLine(FILE* file, std::string& line) {
    line.clear();
    // Editors on other systems may start a UTF-8 file with a byte-order mark.
    const bool firstLine = std::ftell(file) == 0;
    int c;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    return any;
}

int32_t TrimCfgBlanks(wchar_t* line) {
    if (!line || *line == L'\0') return 0;
    size_t n = std::wcslen(line);
    size_t start = 0;
    while (start < n && IsCfgBlank(line[start])) ++start;
    while (n > start && IsCfgBlank(line[n - 1])) --n;
    std::wmemmove(line, line + start, n - start);
    line[n - start] = L'\0';
    return n > start ? 1 : 0;
}

int32_t NormalizeCfgLine(wchar_t* line) {
    if (!TrimCfgBlanks(line)) return 0;
    wchar_t* run = line;
    while (*run && *run != L' ' && *run != L'\t') ++run;
    if (*run == L'\0') return 0;
    wchar_t* after = run;
    while (*after == L' ' || *after == L'\t') ++after;
    *run = L' ';
    std::wmemmove(run + 1, after, std::wcslen(after) + 1);
    return 1;
}
