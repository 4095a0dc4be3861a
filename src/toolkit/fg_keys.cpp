// Key-down, key-up and character handling and the JIS key translation.
#include "toolkit/fg_keys.h"

#include "platform/plat_messages.h"
#include "toolkit/fg_screen.h"

uint16_t g_KeyState = 0;

namespace {

constexpr uint32_t kVkReturn = 13;
constexpr uint32_t kVkCapital = 20;
constexpr uint32_t kVkDelete = 46;
constexpr uint32_t kVkProcessKey = 229;

struct SpecialKey {
    uint32_t virtualKey;
    uint16_t bit;
    uint32_t code;
};

constexpr SpecialKey kSpecialKeys[] = {
    {17, kFgKeyStateControl, kFgSpecialControl}, {16, kFgKeyStateShift, kFgSpecialShift},
    {37, kFgKeyStateLeft, kFgSpecialLeft},       {39, kFgKeyStateRight, kFgSpecialRight},
    {38, kFgKeyStateUp, kFgSpecialUp},           {40, kFgKeyStateDown, kFgSpecialDown},
};

const SpecialKey* FindSpecialKey(uint32_t virtualKey) {
    for (const SpecialKey& key : kSpecialKeys)
        if (key.virtualKey == virtualKey) return &key;
    return nullptr;
}

// Characters of the punctuation keys without and with shift.
struct Punctuation {
    uint32_t virtualKey;
    char plain;
    char shifted;
};

constexpr Punctuation kPunctuation[] = {
    {186, ':', '*'}, {187, ';', '+'}, {188, ',', '<'},  {189, '-', '='}, {190, '.', '>'},
    {191, '/', '?'}, {192, '@', '`'}, {219, '[', '{'},  {220, '\\', '|'}, {221, ']', '}'},
    {222, '^', '~'}, {226, '\\', '_'},
};

constexpr char kShiftedDigits[] = "!\"#$%&'()";

}  // namespace

uint16_t FgTranslateKey(uint32_t virtualKey, uint16_t keyState) {
    bool shift = (keyState & kFgKeyStateShift) != 0;
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        bool caps = (keyState & kFgKeyStateCapsLock) != 0;
        return static_cast<uint16_t>(shift != caps ? virtualKey : virtualKey + 32);
    }
    if (virtualKey < '1' || virtualKey > 226) return static_cast<uint16_t>(virtualKey);
    if (virtualKey <= '9') return static_cast<uint16_t>(shift ? kShiftedDigits[virtualKey - '1'] : virtualKey);
    for (const Punctuation& p : kPunctuation)
        if (p.virtualKey == virtualKey) return static_cast<uint16_t>(shift ? p.shifted : p.plain);
    return static_cast<uint16_t>(virtualKey);
}

void FgKeyDown(CFgScreen* screen, uint32_t virtualKey) {
    if (virtualKey == kVkCapital || virtualKey == kVkProcessKey) {
        uint16_t state = screen->GetKeyState();
        if (PlatCapsLockToggled() == ((state & kFgKeyStateCapsLock) != 0)) return;
        screen->SetKeyState(state ^ kFgKeyStateCapsLock);
        screen->OnSpecialKeyDown(kFgSpecialCapsLock);
        screen->OnKeyStateChanged();
        return;
    }
    if (const SpecialKey* key = FindSpecialKey(virtualKey)) {
        uint16_t state = screen->GetKeyState();
        if (state & key->bit) {
            screen->OnKeyRepeat();
            return;
        }
        screen->SetKeyState(state | key->bit);
        screen->OnSpecialKeyDown(key->code);
        screen->OnKeyStateChanged();
        return;
    }
    if (virtualKey == kVkReturn) virtualKey = 10;
    uint16_t key = static_cast<uint16_t>(virtualKey);
    if (virtualKey == kVkDelete) {
        if (screen->lastKeyDown != key) {
            screen->lastKeyDown = key;
            screen->OnKeyDown(FgTranslateKey(key, screen->GetKeyState()));
        }
        // Delete sends no character message of its own; every repeat deletes.
        screen->OnChar(127);
        return;
    }
    if (screen->lastKeyDown == key) return;  // auto-repeat
    screen->lastKeyDown = key;
    screen->OnKeyDown(FgTranslateKey(key, screen->GetKeyState()));
}

void FgKeyUp(CFgScreen* screen, uint32_t virtualKey) {
    if (virtualKey == kVkCapital || virtualKey == kVkProcessKey) return;
    if (const SpecialKey* key = FindSpecialKey(virtualKey)) {
        uint16_t state = screen->GetKeyState();
        if (!(state & key->bit)) return;
        screen->SetKeyState(state & ~key->bit);
        screen->OnSpecialKeyUp(key->code);
        screen->OnKeyStateChanged();
        return;
    }
    screen->lastKeyDown = 0;
    screen->lastChar = 0;
    if (virtualKey == kVkReturn) virtualKey = 10;
    screen->OnKeyUp(FgTranslateKey(virtualKey, screen->GetKeyState()));
}

void FgChar(CFgScreen* screen, uint32_t character) {
    if (character == '\r') character = 10;
    if (screen->lastChar != 0) {
        // Each repeated character arrives as its own release and press.
        uint16_t key = FgTranslateKey(screen->lastKeyDown, screen->GetKeyState());
        screen->OnKeyUp(key);
        screen->OnKeyDown(key);
    }
    screen->OnChar(static_cast<uint16_t>(character));
    screen->lastChar = static_cast<uint16_t>(character);
}
