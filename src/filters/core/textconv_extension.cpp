// The extension point of a file name.
#include <cwchar>

#include "filters/core/textconv.h"

const wchar_t* FindExtension(const wchar_t* name) {
    if (!name || *name == L'\0') return nullptr;
    const wchar_t* dot = std::wcsrchr(name, L'.');
    return dot && dot != name ? dot : nullptr;
}

wchar_t* FindExtension(wchar_t* name) { return const_cast<wchar_t*>(FindExtension(static_cast<const wchar_t*>(name))); }
