// The sectioned settings text of the system's own files:
//   [name] {
//    key value
//   }
// CCfgFile holds the sections of one file, CCfgPack one section, CCfgItem
// one key/value line. Files are UTF-8 with LF line ends; CR LF is read too.
#pragma once

#include <cstdint>
#include <cstdio>

class CCfgFile;
class CCfgPack;

class CCfgItem {
public:
    CCfgItem() = default;
    virtual ~CCfgItem();  // unlinks the item from its section
    CCfgItem(const CCfgItem&) = delete;
    CCfgItem& operator=(const CCfgItem&) = delete;

    wchar_t* key = nullptr;       // owned
    wchar_t* value = nullptr;     // owned
    wchar_t* listCopy = nullptr;  // owned; the value split at commas
    wchar_t* listEnd = nullptr;   // terminator of listCopy
    CCfgItem* next = nullptr;
    CCfgItem* prev = nullptr;
    CCfgPack* owner = nullptr;

    // Replaces the value, and the key when one is given; 0 for a null value,
    // a null key on an item without one, or short memory (nothing changes).
    int32_t Set(const wchar_t* newKey, const wchar_t* newValue);
    // The value with every ',' turned into a terminator, so its tokens are
    // walked from the start up to listEnd; null without a value.
    const wchar_t* GetValueList();
};

class CCfgPack {
public:
    CCfgPack() = default;
    virtual ~CCfgPack();  // unlinks the section from its file, destroys its items
    CCfgPack(const CCfgPack&) = delete;
    CCfgPack& operator=(const CCfgPack&) = delete;

    // Never null: the empty text until the section is named, then an owned
    // copy of any length (a plug-in's section is named by its module path).
    wchar_t* name = emptyName_;
    CCfgItem* firstItem = nullptr;
    CCfgItem* lastItem = nullptr;
    CCfgPack* next = nullptr;
    CCfgPack* prev = nullptr;
    CCfgFile* owner = nullptr;

    // Clears the section, then names it; 0 (nothing changes) for an empty
    // name or short memory.
    int32_t SetName(const wchar_t* newName);
    void Clear();
    // Appends a copy of key and value; null for a null text or short memory.
    CCfgItem* AddItem(const wchar_t* key, const wchar_t* value);
    // Reads the next section of the file into this one; 0 at the end of the
    // file. Headers whose name is empty are skipped with their lines.
    int32_t Read(FILE* file);
    // Writes the header, every item with key and value, and "}"; 0 for a null
    // file, an empty name, a name, key or value that UTF-8 cannot hold or
    // that holds a line feed or carriage return (nothing is written then),
    // or a write error.
    int32_t Write(FILE* file) const;
    // Splits "key value" at the first run of blanks and appends the item.
    int32_t ParseItemLine(const wchar_t* line);

private:
    void FreeName();
    wchar_t emptyName_[1] = {};
};

class CCfgFile {
public:
    CCfgFile() = default;
    virtual ~CCfgFile();  // destroys every section
    CCfgFile(const CCfgFile&) = delete;
    CCfgFile& operator=(const CCfgFile&) = delete;

    CCfgPack* firstPack = nullptr;
    CCfgPack* lastPack = nullptr;

    // Reads every section of the file at path and appends them; 0 when the
    // file cannot be opened, or when memory ran out (what was read stays).
    int32_t Load(const wchar_t* path);
    // Writes every section to path, all or nothing: a temporary beside the
    // target, each write, the flush and the close checked, then renamed
    // over it. 0 on any failure, with the old file (if any) unchanged and
    // no temporary left. The file gets the usual mode for new files.
    int32_t Save(const wchar_t* path) const;
    // Appends an empty section; null for an invalid name or short memory.
    CCfgPack* AddPack(const wchar_t* name);
};

// The value of the section's first item with that key; null when none.
const wchar_t* CfgFindValue(const CCfgPack* pack, const wchar_t* key);

// Removes leading and trailing blanks, tabs and line feeds; 1 when text is left.
int32_t TrimCfgBlanks(wchar_t* line);
// Trims, then joins the first run of blanks and tabs into one blank; 0 when
// nothing is left or the line has no blank.
int32_t NormalizeCfgLine(wchar_t* line);
