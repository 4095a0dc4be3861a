// The settings file "korvane.cfg" in the settings folder: one "korvane"
// section, read once at the end of construction and written first thing in
// the destructor. A damaged file leaves the defaults and says why on
// standard error; a file that is not there says nothing.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/main_screen.h"
#include "filters/core/cfgfile.h"
#include "filters/core/textconv.h"
#include "image/pool.h"
#include "platform/atomic_save.h"
#include "platform/config_dir.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "toolkit/fg_file_select.h"

namespace {

constexpr uint64_t kSettingsVersion = 1;
// Far beyond any settings file the program writes; a larger file is not
// read into memory.
constexpr long kSettingsMaxBytes = 1 << 20;

std::wstring SettingsPath(int32_t create) {
    const wchar_t* folder = FgGetConfigDir(create);
    if (!folder || !folder[0]) return std::wstring();
    std::wstring path = folder;
    if (path.back() != L'/') path += L'/';
    return path + L"korvane.cfg";
}

// Strict numbers: the whole value, decimal digits with an optional leading
// minus; anything else is not a number and is ignored.
bool ParseInt(const wchar_t* text, int64_t* out) {
    if (!text) return false;
    const wchar_t* p = text;
    const bool negative = *p == L'-';
    if (negative) ++p;
    if (*p < L'0' || *p > L'9') return false;
    int64_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        if (value > (INT64_MAX - 9) / 10) return false;
        value = value * 10 + (*p - L'0');
    }
    if (*p) return false;
    *out = negative ? -value : value;
    return true;
}

// Unsigned 32-bit: "4294967296" and beyond are refused, not wrapped.
bool ParseU32(const wchar_t* text, uint32_t* out) {
    if (!text || *text < L'0' || *text > L'9') return false;
    uint64_t value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        value = value * 10 + static_cast<uint64_t>(*p - L'0');
        if (value > UINT32_MAX) return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseU64(const wchar_t* text, uint64_t* out) {
    if (!text || *text < L'0' || *text > L'9') return false;
    uint64_t value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9') return false;
        const uint64_t digit = static_cast<uint64_t>(*p - L'0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

bool IsZeroOrOne(const wchar_t* v) { return v && (std::wcscmp(v, L"0") == 0 || std::wcscmp(v, L"1") == 0); }

// Strict UTF-8 without NUL bytes: what a settings file can be.
bool IsSettingsText(const std::string& bytes) {
    if (bytes.find('\0') != std::string::npos) return false;
    wchar_t* wide = Utf8ToWide(bytes.c_str());
    if (!wide) return false;
    std::free(wide);
    return true;
}

// Whether the raw text closes the section it opens with `header`: a line
// "}" after the header line. A file cut short inside the section does not.
bool SectionClosed(const std::string& bytes, const char* header) {
    size_t at = 0;
    bool inside = false;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        const size_t first = line.find_first_not_of(" \t\r");
        const size_t last = line.find_last_not_of(" \t\r");
        line = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
        if (!inside) {
            if (line.rfind(header, 0) == 0) inside = true;
        } else if (line == "}") {
            return true;
        }
    }
    return false;
}

enum class SettingsRead { Missing, Damaged, Ok };

// Reads the file into `file`, or names what is wrong with it.
SettingsRead ReadSettingsFile(const std::wstring& path, CCfgFile* file, const char** reason, std::string* text) {
    const std::string name = PlatWideToUtf8(path.c_str());
    struct stat info{};
    if (stat(name.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return SettingsRead::Missing;
        *reason = "it cannot be read";
        return SettingsRead::Damaged;
    }
    if (!S_ISREG(info.st_mode)) {
        *reason = "it is not a regular file";
        return SettingsRead::Damaged;
    }
    if (info.st_size > kSettingsMaxBytes) {
        *reason = "it is too large";
        return SettingsRead::Damaged;
    }
    FILE* in = std::fopen(name.c_str(), "rb");
    if (!in) {
        *reason = "it cannot be read";
        return SettingsRead::Damaged;
    }
    std::string& bytes = *text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0 && bytes.size() <= kSettingsMaxBytes)
        bytes.append(chunk, got);
    const bool readError = std::ferror(in) != 0;
    std::fclose(in);
    if (readError || bytes.size() > kSettingsMaxBytes) {
        *reason = "it cannot be read";
        return SettingsRead::Damaged;
    }
    if (!IsSettingsText(bytes)) {
        *reason = "it is not settings text";
        return SettingsRead::Damaged;
    }
    if (!file->Load(path.c_str())) {
        *reason = "it cannot be read";
        return SettingsRead::Damaged;
    }
    return SettingsRead::Ok;
}

}  // namespace

void CMainScreen::LoadSettings() {
    const std::wstring path = SettingsPath(0);
    if (path.empty()) return;
    CCfgFile file;
    const char* reason = nullptr;
    std::string bytes;
    const SettingsRead read = ReadSettingsFile(path, &file, &reason, &bytes);
    if (read == SettingsRead::Missing) return;
    const CCfgPack* pack = nullptr;
    if (read == SettingsRead::Ok) {
        for (const CCfgPack* p = file.firstPack; p && !pack; p = p->next)
            if (std::wcscmp(p->name, L"korvane") == 0) pack = p;
        uint64_t version = 0;
        if (!pack) {
            reason = "it has no \"korvane\" section";
        } else if (!CfgFindValue(pack, L"cfg_ver")) {
            reason = "it has no \"cfg_ver\"";
            pack = nullptr;
        } else if (!ParseU64(CfgFindValue(pack, L"cfg_ver"), &version) || version > kSettingsVersion) {
            reason = "it was written by a newer version";
            pack = nullptr;
        } else {
            // The section must be whole: a file cut short is not half applied.
            if (!SectionClosed(bytes, "[korvane]")) {
                reason = "it is cut short";
                pack = nullptr;
            }
        }
    }
    if (!pack) {
        std::fprintf(stderr, "korvane: settings file %s ignored: %s\n", PlatWideToUtf8(path.c_str()).c_str(),
                     reason ? reason : "it cannot be read");
        return;
    }

    auto value = [pack](const wchar_t* key) { return CfgFindValue(pack, key); };
    int64_t n = 0;
    uint32_t u = 0;
    if (const wchar_t* v = value(L"use_cpu")) {
        const int64_t processors = static_cast<int64_t>(PoolGetProcessorCount());
        SetWorkerThreadCount(ParseInt(v, &n) && n >= 1 && n <= processors ? n : 0);
    }
    if (const wchar_t* v = value(L"last_dir")) FgSetLastFileDir(v);
    if (ParseInt(value(L"wheel_mode"), &n) && n >= 0 && n <= 2) wheelMode = static_cast<uint32_t>(n);
    if (ParseInt(value(L"color_picker"), &n) && n >= 0 && n <= 7) {
        colorPicker = static_cast<uint32_t>(n);
        UpdateTitle();
    }
    if (ParseInt(value(L"guide_color"), &n) && n >= 0 && n <= 7) SetGuideColor(static_cast<uint32_t>(n));
    if (const wchar_t* v = value(L"frame_skip"); IsZeroOrOne(v)) {
        frameSkip = v[0] == L'1' ? 1 : 0;
        if (msPerFrame != 0) {
            sceneBar.frameSkip = frameSkip;
            sceneBar.msPerScene = msPerFrame;
        }
    }
    if (const wchar_t* v = value(L"auto_ms_per_frame"); IsZeroOrOne(v)) useMovieRate = v[0] == L'1' ? 1 : 0;
    uint64_t ms = 0;
    if (ParseU64(value(L"ms_per_frame"), &ms) && ms != 0) {
        if (ms > kMaxMsPerFrame) {
            // A value no movie could have is damage; the interval stays.
            std::fprintf(stderr, "korvane: settings file %s: \"ms_per_frame\" %llu ignored: it is above %llu\n",
                         PlatWideToUtf8(path.c_str()).c_str(), static_cast<unsigned long long>(ms),
                         static_cast<unsigned long long>(kMaxMsPerFrame));
        } else {
            msPerFrame = ms;
            sceneBar.msPerScene = ms;
            sceneBar.frameSkip = frameSkip != 0;
        }
    }
    if (const wchar_t* v = value(L"zoom")) {
        static const int64_t kZooms[8] = {-4, -2, 0, 1, 2, 4, 8, 16};
        if (ParseInt(v, &n))
            for (int64_t z : kZooms)
                if (n == z) picture.SetZoom(static_cast<int32_t>(z));
        CFgUIDialog::Redraw();
    }
    if (ParseInt(value(L"connect"), &n) && (n == 4 || n == 8)) SetConnect(static_cast<uint32_t>(n));
    if (const wchar_t* v = value(L"bg"); IsZeroOrOne(v)) {
        const uint32_t bgValue = v[0] == L'1' ? 1 : 0;
        if (sidePanel.bg.load() != bgValue) {
            sidePanel.bg.store(bgValue);
            sidePanel.Refilter(0);
        }
    }
    if (const wchar_t* v = value(L"lang")) SetLanguage(v);

    double scale = calibration.scale;
    int32_t axisY = calibration.axisY;
    if (const wchar_t* v = value(L"axis_y")) {
        if (std::wcscmp(v, L"1") == 0) axisY = 1;
        if (std::wcscmp(v, L"-1") == 0) axisY = -1;
    }
    if (const wchar_t* v = value(L"scale")) {
        const double s = TextToDouble(v, 0);
        if (std::isfinite(s) && s > 0) scale = s;
    }
    wchar_t unit[kCalibUnitMax];
    std::wcsncpy(unit, calibration.unit, kCalibUnitMax - 1);
    unit[kCalibUnitMax - 1] = 0;
    if (const wchar_t* v = value(L"unit")) {
        std::wcsncpy(unit, v, kCalibUnitMax - 1);
        unit[kCalibUnitMax - 1] = 0;
    }
    calibration.SetCalibration(scale, axisY, unit);
    sidePanel.SetCalibration(scale, axisY, unit);
    sidePanel.Refilter(0);

    if (const wchar_t* v = value(L"ext")) {
        std::wcsncpy(saveSettings.extension, v, 4);
        saveSettings.extension[4] = 0;
    }
    if (ParseU32(value(L"encode_codec"), &u) && u <= 2) saveSettings.aviCodec = u;
    if (ParseU32(value(L"encode_jpg"), &u) && u >= 1 && u <= 100) saveSettings.jpegQuality = u;
    if (ParseU32(value(L"encode_mp4_bps_sel"), &u)) saveSettings.mp4RateMode = u != 0;
    if (ParseU32(value(L"encode_mp4_bps"), &u) && u != 0) saveSettings.mp4Bps = u;
    if (ParseU32(value(L"encode_mp4_ql"), &u) && u >= 1 && u <= 101) saveSettings.mp4Quality = u;
    if (ParseU32(value(L"encode_mp4_key_sel"), &u)) saveSettings.mp4KeyFrameOn = u != 0;
    if (ParseU32(value(L"encode_mp4_key"), &u) && u != 0) saveSettings.mp4KeyFrame = u;
    if (ParseU32(value(L"encode_regist"), &u) && u <= 2) saveSettings.pathPolicy = u;
}

void CMainScreen::SaveSettings() {
    CCfgFile file;
    CCfgPack* pack = file.AddPack(L"korvane");
    if (!pack) return;
    bool ok = true;
    wchar_t number[400];
    auto add = [&](const wchar_t* key, const wchar_t* text) { ok = ok && pack->AddItem(key, text) != nullptr; };
    auto addInt = [&](const wchar_t* key, long long v) {
        std::swprintf(number, 400, L"%lld", v);
        add(key, number);
    };
    auto addUnsigned = [&](const wchar_t* key, unsigned long long v) {
        std::swprintf(number, 400, L"%llu", v);
        add(key, number);
    };
    addUnsigned(L"cfg_ver", kSettingsVersion);
    const uint64_t threads = g_PoolThreadCount.load();
    addInt(L"use_cpu", threads > PoolGetProcessorCount() ? -1 : static_cast<long long>(threads));
    // A folder name holding a line break cannot be one settings line.
    if (!std::wcspbrk(g_LastFileDir, L"\r\n")) add(L"last_dir", g_LastFileDir);
    addInt(L"wheel_mode", wheelMode);
    addInt(L"color_picker", colorPicker);
    addInt(L"guide_color", guideColor);
    addInt(L"frame_skip", frameSkip);
    addInt(L"auto_ms_per_frame", useMovieRate);
    addUnsigned(L"ms_per_frame", msPerFrame);
    addInt(L"zoom", picture.zoom);
    addInt(L"connect", sidePanel.connect.load());
    addInt(L"bg", sidePanel.bg.load());
    add(L"lang", sidePanel.language.c_str());
    addInt(L"axis_y", calibration.axisY);
    // Plain decimal: "%lf" would write a small scale as 0.000001 or "0".
    add(L"scale", DoubleToPlainText(number, 400, calibration.scale));
    add(L"unit", calibration.unit);
    add(L"ext", saveSettings.extension);
    addUnsigned(L"encode_codec", saveSettings.aviCodec);
    addUnsigned(L"encode_jpg", saveSettings.jpegQuality);
    addUnsigned(L"encode_mp4_bps_sel", saveSettings.mp4RateMode);
    addUnsigned(L"encode_mp4_bps", saveSettings.mp4Bps);
    addUnsigned(L"encode_mp4_ql", saveSettings.mp4Quality);
    addUnsigned(L"encode_mp4_key_sel", saveSettings.mp4KeyFrameOn);
    addUnsigned(L"encode_mp4_key", saveSettings.mp4KeyFrame);
    addUnsigned(L"encode_regist", saveSettings.pathPolicy);
    if (!ok) return;

    const std::wstring path = SettingsPath(1);
    if (path.empty()) return;
    AtomicSave save;
    if (!save.Begin(path.c_str())) return;
    FILE* out = std::fopen(save.TemporaryPathUtf8().c_str(), "wb");
    if (!out) return;
    ok = pack->Write(out) != 0;
    ok = std::fflush(out) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (ok) save.Commit();
}
