// A settings file in memory: its sections in file order.
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"

CCfgFile::~CCfgFile() {
    while (firstPack) delete firstPack;
}

CCfgPack* CCfgFile::AddPack(const wchar_t* name) {
    CCfgPack* pack = new (std::nothrow) CCfgPack;
    if (!pack) return nullptr;
    if (!pack->SetName(name)) {
        delete pack;
        return nullptr;
    }
    pack->owner = this;
    pack->prev = lastPack;
    (lastPack ? lastPack->next : firstPack) = pack;
    lastPack = pack;
    return pack;
}

int32_t CCfgFile::Load(const wchar_t* path) {
    char* ansiPath = WideToAnsi(path);
    if (!ansiPath) return 0;
    FILE* file = std::fopen(ansiPath, "rb");
    std::free(ansiPath);
    if (!file) return 0;
    int32_t ok = 1;
    CCfgPack scratch;
    while (scratch.Read(file)) {
        CCfgPack* pack = AddPack(scratch.name);
        if (!pack) {
            ok = 0;
            break;
        }
        for (const CCfgItem* item = scratch.firstItem; item; item = item->next) {
            if (!pack->AddItem(item->key, item->value)) {
                ok = 0;
                break;
            }
        }
    }
    std::fclose(file);
    return ok;
}
