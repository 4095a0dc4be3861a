// One key/value line of a settings section.
#include <cwchar>

#include "filters/core/cfgfile.h"
#include "filters/core/cfgtext.h"

CCfgItem::~CCfgItem() {
    if (owner) {
        (prev ? prev->next : owner->firstItem) = next;
        (next ? next->prev : owner->lastItem) = prev;
    }
    delete[] key;
    delete[] value;
    delete[] listCopy;
}

int32_t CCfgItem::Set(const wchar_t* newKey, const wchar_t* newValue) {
    if (!newValue || (!newKey && !key)) return 0;
    wchar_t* valueCopy = CfgCopyText(newValue);
    if (!valueCopy) return 0;
    wchar_t* keyCopy = nullptr;
    if (newKey) {
        keyCopy = CfgCopyText(newKey);
        if (!keyCopy) {
            delete[] valueCopy;
            return 0;
        }
        delete[] key;
        key = keyCopy;
    }
    delete[] value;
    value = valueCopy;
    delete[] listCopy;
    listCopy = nullptr;
    listEnd = nullptr;
    return 1;
}

const wchar_t* CCfgItem::GetValueList() {
    if (!value) return nullptr;
    if (!listCopy) {
        listCopy = CfgCopyText(value);
        if (!listCopy) return nullptr;
        size_t n = std::wcslen(listCopy);
        listEnd = listCopy + n;
        for (size_t i = 0; i < n; ++i) {
            if (listCopy[i] == L',') listCopy[i] = L'\0';
        }
    }
    return listCopy;
}
