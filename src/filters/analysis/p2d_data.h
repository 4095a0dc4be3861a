// CP2dData: the frames x points table of image positions the tracking
// filters produce, and the binary track file (".p2d") it is kept in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct P2dHeader {
    uint32_t magic;    // the bytes "P2D" and a zero byte
    uint16_t mark;     // byte-order mark 0x484C
    uint16_t version;  // 1
    uint32_t columns;  // points per frame
    uint32_t rows;     // frames
};

struct P2dInfo {
    double scale;        // length units per pixel
    int32_t yDirection;  // +1 or -1
    char unit[12];       // UTF-8, NUL-terminated within the 12 bytes
};

struct P2dPoint {
    double x;
    double y;
};

static_assert(sizeof(P2dHeader) == 16, "track file header is 16 bytes");
static_assert(sizeof(P2dInfo) == 24, "track file calibration block is 24 bytes");
static_assert(sizeof(P2dPoint) == 16, "track file point is 16 bytes");

constexpr uint16_t kP2dMark = 0x484C;
constexpr uint32_t kP2dMagic = 0x00443250;  // "P2D\0" read little-endian

enum P2dError : uint32_t {
    kP2dNone = 0,
    kP2dIo = 1,
    kP2dNoMemory = 2,
    kP2dNotTrackFile = 3,
    kP2dVersion = 4,
    kP2dNothingToSave = 5,
    kP2dBadArgument = 6,
};

// Code of the last failure of the file routines (0 none).
extern int32_t g_P2dLastError;

// A point is present when both coordinates are finite and not negative;
// (-1, -1) marks no point.
bool P2dPointPresent(const P2dPoint& point);

// The unit text of a calibration block, never reading past its 12 bytes.
std::string P2dUnitText(const P2dInfo& info);
// Stores at most 11 bytes of `utf8`, cut before a character that would not
// fit whole, and zeroes the rest.
void P2dSetUnitText(P2dInfo* info, const char* utf8);

int32_t P2dReadHeader(FILE* file, P2dHeader* header);
int32_t P2dWriteHeader(FILE* file, const P2dHeader* header);
int32_t P2dReadInfo(FILE* file, P2dInfo* info, uint16_t mark);
int32_t P2dWriteInfo(FILE* file, const P2dInfo* info);
int32_t P2dReadPoints(FILE* file, uint64_t count, P2dPoint* points, uint16_t mark);
int32_t P2dWritePoints(FILE* file, uint64_t count, const P2dPoint* points);

class CP2dData {
public:
    CP2dData();
    CP2dData(const CP2dData&) = delete;
    CP2dData& operator=(const CP2dData&) = delete;
    virtual ~CP2dData();

    uint32_t error = 0;
    P2dHeader header{};
    P2dInfo info{};
    // rows x columns records, frame-major; null unless both counts are > 0.
    P2dPoint* points = nullptr;

    void Reset();
    int32_t Create(uint32_t columns, uint32_t rows);
    int32_t AddColumn();
    int32_t SetRows(uint32_t rows);
    int32_t RemoveColumn(uint32_t index);
    // Removes columns 0 ... count - 1 (all there are when fewer) in one
    // pass over the records, in place; always 1.
    int32_t RemoveLeadingColumns(uint32_t count);
    int32_t GetPoint(uint32_t frame, uint32_t column, P2dPoint* point);
    int32_t SetPoint(uint32_t frame, uint32_t column, const P2dPoint& point);
    int32_t Load(const char* path);
    int32_t Save(const char* path);

    uint32_t Columns() const { return header.columns; }
    uint32_t Rows() const { return header.rows; }

private:
    void FreePoints();
};
