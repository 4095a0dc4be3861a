// Text helpers shared by the settings classes.
#pragma once

#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

// A new[] copy of text; null for null text or short memory.
inline wchar_t* CfgCopyText(const wchar_t* text) {
    if (!text) return nullptr;
    size_t n = std::wcslen(text) + 1;
    wchar_t* copy = new (std::nothrow) wchar_t[n];
    if (copy) std::wmemcpy(copy, text, n);
    return copy;
}

// Reads one physical line of any length without its LF (and without the CR
// of a CR LF pair); the first line of the file loses a leading UTF-8
// byte-order mark. False at the end of the file when nothing was read.
bool CfgReadLine(FILE* file, std::string& line);
