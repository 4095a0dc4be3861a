// A settings file in memory: its sections in file order.

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"
#include "platform/atomic_save.h"

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

int32_t CCfgFile::Save(const wchar_t* path) const {
    if (!path || !path[0]) return 0;
    char* target = WideToAnsi(path);
    if (!target) return 0;
    // Written beside the target and renamed over it only when complete.
    AtomicSave save;
    const bool begun = save.BeginUtf8(target) != 0;
    std::free(target);
    if (!begun) return 0;
    FILE* out = std::fopen(save.TemporaryPathUtf8().c_str(), "wb");
    bool ok = out != nullptr;
    for (const CCfgPack* section = firstPack; ok && section; section = section->next) ok = section->Write(out) != 0;
    if (out) {
        ok = std::fflush(out) == 0 && ok;
        ok = std::fclose(out) == 0 && ok;
    }
    return ok && save.Commit() ? 1 : 0;
}
