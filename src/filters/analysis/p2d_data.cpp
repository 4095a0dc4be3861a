#include "filters/analysis/p2d_data.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/atomic_save.h"

int32_t g_P2dLastError = 0;

namespace {

const P2dPoint kNoPoint = {-1.0, -1.0};

template <typename T>
void Reverse(T* value) {
    unsigned char* b = reinterpret_cast<unsigned char*>(value);
    for (size_t i = 0; i < sizeof(T) / 2; ++i) {
        const unsigned char t = b[i];
        b[i] = b[sizeof(T) - 1 - i];
        b[sizeof(T) - 1 - i] = t;
    }
}

// Bytes of `count` records, or false when they would not fit the allocator.
bool RecordBytes(uint64_t count, size_t* bytes) {
    if (count > SIZE_MAX / sizeof(P2dPoint)) return false;
    *bytes = static_cast<size_t>(count) * sizeof(P2dPoint);
    return true;
}

P2dPoint* AllocatePoints(uint64_t count) {
    size_t bytes = 0;
    if (count == 0 || !RecordBytes(count, &bytes)) return nullptr;
    P2dPoint* p = static_cast<P2dPoint*>(std::malloc(bytes));
    if (!p) return nullptr;
    for (uint64_t i = 0; i < count; ++i) p[i] = kNoPoint;
    return p;
}

}  // namespace

bool P2dPointPresent(const P2dPoint& point) {
    return std::isfinite(point.x) && std::isfinite(point.y) && point.x >= 0.0 && point.y >= 0.0;
}

std::string P2dUnitText(const P2dInfo& info) {
    size_t n = 0;
    while (n < sizeof(info.unit) && info.unit[n]) ++n;
    return std::string(info.unit, n);
}

void P2dSetUnitText(P2dInfo* info, const char* utf8) {
    if (!info) return;
    std::memset(info->unit, 0, sizeof(info->unit));
    if (!utf8) return;
    size_t n = 0;
    while (n < sizeof(info->unit) - 1 && utf8[n]) ++n;
    // When the text goes on, do not end inside a character: step back over
    // continuation bytes to the start of the one that was cut.
    if (utf8[n] && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) {
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(info->unit, utf8, n);
}

int32_t P2dReadHeader(FILE* file, P2dHeader* header) {
    if (!header || !file) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    if (std::fread(header, 1, sizeof(*header), file) != sizeof(*header)) {
        g_P2dLastError = kP2dIo;
        return 0;
    }
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&header->magic);
    if (b[0] != 'P' || b[1] != '2' || b[2] != 'D' || b[3] != 0) {
        g_P2dLastError = kP2dNotTrackFile;
        return 0;
    }
    if (header->mark != kP2dMark) {
        Reverse(&header->version);
        Reverse(&header->columns);
        Reverse(&header->rows);
    }
    if (header->version > 1) {
        g_P2dLastError = kP2dVersion;
        return 0;
    }
    return 1;
}

int32_t P2dWriteHeader(FILE* file, const P2dHeader* header) {
    if (!header || !file) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    P2dHeader copy = *header;
    copy.mark = kP2dMark;
    copy.version = 1;
    if (std::fwrite(&copy, 1, sizeof(copy), file) != sizeof(copy)) {
        g_P2dLastError = kP2dIo;
        return 0;
    }
    return 1;
}

int32_t P2dReadInfo(FILE* file, P2dInfo* info, uint16_t mark) {
    if (!info || !file) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    if (std::fread(info, 1, sizeof(*info), file) != sizeof(*info)) {
        g_P2dLastError = kP2dIo;
        return 0;
    }
    if (mark != kP2dMark) {
        Reverse(&info->scale);
        Reverse(&info->yDirection);
    }
    return 1;
}

int32_t P2dWriteInfo(FILE* file, const P2dInfo* info) {
    if (!info || !file) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    if (std::fwrite(info, 1, sizeof(*info), file) != sizeof(*info)) {
        g_P2dLastError = kP2dIo;
        return 0;
    }
    return 1;
}

int32_t P2dReadPoints(FILE* file, uint64_t count, P2dPoint* points, uint16_t mark) {
    g_P2dLastError = 0;
    if (!file || !points || count == 0) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    if (mark == kP2dMark) {
        size_t bytes = 0;
        if (!RecordBytes(count, &bytes) || std::fread(points, sizeof(P2dPoint), count, file) != count) {
            g_P2dLastError = kP2dIo;
            return 0;
        }
        return 1;
    }
    for (uint64_t i = 0; i < count; ++i) {
        if (std::fread(&points[i], sizeof(P2dPoint), 1, file) != 1) {
            g_P2dLastError = kP2dIo;
            return 0;
        }
        Reverse(&points[i].x);
        Reverse(&points[i].y);
    }
    return 1;
}

int32_t P2dWritePoints(FILE* file, uint64_t count, const P2dPoint* points) {
    if (!file || !points || count == 0) {
        g_P2dLastError = kP2dBadArgument;
        return 0;
    }
    if (std::fwrite(points, sizeof(P2dPoint), count, file) != count) {
        g_P2dLastError = kP2dIo;
        return 0;
    }
    return 1;
}

CP2dData::CP2dData() { Reset(); }

CP2dData::~CP2dData() { Reset(); }

void CP2dData::FreePoints() {
    std::free(points);
    points = nullptr;
}

void CP2dData::Reset() {
    FreePoints();
    header = P2dHeader{};
    header.magic = kP2dMagic;
    header.mark = kP2dMark;
    header.version = 1;
    info = P2dInfo{};
    info.scale = 1.0;
    info.yDirection = 1;
    error = 0;
    g_P2dLastError = 0;
}

int32_t CP2dData::Create(uint32_t columns, uint32_t rows) {
    error = 0;
    if (columns == 0 && rows == 0) {
        error = kP2dBadArgument;
        return 0;
    }
    Reset();
    if (columns && rows) {
        points = AllocatePoints(static_cast<uint64_t>(columns) * rows);
        if (!points) {
            error = kP2dNoMemory;
            return 0;
        }
    }
    header.columns = columns;
    header.rows = rows;
    return 1;
}

int32_t CP2dData::AddColumn() {
    error = 0;
    const uint32_t columns = header.columns, rows = header.rows;
    if (columns == UINT32_MAX) {
        error = kP2dNoMemory;
        return -1;
    }
    // The index is returned as i32: a column beyond that cannot be reported.
    if (columns > static_cast<uint32_t>(INT32_MAX)) {
        error = kP2dNoMemory;
        return -1;
    }
    if (rows == 0) {
        header.columns = columns + 1;
        return static_cast<int32_t>(columns);
    }
    P2dPoint* block = AllocatePoints(static_cast<uint64_t>(columns + 1) * rows);
    if (!block) {
        error = kP2dNoMemory;
        return -1;
    }
    if (points) {
        for (uint64_t r = 0; r < rows; ++r)
            std::memcpy(block + r * (columns + 1), points + r * columns, columns * sizeof(P2dPoint));
    }
    FreePoints();
    points = block;
    header.columns = columns + 1;
    return static_cast<int32_t>(columns);
}

int32_t CP2dData::SetRows(uint32_t rows) {
    error = 0;
    const uint32_t oldRows = header.rows, columns = header.columns;
    if (rows == oldRows) return 1;
    if (rows == 0) {
        FreePoints();
        header.rows = 0;
        return 1;
    }
    if (columns == 0) {
        header.rows = rows;
        return 1;
    }
    P2dPoint* block = AllocatePoints(static_cast<uint64_t>(columns) * rows);
    if (!block) {
        error = kP2dNoMemory;
        return 0;
    }
    const uint64_t keep = oldRows < rows ? oldRows : rows;
    if (points && keep) std::memcpy(block, points, keep * columns * sizeof(P2dPoint));
    FreePoints();
    points = block;
    header.rows = rows;
    return 1;
}

int32_t CP2dData::RemoveColumn(uint32_t index) {
    error = 0;
    const uint32_t columns = header.columns, rows = header.rows;
    if (index >= columns) {
        error = kP2dBadArgument;
        return 1;
    }
    if (rows == 0) {
        header.columns = columns - 1;
        return 1;
    }
    if (columns == 1) {
        FreePoints();
        header.columns = 0;
        return 1;
    }
    P2dPoint* block = AllocatePoints(static_cast<uint64_t>(columns - 1) * rows);
    if (!block) {
        error = kP2dNoMemory;
        return 1;
    }
    for (uint64_t r = 0; r < rows; ++r) {
        const P2dPoint* from = points + r * columns;
        P2dPoint* to = block + r * (columns - 1);
        std::memcpy(to, from, index * sizeof(P2dPoint));
        std::memcpy(to + index, from + index + 1, (columns - 1 - index) * sizeof(P2dPoint));
    }
    FreePoints();
    points = block;
    header.columns = columns - 1;
    return 1;
}

int32_t CP2dData::RemoveLeadingColumns(uint32_t count) {
    error = 0;
    const uint32_t columns = header.columns, rows = header.rows;
    const uint32_t removed = std::min(count, columns);
    if (removed == 0) return 1;
    const uint32_t left = columns - removed;
    if (rows == 0 || left == 0) {
        FreePoints();
        header.columns = left;
        return 1;
    }
    // Compacted in place, row after row: each row's kept records move to
    // an address at or below where they were, so nothing is overwritten
    // before it is moved and no memory is needed.
    for (uint64_t r = 0; r < rows; ++r)
        std::memmove(points + r * left, points + r * columns + removed, left * sizeof(P2dPoint));
    header.columns = left;
    return 1;
}

int32_t CP2dData::GetPoint(uint32_t frame, uint32_t column, P2dPoint* point) {
    error = 0;
    if (!point || !points || frame >= header.rows || column >= header.columns) {
        error = kP2dBadArgument;
        return 0;
    }
    *point = points[static_cast<uint64_t>(frame) * header.columns + column];
    return 1;
}

int32_t CP2dData::SetPoint(uint32_t frame, uint32_t column, const P2dPoint& point) {
    error = 0;
    if (!points || frame >= header.rows || column >= header.columns) {
        error = kP2dBadArgument;
        return 0;
    }
    points[static_cast<uint64_t>(frame) * header.columns + column] = point;
    return 1;
}

int32_t CP2dData::Load(const char* path) {
    Reset();
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file) {
        error = kP2dIo;
        return 0;
    }
    auto fail = [&](uint32_t code) {
        std::fclose(file);
        Reset();
        error = code;
        g_P2dLastError = static_cast<int32_t>(code);
        return 0;
    };
    P2dHeader fileHeader{};
    if (!P2dReadHeader(file, &fileHeader)) return fail(static_cast<uint32_t>(g_P2dLastError));
    const uint64_t count = static_cast<uint64_t>(fileHeader.columns) * fileHeader.rows;
    // The counts are read from the file and cannot be trusted: the file must
    // hold a record for every column of every row before any memory is
    // taken or any target made for them. A table with columns but no rows
    // (or rows but no columns) holds no record to back either count, and
    // no track file is ever written so.
    if (count == 0 && (fileHeader.columns || fileHeader.rows)) return fail(kP2dIo);
    {
        struct stat st {};
        if (fstat(fileno(file), &st) != 0 || st.st_size < 0) return fail(kP2dIo);
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        if (size < 40 || (size - 40) / sizeof(P2dPoint) < count) return fail(kP2dIo);
    }
    if (!Create(fileHeader.columns, fileHeader.rows)) return fail(error);
    if (!P2dReadInfo(file, &info, fileHeader.mark)) return fail(static_cast<uint32_t>(g_P2dLastError));
    if (count && !P2dReadPoints(file, count, points, fileHeader.mark))
        return fail(static_cast<uint32_t>(g_P2dLastError));
    std::fclose(file);
    header.mark = kP2dMark;
    header.version = 1;
    return 1;
}

int32_t CP2dData::Save(const char* path) {
    error = 0;
    const uint64_t count = static_cast<uint64_t>(header.columns) * header.rows;
    if (count == 0 || !points) {
        error = kP2dNothingToSave;
        return 0;
    }
    if (!path || !*path) {
        error = kP2dIo;
        g_P2dLastError = kP2dIo;
        return 0;
    }
    // Written beside the target and renamed over it only when complete, so
    // a failed save leaves the old file as it was.
    AtomicSave save;
    FILE* file = save.BeginUtf8(path) ? std::fopen(save.TemporaryPathUtf8().c_str(), "wb") : nullptr;
    if (!file) {
        error = kP2dIo;
        g_P2dLastError = kP2dIo;
        return 0;
    }
    bool ok = P2dWriteHeader(file, &header) && P2dWriteInfo(file, &info) && P2dWritePoints(file, count, points);
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    if (!ok || !save.Commit()) {
        error = kP2dIo;
        g_P2dLastError = kP2dIo;
        return 0;
    }
    return 1;
}
