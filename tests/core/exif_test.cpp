// EXIF reader: blocks built here field by field (both byte orders, every
// type, the five directories, the maker-note layouts), JPEGs and TIFFs
// written by exiftool and read back against exiftool's and libexif's own
// listing, the TIFF route, and damaged input of every kind.
#include "isexif.h"
#include "isframe.h"
#include "testutil.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace vstest;
using namespace CISEXIFData;

namespace {

// ---- a small EXIF / TIFF builder --------------------------------------------

void PutN(Bytes& b, uint64_t v, uint32_t n, bool motorola) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t shift = 8 * (motorola ? n - 1 - i : i);
        b.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void SetN(Bytes& b, size_t at, uint64_t v, uint32_t n, bool motorola) {
    for (uint32_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (motorola ? n - 1 - i : i)));
}

enum Link { kNoLink = 0, kLinkExif, kLinkInterop, kLinkGps, kLinkThumbOffset, kLinkThumbLength };

// One IFD entry. Values are words of wordSize bytes written in the block's
// byte order; gen makes out-of-line data that depends on where it lands.
struct TEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    std::vector<uint64_t> words;
    uint32_t wordSize = 1;
    bool fixedField = false;  // write `field` as the value field, as is
    uint32_t field = 0;
    Link link = kNoLink;
    std::function<Bytes(uint32_t tiffOffset, bool motorola)> gen;
};

TEntry Words(uint16_t tag, uint16_t type, uint32_t wordSize, std::vector<uint64_t> words, uint32_t perValue = 1) {
    TEntry e;
    e.tag = tag;
    e.type = type;
    e.wordSize = wordSize;
    e.count = static_cast<uint32_t>(words.size() / perValue);
    e.words = std::move(words);
    return e;
}
TEntry Byte(uint16_t tag, std::vector<uint64_t> v) { return Words(tag, kTypeByte, 1, std::move(v)); }
TEntry SByte(uint16_t tag, std::vector<int64_t> v) {
    std::vector<uint64_t> w(v.begin(), v.end());
    return Words(tag, kTypeSByte, 1, w);
}
TEntry Short(uint16_t tag, std::vector<uint64_t> v) { return Words(tag, kTypeShort, 2, std::move(v)); }
TEntry SShort(uint16_t tag, std::vector<int64_t> v) {
    std::vector<uint64_t> w(v.begin(), v.end());
    return Words(tag, kTypeSShort, 2, w);
}
TEntry Long(uint16_t tag, std::vector<uint64_t> v) { return Words(tag, kTypeLong, 4, std::move(v)); }
TEntry SLong(uint16_t tag, std::vector<int64_t> v) {
    std::vector<uint64_t> w(v.begin(), v.end());
    return Words(tag, kTypeSLong, 4, w);
}
TEntry Rat(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> v) {
    std::vector<uint64_t> w;
    for (auto& p : v) {
        w.push_back(p.first);
        w.push_back(p.second);
    }
    return Words(tag, kTypeRational, 4, w, 2);
}
TEntry SRat(uint16_t tag, std::vector<std::pair<int32_t, int32_t>> v) {
    std::vector<uint64_t> w;
    for (auto& p : v) {
        w.push_back(static_cast<uint32_t>(p.first));
        w.push_back(static_cast<uint32_t>(p.second));
    }
    return Words(tag, kTypeSRational, 4, w, 2);
}
TEntry Float(uint16_t tag, std::vector<float> v) {
    std::vector<uint64_t> w;
    for (float f : v) {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        w.push_back(bits);
    }
    return Words(tag, kTypeFloat, 4, w);
}
TEntry Double(uint16_t tag, std::vector<double> v) {
    std::vector<uint64_t> w;
    for (double d : v) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        w.push_back(bits);
    }
    return Words(tag, kTypeDouble, 8, w);
}
TEntry Bytes7(uint16_t tag, uint16_t type, const Bytes& b) {
    std::vector<uint64_t> w(b.begin(), b.end());
    return Words(tag, type, 1, w);
}
TEntry Undef(uint16_t tag, const Bytes& b) { return Bytes7(tag, kTypeUndefined, b); }
TEntry Ascii(uint16_t tag, const std::string& s, bool terminate = true) {
    Bytes b(s.begin(), s.end());
    if (terminate) b.push_back(0);
    return Bytes7(tag, kTypeAscii, b);
}
// An entry whose four fields are given as they are to be stored.
TEntry RawEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    TEntry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    e.fixedField = true;
    e.field = field;
    return e;
}

using Ifd = std::vector<TEntry>;

struct ExifLayout {
    bool motorola = false;
    Ifd ifd0, exif, interop, gps, ifd1;
    Bytes thumbnail;
    bool linkIfd1 = true;
    size_t padTo = 0;  // final TIFF size, filled with 0xEE
};

Bytes EntryData(const TEntry& e, uint32_t at, bool motorola) {
    if (e.gen) return e.gen(at, motorola);
    Bytes b;
    for (uint64_t w : e.words) PutN(b, w, e.wordSize, motorola);
    return b;
}

// The TIFF structure, from the TIFF header on: IFD0, exifIFD, Interop, GPS,
// IFD1, each followed by its out-of-line values, then the thumbnail.
Bytes BuildTiff(ExifLayout s) {
    const bool mm = s.motorola;
    auto link = [](uint16_t tag, Link l) {
        TEntry e = Long(tag, {0});
        e.link = l;
        return e;
    };
    if (!s.exif.empty() || !s.interop.empty()) s.ifd0.push_back(link(0x8769, kLinkExif));
    if (!s.gps.empty()) s.ifd0.push_back(link(0x8825, kLinkGps));
    if (!s.interop.empty()) s.exif.push_back(link(0xA005, kLinkInterop));
    if (!s.thumbnail.empty()) {
        s.ifd1.push_back(link(0x0201, kLinkThumbOffset));
        s.ifd1.push_back(link(0x0202, kLinkThumbLength));
    }
    Ifd* order[5] = {&s.ifd0, &s.exif, &s.interop, &s.gps, &s.ifd1};
    uint32_t at[5] = {};
    uint32_t pos = 8;
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && order[i]->empty()) continue;
        at[i] = pos;
        pos += 2 + 12 * static_cast<uint32_t>(order[i]->size()) + 4;
        for (const TEntry& e : *order[i]) {
            if (e.fixedField) continue;
            const uint32_t n = static_cast<uint32_t>(EntryData(e, 0, mm).size());
            if (n > 4) pos += n + (n & 1);
        }
    }
    const uint32_t thumbAt = pos;

    Bytes t;
    t.push_back(mm ? 'M' : 'I');
    t.push_back(mm ? 'M' : 'I');
    PutN(t, 42, 2, mm);
    PutN(t, 8, 4, mm);
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && order[i]->empty()) continue;
        EXPECT_EQ(t.size(), at[i]);
        const Ifd& ifd = *order[i];
        PutN(t, ifd.size(), 2, mm);
        uint32_t data = at[i] + 2 + 12 * static_cast<uint32_t>(ifd.size()) + 4;
        Bytes tail;
        for (const TEntry& e : ifd) {
            PutN(t, e.tag, 2, mm);
            PutN(t, e.type, 2, mm);
            PutN(t, e.count, 4, mm);
            if (e.fixedField) {
                PutN(t, e.field, 4, mm);
                continue;
            }
            uint32_t value = 0;
            switch (e.link) {
                case kLinkExif: value = at[1]; break;
                case kLinkInterop: value = at[2]; break;
                case kLinkGps: value = at[3]; break;
                case kLinkThumbOffset: value = thumbAt; break;
                case kLinkThumbLength: value = static_cast<uint32_t>(s.thumbnail.size()); break;
                default: break;
            }
            if (e.link != kNoLink) {
                PutN(t, value, 4, mm);
                continue;
            }
            Bytes d = EntryData(e, data, mm);
            if (d.size() <= 4) {
                d.resize(4, 0);
                t.insert(t.end(), d.begin(), d.end());
            } else {
                PutN(t, data, 4, mm);
                if (d.size() & 1) d.push_back(0);
                data += static_cast<uint32_t>(d.size());
                tail.insert(tail.end(), d.begin(), d.end());
            }
        }
        PutN(t, i == 0 && s.linkIfd1 && !s.ifd1.empty() ? at[4] : 0, 4, mm);
        t.insert(t.end(), tail.begin(), tail.end());
    }
    EXPECT_EQ(t.size(), thumbAt);
    t.insert(t.end(), s.thumbnail.begin(), s.thumbnail.end());
    if (s.padTo > t.size()) t.resize(s.padTo, 0xEE);
    return t;
}

const Bytes kExifHead = {'E', 'x', 'i', 'f', 0, 0};

// An APP1 payload: "Exif", two zero bytes, the TIFF structure.
Bytes App1Payload(const Bytes& tiff) {
    Bytes p = kExifHead;
    p.insert(p.end(), tiff.begin(), tiff.end());
    return p;
}

// The block as the parser sees it: a 4-byte lead in front of the payload.
Bytes Block(const Bytes& tiff) {
    Bytes p = App1Payload(tiff);
    Bytes b = {0xFF, 0xE1, static_cast<uint8_t>((p.size() + 2) >> 8), static_cast<uint8_t>(p.size() + 2)};
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

Bytes Block(const ExifLayout& s) { return Block(BuildTiff(s)); }

// A maker note: header, an IFD at ifdAt (from the note's start), its
// out-of-line values counted from the note's start or from the TIFF header.
Bytes MakerNote(const Bytes& header, uint32_t ifdAt, const Ifd& entries, bool motorola, uint32_t noteAt,
                bool offsetsFromNote) {
    Bytes n = header;
    n.resize(ifdAt, 0);
    PutN(n, entries.size(), 2, motorola);
    uint32_t data = ifdAt + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    Bytes tail;
    for (const TEntry& e : entries) {
        PutN(n, e.tag, 2, motorola);
        PutN(n, e.type, 2, motorola);
        PutN(n, e.count, 4, motorola);
        if (e.fixedField) {
            PutN(n, e.field, 4, motorola);
            continue;
        }
        Bytes d = EntryData(e, 0, motorola);
        if (d.size() <= 4) {
            d.resize(4, 0);
            n.insert(n.end(), d.begin(), d.end());
        } else {
            PutN(n, offsetsFromNote ? data : noteAt + data, 4, motorola);
            data += static_cast<uint32_t>(d.size());
            tail.insert(tail.end(), d.begin(), d.end());
        }
    }
    PutN(n, 0, 4, motorola);
    n.insert(n.end(), tail.begin(), tail.end());
    return n;
}

// The MakerNote entry of exifIFD for a note made by MakerNote().
TEntry NoteEntry(const Bytes& header, uint32_t ifdAt, const Ifd& entries, bool noteMotorola, bool followBlock,
                 bool offsetsFromNote) {
    TEntry e;
    e.tag = 0x927C;
    e.type = kTypeUndefined;
    e.count = static_cast<uint32_t>(MakerNote(header, ifdAt, entries, noteMotorola, 0, offsetsFromNote).size());
    e.gen = [=](uint32_t at, bool blockMotorola) {
        return MakerNote(header, ifdAt, entries, followBlock ? blockMotorola : noteMotorola, at, offsetsFromNote);
    };
    return e;
}

// ---- reading helpers ---------------------------------------------------------

struct Reader {
    ISEXIFREADER r = nullptr;
    uint32_t error = 0;
    Reader() = default;
    Reader(ISEXIFREADER reader, uint32_t e) : r(reader), error(e) {}
    ~Reader() { IS40_EXIFDestroyReader(r); }
    Reader(Reader&& o) noexcept : r(o.r), error(o.error) { o.r = nullptr; }
    Reader& operator=(Reader&& o) noexcept {
        std::swap(r, o.r);
        error = o.error;
        return *this;
    }
    explicit operator bool() const { return r != nullptr; }
    const CISEXIFReader* Get() const { return ISEXIFReaderFrom(r); }
    const TagList& List(uint32_t i) const { return Get()->Lists()[i]; }
};

Reader FromBytes(const Bytes& data, uint32_t flags, uint32_t page = 0) {
    ISHANDLE h = IS40_OpenMemorySource(data.data(), static_cast<uint32_t>(data.size()));
    if (!h) return Reader(nullptr, IS40_GetLastError());
    ISEXIFREADER r = IS40_EXIFCreateReader(h, page, flags);
    const uint32_t error = IS40_GetLastError();
    IS40_CloseSource(h);
    return Reader(r, error);
}

Reader FromFile(const std::string& path, uint32_t flags, uint32_t page = 0) {
    ISHANDLE h = IS40_OpenFileSource(path.c_str());
    if (!h) return Reader(nullptr, IS40_GetLastError());
    ISEXIFREADER r = IS40_EXIFCreateReader(h, page, flags);
    const uint32_t error = IS40_GetLastError();
    IS40_CloseSource(h);
    return Reader(r, error);
}

Reader Raw(const Bytes& block, uint32_t flags = 0) { return FromBytes(block, flags | IS_EXIF_RAW); }

const char kNone[] = "<none>";

// The value text of a tag through the entry point, or "<none>".
std::string Text(const Reader& r, uint32_t id, uint32_t mask = IS_EXIF_LIST_STANDARD) {
    char* text = nullptr;
    uint32_t length = 99;
    if (!IS40_EXIFGetString(r.r, id, mask, &text, &length)) return "<failed>";
    if (!text) {
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(IS40_GetLastError(), 57u);
        return kNone;
    }
    std::string s(text, length);
    EXPECT_EQ(std::strlen(text), length);
    IS40_GlobalFree(text);
    return s;
}

Bytes Thumb(const Reader& r) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!IS40_EXIFGetThumbnail(r.r, &data, &length)) return {};
    return Bytes(data, data + length);
}

// A tag of one list, checked to exist.
const CEXIFTagBase* TagIn(const Reader& r, uint32_t list, uint16_t id) {
    const CEXIFTagBase* t = FindTag(r.List(list), id);
    EXPECT_NE(t, nullptr) << ISEXIFListName(list) << " lacks " << std::hex << id;
    return t;
}

Bytes SmallJpeg(uint32_t w, uint32_t h, uint32_t seed = 3, const std::string& name = "base.jpg") {
    const Bytes px = Pattern(w, h, 3, seed);
    return WriteToBytes(name, [&](ISHANDLE d) { return IS40_WriteJPG(d, px.data(), w, h, 24, w * 3, 80, nullptr, 0); });
}

// The JPEG with the segments (marker, payload) put right after SOI.
Bytes WithSegments(const Bytes& jpeg, const std::vector<std::pair<uint8_t, Bytes>>& segments) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const auto& s : segments) {
        out.push_back(0xFF);
        out.push_back(s.first);
        PutN(out, s.second.size() + 2, 2, true);
        out.insert(out.end(), s.second.begin(), s.second.end());
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

Bytes JpegWithExif(const ExifLayout& s) { return WithSegments(SmallJpeg(16, 8), {{0xE1, App1Payload(BuildTiff(s))}}); }

Bytes FakeThumbnail(size_t n, uint32_t seed = 5) {
    Bytes b = Pattern(static_cast<uint32_t>(n), 1, 1, seed);
    if (n >= 4) {
        b[0] = 0xFF, b[1] = 0xD8, b[n - 2] = 0xFF, b[n - 1] = 0xD9;
    }
    return b;
}

// A camera-like set of directories.
ExifLayout CameraLayout(bool motorola, const Bytes& thumbnail) {
    ExifLayout s;
    s.motorola = motorola;
    s.ifd0 = {Ascii(0x010F, "Canon"), Ascii(0x0110, "Canon EOS 5D"), Short(0x0112, {6}),
              Rat(0x011A, {{72, 1}}),  Rat(0x011B, {{72, 1}}),         Short(0x0128, {2}),
              Ascii(0x0131, "Firmware 1.1.1"), Ascii(0x0132, "2021:03:04 05:06:07"), Short(0x0213, {2})};
    Ifd canon = {Short(0x0001, {92, 2, 0, 4}), Ascii(0x0006, "IMG:EOS 5D JPEG"), Ascii(0x0007, "Firmware 1.1.1"),
                 Long(0x0008, {1234567}), Undef(0x000F, {1, 2, 3, 4, 5, 6})};
    s.exif = {Rat(0x829A, {{1, 125}}), Rat(0x829D, {{28, 10}}), Short(0x8822, {2}), Short(0x8827, {400}),
              Undef(0x9000, {'0', '2', '2', '1'}), Ascii(0x9003, "2021:03:04 05:06:07"),
              SRat(0x9201, {{-7, 3}}), SRat(0x9204, {{-2, 3}}), Short(0x9207, {5}), Short(0x9209, {16}),
              Rat(0x920A, {{850, 10}}), NoteEntry({}, 0, canon, false, true, false),
              Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'}), Undef(0xA000, {'0', '1', '0', '0'}),
              Short(0xA001, {1}), Long(0xA002, {4368}), Short(0xA003, {2912}), Undef(0xA300, {3}),
              Undef(0xA301, {1})};
    s.interop = {Ascii(0x0001, "R98"), Undef(0x0002, {'0', '1', '0', '0'})};
    s.gps = {Byte(0x0000, {2, 2, 0, 0}), Ascii(0x0001, "N"), Rat(0x0002, {{51, 1}, {30, 1}, {1234, 100}}),
             Ascii(0x0003, "W"), Rat(0x0004, {{0, 1}, {7, 1}, {3999, 100}}), Byte(0x0005, {0}),
             Rat(0x0006, {{123, 10}})};
    s.ifd1 = {Short(0x0103, {6}), Rat(0x011A, {{72, 1}}), Rat(0x011B, {{72, 1}}), Short(0x0128, {2})};
    s.thumbnail = thumbnail;
    return s;
}

}  // namespace

// ---- tag names and value texts -------------------------------------------------

TEST(ExifTagNames, TablesAndFallbacks) {
    EXPECT_EQ(TagName(0x0112, kNoteNone), "Orientation");
    EXPECT_EQ(TagName(0x1234, kNoteNone), "unknown tag (0x1234)");
    EXPECT_EQ(TagName(0x0012, kNoteNone), "unknown tag (0x12)");
    EXPECT_EQ(TagName(0x0117, kNoteNone), "StripByteConunts");
    EXPECT_EQ(TagName(0x0008, kNoteNone), "GPS Sattelites");
    EXPECT_EQ(TagName(0xA20B, kNoteNone), "FlashEnergy");
    EXPECT_EQ(TagName(0x920B, kNoteNone), "FlashEnergy");
    EXPECT_EQ(TagName(0x0001, kNoteCasio), "RecordingMode");
    EXPECT_EQ(TagName(0x0099, kNoteCanon), "Canon Unknown 153");
    EXPECT_EQ(TagName(0x0099, kNoteNikonHeader), "");
    EXPECT_EQ(TagName(0x0099, kNoteNikonPlain), "");
    EXPECT_EQ(TagName(0x0002, kNoteNikonPlain), "ISO Setting");
    EXPECT_EQ(TagName(0x000B, kNoteNikonHeader), "Converter");
    EXPECT_EQ(TagName(0x1100, kNoteFujifilm), "ContTake/Bracket");
    EXPECT_EQ(TagName(0x0005, kNoteFujifilm), "Fuji Unknown 5");
    EXPECT_EQ(TagName(0x1006, kNoteOlympus), "Bracket Bias");
    EXPECT_EQ(TagName(0x0001, kNoteOlympus), "Olympus Unknown 1");
    EXPECT_EQ(TagName(0x0014, kNoteCasio), "CCD Sensitivity");
    EXPECT_EQ(TagName(0x0099, kNoteCasio), "Casio Unknown 153");
    // Kinds without a table name every id the same way.
    EXPECT_EQ(TagName(0x0003, kNoteNikonMM), "unknown tag ( 0x3)");
    EXPECT_EQ(TagName(0x0003, kNoteNikonII), TagName(0x0003, 99));
    EXPECT_EQ(TagName(0x0112, kNoteNikonMM), "unknown tag (0x112)");
}

TEST(ExifTagNames, TiffFieldTable) {
    // Rows of the TIFF route carry the standard names, but for two ids.
    std::map<uint16_t, int> seen;
    for (const CISEXIFField& f : kISEXIFFields) {
        ++seen[f.tagId];
        if (f.tagId == 0x014A) EXPECT_STREQ(f.name, "SubIFDs");
        else if (f.tagId == 0x8825) EXPECT_STREQ(f.name, "GPSInfo");
        else EXPECT_EQ(TagName(f.tagId, kNoteNone), f.name) << std::hex << f.tagId;
    }
    EXPECT_EQ(seen.count(0x0000), 0u);
    // Seven ids have a LONG row first and a SHORT row after it.
    int twice = 0;
    for (const auto& s : seen) {
        if (s.second != 2) continue;
        ++twice;
        for (const CISEXIFField& f : kISEXIFFields) {
            if (f.tagId == s.first) {
                EXPECT_EQ(f.typeCode, kTypeLong) << std::hex << s.first;
                break;
            }
        }
    }
    EXPECT_EQ(twice, 7);
}

TEST(ExifValueText, EveryTypeInBothByteOrders) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "Motorola" : "Intel");
        ExifLayout s;
        s.motorola = mm;
        s.ifd0 = {Byte(0x1001, {0, 15, 16, 255}),
                  Byte(0x1002, {7}),
                  SByte(0x1003, {-3}),
                  SByte(0x1004, {-128, 127, 0, -1, 5}),
                  Short(0x1005, {6}),
                  Short(0x1006, {65535, 1, 2}),
                  SShort(0x1007, {-300}),
                  SShort(0x1008, {-1, 2, -32768}),
                  Long(0x1009, {1, 2}),
                  Long(0x100A, {4294967295u}),
                  Long(0x100B, {4000}),
                  SLong(0x100C, {-1}),
                  SLong(0x100D, {-5, 2147483647}),
                  Rat(0x100E, {{10, 1600}}),
                  Rat(0x100F, {{4294967295u, 0}, {1, 3}}),
                  SRat(0x1010, {{-2, 3}}),
                  Float(0x1011, {2.5f}),
                  Float(0x1012, {1.0f, -0.25f}),
                  Double(0x1013, {0.125}),
                  Ascii(0x1014, "Canon"),
                  Ascii(0x1015, "AB"),
                  Ascii(0x1016, "no terminator", false),
                  Bytes7(0x1017, kTypeAscii, {'N', 'I', 'K', 'O', 'N', ' ', 'C', 'O', 'R', 'P', 'O', 'R', 'A', 'T',
                                              'I', 'O', 'N', 0, ' ', ' ', 'x', 0}),
                  Short(0x1018, {})};
        Reader r = Raw(Block(s));
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        const std::map<uint32_t, std::string> want = {
            {0x1001, "x00, x0f, x10, xff"}, {0x1002, "x07"},        {0x1003, "-3"},
            {0x1004, "-128, 127, 0, -1, 5"}, {0x1005, "6"},          {0x1006, "65535, 1, 2"},
            {0x1007, "-300"},               {0x1008, "-1, 2, -32768"}, {0x1009, "1, 2"},
            {0x100A, "-1"},                 {0x100B, "4000"},        {0x100C, "-1"},
            {0x100D, "-5, 2147483647"},     {0x100E, "10/1600"},     {0x100F, "4294967295/0, 1/3"},
            {0x1010, "-2/3"},               {0x1011, "2.5000"},      {0x1012, "1.0000, -0.2500"},
            {0x1013, "0.1250"},             {0x1014, "Canon"},       {0x1015, "AB"},
            {0x1016, "no terminator"},      {0x1017, "NIKON CORPORATION"}, {0x1018, ""}};
        for (const auto& w : want) EXPECT_EQ(Text(r, w.first), w.second) << std::hex << w.first;

        const std::map<uint16_t, const char*> types = {
            {0x1001, "U8"}, {0x1003, "I8"}, {0x1005, "U16"}, {0x1007, "I16"}, {0x1009, "U32"}, {0x100C, "I32"},
            {0x100E, "UR"}, {0x1010, "SR"}, {0x1011, "R4"},  {0x1013, "R8"},  {0x1014, "A"}};
        for (const auto& t : types) {
            const CEXIFTagBase* tag = TagIn(r, kEXIFListIFD0, t.first);
            ASSERT_NE(tag, nullptr);
            EXPECT_STREQ(tag->typeName, t.second);
            EXPECT_EQ(tag->motorola, mm ? 1 : 0);
            EXPECT_EQ(tag->tiffRoute, 0);
            EXPECT_EQ(tag->basePosition, 10u);
        }
        // Declared counts are kept; an empty SHORT gives a found, empty text.
        EXPECT_EQ(TagIn(r, kEXIFListIFD0, 0x1017)->count, 22u);
        EXPECT_EQ(TagIn(r, kEXIFListIFD0, 0x100F)->count, 2u);
        char* text = nullptr;
        uint32_t length = 7;
        ASSERT_TRUE(IS40_EXIFGetString(r.r, 0x1018, 1, &text, &length));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(text[0], '\0');
        EXPECT_EQ(IS40_GetLastError(), 0u);
        IS40_GlobalFree(text);
        // The entry's position and value field as stored.
        const CEXIFTagBase* first = r.List(kEXIFListIFD0)[0].get();
        EXPECT_EQ(first->entryPosition, 10u + 8 + 2);
        EXPECT_EQ(first->valueField, mm ? 0x000F10FFu : 0xFF100F00u);
    }
}

TEST(ExifValueText, ShortsInMotorolaOrderComeFromTheFieldStart) {
    // The value field holds 00 07 00 09: one SHORT is 7, two are 7 and 9.
    for (uint32_t count : {1u, 2u}) {
        ExifLayout s;
        s.motorola = true;
        s.ifd0 = {RawEntry(0x0112, kTypeShort, count, 0x00070009)};
        Reader r = Raw(Block(s));
        ASSERT_TRUE(r);
        EXPECT_EQ(Text(r, 274), count == 1 ? "7" : "7, 9");
    }
}

TEST(ExifValueText, UndefinedTagsOfTheStandardDirectories) {
    ExifLayout s;
    s.exif = {Undef(0x9000, {'0', '2', '3', '0'}), Undef(0xA000, {'0', '1', '0', '0'}), Undef(0xA300, {3}),
              Undef(0xA301, {1}), Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'o', 'k'}),
              Undef(0x927C, {1, 2, 3, 4, 5, 6, 7, 8}), Undef(0x9101, {1, 2, 3, 0}), Undef(0xA302, {9, 9})};
    s.interop = {Undef(0x0002, {'0', '1', '0', '0'})};
    Reader r = Raw(Block(s));
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x9000), "x30, x32, x33, x30");
    EXPECT_EQ(Text(r, 0xA000), "x30, x31, x30, x30");
    EXPECT_EQ(Text(r, 0xA300), "x03");
    EXPECT_EQ(Text(r, 0xA301), "x01");
    EXPECT_EQ(Text(r, 0x0002, IS_EXIF_LIST_INTEROP), "x30, x31, x30, x30");
    EXPECT_EQ(Text(r, 0x9286), "x41, x53, x43, x49, x49, x00, x00, x00, x6f, x6b");
    const std::string unknown = "x55, x6e, x6b, x6e, x6f, x77, x6e, x20, x46, x6f, x72, x6d, x61, x74";
    EXPECT_EQ(Text(r, 0x927C), unknown);
    EXPECT_EQ(Text(r, 0x9101), unknown);
    EXPECT_EQ(Text(r, 0xA302), unknown);
    EXPECT_EQ(TagIn(r, kEXIFListExif, 0x927C)->count, 8u);
}

// ---- parsing: structure, bounds, damaged directories ---------------------------------

TEST(ExifParse, HeaderChecks) {
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {3})};
    const Bytes good = Block(s);
    ASSERT_TRUE(Raw(good));

    Bytes b = good;
    b[10] = 'M', b[11] = 'X';
    Reader r = Raw(b);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 0u);

    // 42 written the other way round is still accepted.
    b = good;
    b[12] = 0x00, b[13] = 0x2A;
    EXPECT_EQ(Text(Raw(b), 274), "3");
    b[12] = 0x2B;
    EXPECT_FALSE(Raw(b));

    b = good;
    b[4] = 'e';
    EXPECT_FALSE(Raw(b));

    // Motorola mark with 2A 00 (Intel-style) is accepted too.
    ExifLayout m = s;
    m.motorola = true;
    b = Block(m);
    b[12] = 0x2A, b[13] = 0x00;
    EXPECT_EQ(Text(Raw(b), 274), "3");

    // Too short to hold anything, and an IFD0 offset outside the block.
    for (size_t n : {1u, 9u, 10u, 11u, 13u, 17u}) EXPECT_FALSE(Raw(Bytes(good.begin(), good.begin() + n))) << n;
    b = good;
    SetN(b, 14, 0xFFFFFFF0u, 4, false);
    EXPECT_FALSE(Raw(b));
}

TEST(ExifParse, FieldsEndingAtTheBlockEndAreRead) {
    // IFD0's next-IFD offset is the block's last four bytes.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {8})};
    const Bytes b = Block(s);
    ASSERT_EQ(b.size(), 10u + 8 + 2 + 12 + 4);
    Reader r = Raw(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "8");
    // One byte less cuts the field: the block is rejected.
    EXPECT_FALSE(Raw(Bytes(b.begin(), b.end() - 1)));
}

TEST(ExifParse, DuplicatesAndFirstMatch) {
    ExifLayout s;
    s.ifd0 = {Ascii(0x010F, "First"), Ascii(0x010F, "Second"), Short(0x0112, {1})};
    s.ifd1 = {Short(0x0112, {3}), Short(0x0100, {160})};
    Reader r = Raw(Block(s));
    ASSERT_TRUE(r);
    EXPECT_EQ(r.List(kEXIFListIFD0).size(), 3u);
    EXPECT_EQ(Text(r, 0x010F), "First");
    EXPECT_EQ(Text(r, 274), "1");
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_IFD1), "3");
    EXPECT_EQ(Text(r, 256), "160");
    EXPECT_EQ(Text(r, 256, IS_EXIF_LIST_IFD0), kNone);
    EXPECT_EQ(Text(r, 274, 0), kNone);
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_MAKER_NOTE), kNone);
    EXPECT_EQ(Text(r, 0x10112), kNone);
}

TEST(ExifParse, EntriesThatMakeNoTag) {
    ExifLayout s;
    s.ifd0 = {Short(0x0100, {1}),
              RawEntry(0x0101, kTypeLong, 0x7FFFFFFF, 8),    // count beyond the block
              RawEntry(0x0102, kTypeLong, 0x80000001, 8),    // negative count
              RawEntry(0x0103, 13, 1, 5),                    // type 13
              RawEntry(0x0104, 0, 1, 5),                     // type 0
              RawEntry(0x0105, kTypeRational, 2, 0xFFFFFFF8), // offset + size wraps 32 bits
              RawEntry(0x0106, kTypeDouble, 20, 0x100),      // data past the end
              RawEntry(0x0107, kTypeAscii, 40, 8),           // ends one byte after the block
              RawEntry(0x0108, kTypeUndefined, 20, 0xFFFFFFFF),
              Short(0x0112, {5})};
    Bytes b = Block(s);
    // 0x0107's text would end exactly one byte past the block.
    const uint32_t tiffLen = static_cast<uint32_t>(b.size() - 10);
    Bytes adjusted = b;
    const size_t entry7 = 10 + 8 + 2 + 12 * 7;
    SetN(adjusted, entry7 + 8, tiffLen - 39, 4, false);
    Reader r = Raw(adjusted);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x0100), "1");
    for (uint32_t id = 0x0101; id <= 0x0108; ++id) EXPECT_EQ(Text(r, id), kNone) << std::hex << id;
    EXPECT_EQ(Text(r, 274), "5");
    EXPECT_EQ(r.List(kEXIFListIFD0).size(), 2u);

    // The same text ending exactly at the block's end is kept.
    SetN(adjusted, entry7 + 8, tiffLen - 40, 4, false);
    Reader ok = Raw(adjusted);
    ASSERT_TRUE(ok);
    EXPECT_NE(Text(ok, 0x0107), kNone);
}

TEST(ExifParse, DamagedDirectoriesLoseOnlyThemselves) {
    const ExifLayout base = CameraLayout(false, FakeThumbnail(300));
    const Bytes tiff = BuildTiff(base);
    auto ifd0Entry = [&](uint16_t id) {
        const uint32_t n = static_cast<uint32_t>(tiff[8] | (tiff[9] << 8));
        for (uint32_t i = 0; i < n; ++i) {
            const size_t at = 10 + 12 * i;
            if ((tiff[at] | (tiff[at + 1] << 8)) == id) return at;
        }
        ADD_FAILURE() << "no entry " << id;
        return size_t(0);
    };
    // exifIFD pointer beyond the block: exifIFD and Interop are gone.
    Bytes t = tiff;
    SetN(t, ifd0Entry(0x8769) + 8, static_cast<uint32_t>(t.size() + 100), 4, false);
    Reader r = Raw(Block(t), IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r.List(kEXIFListExif).empty());
    EXPECT_TRUE(r.List(kEXIFListInterop).empty());
    EXPECT_FALSE(r.List(kEXIFListGPS).empty());
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Thumb(r).size(), 300u);

    // GPS pointer at the last byte: its count is unreadable.
    t = tiff;
    SetN(t, ifd0Entry(0x8825) + 8, static_cast<uint32_t>(t.size() - 1), 4, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_TRUE(r.List(kEXIFListGPS).empty());
    EXPECT_FALSE(r.List(kEXIFListExif).empty());

    // An exifIFD whose count runs past the block keeps the entries before.
    t = tiff;
    const uint32_t exifAt = static_cast<uint32_t>(t[ifd0Entry(0x8769) + 8] | (t[ifd0Entry(0x8769) + 9] << 8));
    SetN(t, exifAt, 60000, 2, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_GE(r.List(kEXIFListExif).size(), base.exif.size());
    EXPECT_EQ(Text(r, 0x829A), "1/125");

    // IFD1 pointing back at IFD0, exifIFD pointing at IFD0: read once each,
    // nothing followed further.
    t = tiff;
    const size_t next0 = 10 + 12 * (tiff[8] | (tiff[9] << 8));
    SetN(t, next0, 8, 4, false);
    SetN(t, ifd0Entry(0x8769) + 8, 8, 4, false);
    SetN(t, ifd0Entry(0x8825) + 8, 8, 4, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_EQ(r.List(kEXIFListIFD1).size(), r.List(kEXIFListIFD0).size());
    EXPECT_EQ(r.List(kEXIFListExif).size(), r.List(kEXIFListIFD0).size());
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_IFD1), "6");
}

TEST(ExifParse, TruncatedIfd0RejectsTheBlock) {
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {6}), Short(0x0100, {1}), Short(0x0101, {1})};
    const Bytes b = Block(s);
    // Cut inside the third entry.
    Reader r = Raw(Bytes(b.begin(), b.begin() + 10 + 8 + 2 + 12 * 2 + 6));
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 0u);
}

TEST(ExifParse, RepeatedValuesStayBounded) {
    // 5000 entries all pointing at one 60000-byte region: the values kept
    // stay near the block's size instead of 5000 times it.
    ExifLayout s;
    Ifd many;
    for (int i = 0; i < 5000; ++i) {
        many.push_back(RawEntry(static_cast<uint16_t>(0x2000 + i), kTypeByte, 60000, 0x10000));
    }
    s.ifd0 = many;
    Bytes tiff = BuildTiff(s);
    tiff.resize(0x10000 + 60000, 0x41);
    Reader r = Raw(Block(tiff));
    ASSERT_TRUE(r);
    uint64_t kept = 0;
    for (const auto& t : r.List(kEXIFListIFD0)) kept += t->ValueCount();
    EXPECT_GT(r.List(kEXIFListIFD0).size(), 1u);
    EXPECT_LE(kept, 2u * (tiff.size() + 10) + 65536);
}

// ---- maker notes -----------------------------------------------------------------

namespace {

struct NoteCase {
    const char* make;
    Bytes header;
    uint32_t ifdAt;
    bool noteMotorola;
    bool followBlock;
    bool offsetsFromNote;
    uint32_t kind;
    uint16_t namedId;
    const char* name;
};

std::vector<NoteCase> NoteCases() {
    const Bytes nikon2 = {'N', 'i', 'k', 'o', 'n', 0, 1, 0};
    const Bytes nikonMM = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'M', 'M', 0, '*', 0, 0, 0, 8};
    const Bytes nikonII = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0, 'I', 'I', '*', 0, 8, 0, 0, 0};
    const Bytes fuji = {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 12, 0, 0, 0};
    const Bytes olympus = {'O', 'L', 'Y', 'M', 'P', 0, 1, 0};
    return {
        {"Canon", {}, 0, false, true, false, kNoteCanon, 0x0006, "Image type"},
        {"NIKON", nikon2, 8, false, true, false, kNoteNikonHeader, 0x0003, "Quality"},
        {"NIKON CORPORATION", {}, 0, false, true, false, kNoteNikonPlain, 0x0002, "ISO Setting"},
        {"NIKON CORPORATION", nikonMM, 18, true, false, false, kNoteNikonMM, 0x0002, "unknown tag ( 0x2)"},
        {"NIKON", nikonII, 18, false, false, false, kNoteNikonII, 0x0002, "unknown tag ( 0x2)"},
        {"FUJIFILM", fuji, 12, false, false, true, kNoteFujifilm, 0x1000, "Quality"},
        {"OLYMPUS OPTICAL CO.,LTD", olympus, 8, false, true, false, kNoteOlympus, 0x0201, "JpegQual"},
        {"CASIO", {}, 0, false, true, false, kNoteCasio, 0x0002, "Quality"},
    };
}

ExifLayout NoteLayout(const NoteCase& c, bool blockMotorola) {
    ExifLayout s;
    s.motorola = blockMotorola;
    s.ifd0 = {Ascii(0x010F, c.make), Short(0x0112, {1})};
    Ifd note = {Short(c.namedId, {3}), Ascii(0x0077, "out of line text"), Rat(0x0078, {{5, 7}}),
                Undef(0x0079, {'A', 'B', 0, 'C', 'D', 'E'}), Short(0x007A, {1, 2})};
    s.exif = {Rat(0x829A, {{1, 60}}), NoteEntry(c.header, c.ifdAt, note, c.noteMotorola, c.followBlock,
                                                c.offsetsFromNote)};
    return s;
}

}  // namespace

TEST(ExifMakerNote, EveryLayoutInBothByteOrders) {
    for (const NoteCase& c : NoteCases()) {
        for (bool mm : {false, true}) {
            SCOPED_TRACE(std::string(c.make) + " kind " + std::to_string(c.kind) + (mm ? " MM" : " II"));
            const Bytes block = Block(NoteLayout(c, mm));
            Reader without = Raw(block);
            ASSERT_TRUE(without);
            EXPECT_TRUE(without.List(kEXIFListMakerNote).empty());

            Reader r = Raw(block, IS_EXIF_MAKER_NOTE);
            ASSERT_TRUE(r);
            const TagList& notes = r.List(kEXIFListMakerNote);
            ASSERT_EQ(notes.size(), 5u);
            EXPECT_EQ(notes[0]->name, c.name);
            EXPECT_EQ(Text(r, c.namedId, IS_EXIF_LIST_MAKER_NOTE), "3");
            EXPECT_EQ(Text(r, 0x0078, IS_EXIF_LIST_MAKER_NOTE), "5/7");
            EXPECT_EQ(Text(r, 0x0077, IS_EXIF_LIST_MAKER_NOTE), "out of line text");
            EXPECT_EQ(Text(r, 0x007A, IS_EXIF_LIST_MAKER_NOTE), "1, 2");
            // UNDEFINED in a maker note: a text of the value field's 4 bytes.
            EXPECT_STREQ(notes[3]->typeName, "A");
            const CEXIFTagBase* found = FindTag(notes, 0x0079);
            ASSERT_NE(found, nullptr);
            const Bytes field(block.begin() + found->entryPosition + 8, block.begin() + found->entryPosition + 12);
            const std::string expect(field.begin(), std::find(field.begin(), field.end(), 0));
            EXPECT_EQ(Text(r, 0x0079, IS_EXIF_LIST_MAKER_NOTE), expect);
            const bool noteMM = c.followBlock ? mm : c.noteMotorola;
            EXPECT_EQ(notes[0]->motorola, noteMM ? 1 : 0);
            // The block's byte order comes back for nothing else is read after.
            EXPECT_EQ(r.List(kEXIFListIFD0)[0]->motorola, mm ? 1 : 0);

            const CEXIFTagBase* note = FindTag(r.List(kEXIFListExif), 0x927C);
            ASSERT_NE(note, nullptr);
            const uint32_t noteAt = 10 + note->valueField;
            const uint32_t firstEntry = noteAt + c.ifdAt + 2;
            EXPECT_EQ(notes[0]->entryPosition, firstEntry);
            if (c.kind == kNoteCanon) EXPECT_EQ(notes[0]->basePosition, firstEntry);
            else if (c.kind == kNoteFujifilm) EXPECT_EQ(notes[0]->basePosition, noteAt);
            else EXPECT_EQ(notes[0]->basePosition, 10u);
            // The maker note never hides the standard tags.
            EXPECT_EQ(Text(r, 0x829A), "1/60");
        }
    }
}

TEST(ExifMakerNote, MakeMustMatchExactly) {
    NoteCase c = NoteCases()[0];
    for (const char* make : {"Canon ", "CANON", "Nikon", "FUJI", "Casio"}) {
        c.make = make;
        Reader r = Raw(Block(NoteLayout(c, false)), IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r.List(kEXIFListMakerNote).empty()) << make;
    }
    // The maker note may stand in IFD0 or IFD1 as well.
    ExifLayout s = NoteLayout(NoteCases()[7], false);
    s.ifd1 = {s.exif[1]};
    s.exif.pop_back();
    Reader r = Raw(Block(s), IS_EXIF_MAKER_NOTE);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.List(kEXIFListMakerNote).size(), 5u);
}

TEST(ExifMakerNote, DamagedNotesKeepTheRest) {
    for (const NoteCase& c : NoteCases()) {
        SCOPED_TRACE(c.make);
        const Bytes block = Block(NoteLayout(c, false));
        Reader good = Raw(block, IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(good);
        const CEXIFTagBase* note = FindTag(good.List(kEXIFListExif), 0x927C);
        ASSERT_NE(note, nullptr);
        const size_t noteAt = 10 + note->valueField;
        // Entry count blown up: entries run past the block.
        Bytes b = block;
        const size_t countAt = noteAt + c.ifdAt;
        SetN(b, countAt, 0xFFFF, 2, c.followBlock ? false : c.noteMotorola);
        Reader r = Raw(b, IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_EQ(Text(r, 274), "1");
        EXPECT_EQ(Text(r, 0x829A), "1/60");
        EXPECT_GE(r.List(kEXIFListMakerNote).size(), 5u);
        // Embedded offsets pointing far away.
        if (c.kind == kNoteFujifilm) {
            b = block;
            SetN(b, noteAt + 8, 0xFFFFFFF0u, 4, false);
            r = Raw(b, IS_EXIF_MAKER_NOTE);
            ASSERT_TRUE(r);
            EXPECT_TRUE(r.List(kEXIFListMakerNote).empty());
        }
        if (c.kind == kNoteNikonMM || c.kind == kNoteNikonII) {
            b = block;
            b[noteAt + 11] = 'X';
            r = Raw(b, IS_EXIF_MAKER_NOTE);
            ASSERT_TRUE(r);
            EXPECT_TRUE(r.List(kEXIFListMakerNote).empty());
            b = block;
            SetN(b, noteAt + 14, 0xFFFFFFF0u, 4, c.kind == kNoteNikonMM);
            r = Raw(b, IS_EXIF_MAKER_NOTE);
            ASSERT_TRUE(r);
            EXPECT_TRUE(r.List(kEXIFListMakerNote).empty());
        }
        // A note starting at the block's last byte.
        b = block;
        const CEXIFTagBase* entry = note;
        SetN(b, entry->entryPosition + 8, static_cast<uint32_t>(b.size() - 11), 4, false);
        SetN(b, entry->entryPosition + 4, 4, 4, false);
        r = Raw(b, IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r.List(kEXIFListMakerNote).empty());
    }
}

// ---- thumbnail and orientation --------------------------------------------------------

TEST(ExifThumbnail, OffsetAndLengthFromIfd1) {
    // JpegIFOffset 0x1F4, JpegIFByteCount 4000 in a 12000-byte block.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {1})};
    s.ifd1 = {Long(0x0201, {0x1F4}), Long(0x0202, {4000})};
    Bytes tiff = BuildTiff(s);
    ASSERT_LT(tiff.size(), 0x1F4u);
    tiff.resize(12000 - 10, 0);
    const Bytes thumb = FakeThumbnail(4000);
    std::copy(thumb.begin(), thumb.end(), tiff.begin() + 0x1F4);
    const Bytes block = Block(tiff);
    ASSERT_EQ(block.size(), 12000u);
    Reader r = Raw(block, IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 0u);
    const uint8_t *a = nullptr, *b = nullptr;
    uint32_t la = 0, lb = 0;
    ASSERT_TRUE(IS40_EXIFGetThumbnail(r.r, &a, &la));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    ASSERT_TRUE(IS40_EXIFGetThumbnail(r.r, &b, &lb));
    EXPECT_EQ(a, b);
    ASSERT_EQ(la, 4000u);
    EXPECT_EQ(Bytes(a, a + la), Bytes(block.begin() + 10 + 0x1F4, block.begin() + 10 + 0x1F4 + 4000));
}

TEST(ExifThumbnail, BoundsAndFailures) {
    auto withIfd1 = [](Ifd ifd1, size_t tiffSize) {
        ExifLayout s;
        s.ifd0 = {Short(0x0112, {1})};
        s.ifd1 = std::move(ifd1);
        Bytes tiff = BuildTiff(s);
        tiff.resize(tiffSize, 0x5A);
        return Block(tiff);
    };
    const size_t size = 600;
    const uint32_t blockLen = static_cast<uint32_t>(size + 10);
    struct Case {
        Ifd ifd1;
        bool ok;
        const char* what;
    };
    const std::vector<Case> cases = {
        {{Long(0x0201, {200}), Long(0x0202, {400})}, true, "ends exactly at the block's end"},
        {{Long(0x0201, {200}), Long(0x0202, {401})}, false, "one byte past the end"},
        {{Long(0x0201, {0}), Long(0x0202, {10})}, false, "offset 0"},
        {{Long(0x0201, {200}), Long(0x0202, {0})}, false, "length 0"},
        {{Long(0x0201, {4294967295u}), Long(0x0202, {10})}, false, "offset reads as -1"},
        {{Long(0x0201, {blockLen}), Long(0x0202, {1})}, false, "offset at the block length"},
        {{Long(0x0201, {200}), Long(0x0202, {4294967200u})}, false, "huge length"},
        {{Long(0x0201, {200})}, false, "no length tag"},
        {{Long(0x0202, {100})}, false, "no offset tag"},
        {{Short(0x0201, {200, 7}), Rat(0x0202, {{100, 3}})}, true, "first values, leading numbers"},
        {{Ascii(0x0201, "  +210xyz"), Ascii(0x0202, "12")}, true, "numbers in texts"},
        {{Ascii(0x0201, "abc"), Long(0x0202, {12})}, false, "no number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes block = withIfd1(c.ifd1, size);
        Reader r = Raw(block, IS_EXIF_THUMBNAIL);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, c.ok ? 0u : 65u);
        const Bytes t = Thumb(r);
        EXPECT_EQ(IS40_GetLastError(), c.ok ? 0u : 65u);
        EXPECT_EQ(!t.empty(), c.ok);
    }
    // No IFD1 at all: the reader is still made, with error 65.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {1})};
    s.ifd1 = {Long(0x0201, {8}), Long(0x0202, {8})};
    s.linkIfd1 = false;
    Reader r = Raw(Block(s), IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 65u);
    EXPECT_TRUE(r.List(kEXIFListIFD1).empty());
    const uint8_t* data = reinterpret_cast<const uint8_t*>(1);
    uint32_t length = 5;
    EXPECT_FALSE(IS40_EXIFGetThumbnail(r.r, &data, &length));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(IS40_GetLastError(), 65u);
    // A GetString in between does not change what the thumbnail reports.
    EXPECT_EQ(Text(r, 0x9999), kNone);
    EXPECT_FALSE(IS40_EXIFGetThumbnail(r.r, &data, &length));
    EXPECT_EQ(IS40_GetLastError(), 65u);

    // Without flag 1 nothing is extracted and nothing is wrong.
    Reader plain = Raw(withIfd1({Long(0x0201, {200}), Long(0x0202, {400})}, size), 0);
    ASSERT_TRUE(plain);
    data = reinterpret_cast<const uint8_t*>(1);
    EXPECT_FALSE(IS40_EXIFGetThumbnail(plain.r, &data, &length));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

TEST(ExifThumbnail, OrientationFromAnyStandardList) {
    for (uint32_t v = 0; v <= 9; ++v) {
        ExifLayout s;
        s.motorola = v & 1;
        s.ifd0 = {Ascii(0x010F, "X"), Short(0x0112, {v})};
        EXPECT_EQ(Text(Raw(Block(s)), 274), std::to_string(v));
    }
    // Only IFD1 has one: mask 31 finds it.
    ExifLayout s;
    s.ifd0 = {Ascii(0x010F, "X")};
    s.ifd1 = {Short(0x0112, {6})};
    Reader r = Raw(Block(s));
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_IFD0), kNone);
}

// ---- reader: entry points, routes, flags ----------------------------------------------

TEST(ExifReader, EntryPointArguments) {
    EXPECT_EQ(IS40_EXIFCreateReader(nullptr, 0, 1), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    const Bytes b = Block(CameraLayout(false, {}));
    ISHANDLE h = IS40_OpenMemorySource(b.data(), static_cast<uint32_t>(b.size()));
    IS40_CloseSource(h);
    EXPECT_EQ(IS40_EXIFCreateReader(h, 0, 8), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    int local = 0;
    EXPECT_EQ(IS40_EXIFCreateReader(&local, 0, 8), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);

    EXPECT_TRUE(IS40_EXIFDestroyReader(nullptr));

    char* text = reinterpret_cast<char*>(1);
    uint32_t length = 3;
    EXPECT_FALSE(IS40_EXIFGetString(nullptr, 274, 31, &text, &length));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0u);
    const uint8_t* data = nullptr;
    EXPECT_FALSE(IS40_EXIFGetThumbnail(nullptr, &data, &length));
    EXPECT_EQ(IS40_GetLastError(), 5u);

    // A destroyed or foreign reader is refused, not read.
    ISHANDLE src = IS40_OpenMemorySource(b.data(), static_cast<uint32_t>(b.size()));
    ISEXIFREADER r = IS40_EXIFCreateReader(src, 0, 8);
    IS40_CloseSource(src);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_FALSE(IS40_EXIFGetString(r, 274, 31, nullptr, &length));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_TRUE(IS40_EXIFDestroyReader(r));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_FALSE(IS40_EXIFDestroyReader(r));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_EXIFGetString(r, 274, 31, &text, &length));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_EXIFGetThumbnail(&local, &data, &length));
    EXPECT_EQ(IS40_GetLastError(), 5u);
}

TEST(ExifReader, JpegRoute) {
    const Bytes jpeg = SmallJpeg(24, 16);
    ExifLayout s = CameraLayout(true, FakeThumbnail(700));
    const Bytes exif = App1Payload(BuildTiff(s));
    const std::string xmpText = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>";
    const Bytes xmp(xmpText.begin(), xmpText.end());

    // XMP first, EXIF second: the reader is built from the second.
    Reader r = FromBytes(WithSegments(jpeg, {{0xE1, xmp}, {0xE1, exif}}), IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Thumb(r), s.thumbnail);

    // A damaged EXIF block before a good one leaves nothing behind.
    ExifLayout other;
    other.ifd0 = {Short(0x0112, {3}), Ascii(0x010F, "Leftover"), Short(0x0100, {1})};
    Bytes damaged = App1Payload(BuildTiff(other));
    damaged.resize(6 + 8 + 2 + 12 * 2 + 4);
    r = FromBytes(WithSegments(jpeg, {{0xE1, damaged}, {0xE0, {'J', 'F', 'I', 'F', 0}}, {0xE1, exif}}), 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Text(r, 0x010F), "Canon");
    EXPECT_EQ(r.List(kEXIFListIFD0).size(), s.ifd0.size() + 2);

    // No APP1, or only unusable ones: null with last error 0.
    for (const Bytes& j : {jpeg, WithSegments(jpeg, {{0xE1, xmp}}), WithSegments(jpeg, {{0xE2, exif}}),
                           WithSegments(jpeg, {{0xE1, {}}})}) {
        Reader none = FromBytes(j, IS_EXIF_THUMBNAIL);
        EXPECT_FALSE(none);
        EXPECT_EQ(none.error, 0u);
    }

    // The EXIF segment may come after the JFIF segment, as cameras write it.
    const Bytes jfif = WriteToBytes("jfif.jpg", [&](ISHANDLE d) {
        const Bytes px = Pattern(8, 8, 3);
        return IS40_WriteJPG(d, px.data(), 8, 8, 24, 24, 75, nullptr, 0);
    });
    ASSERT_EQ(jfif[3], 0xE0);
    const size_t app0 = 4 + ((jfif[4] << 8) | jfif[5]);
    Bytes late(jfif.begin(), jfif.begin() + static_cast<std::ptrdiff_t>(app0));
    const Bytes seg = WithSegments({0xFF, 0xD8}, {{0xE1, exif}});
    late.insert(late.end(), seg.begin() + 2, seg.end());
    late.insert(late.end(), jfif.begin() + static_cast<std::ptrdiff_t>(app0), jfif.end());
    EXPECT_EQ(Text(FromBytes(late, 0), 274), "6");

    // Fill bytes before a marker are legal; the codec then reads the file itself.
    Bytes filled = WithSegments(jpeg, {{0xE1, exif}});
    const Bytes fill = {0xFF, 0xFF, 0xFF};
    filled.insert(filled.begin() + 2, fill.begin(), fill.end());
    EXPECT_EQ(Text(FromBytes(filled, 0), 274), "6");

    // A damaged JPEG header is the decoder's failure.
    Reader bad = FromBytes(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00}, 0);
    EXPECT_FALSE(bad);
    EXPECT_EQ(bad.error, 9u);
}

TEST(ExifReader, OtherSourcesAndFlags) {
    const Bytes block = Block(CameraLayout(false, FakeThumbnail(64)));
    // Without flag 8 a bare block is not a picture format.
    Reader r = FromBytes(block, IS_EXIF_THUMBNAIL);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 0u);
    // A recognised format other than JPEG and TIFF.
    const Bytes bmp = WriteToBytes("x.bmp", [](ISHANDLE d) {
        const Bytes px = Pattern(4, 4, 3);
        return IS40_WriteBMP(d, px.data(), 4, 4, 24, 12, 0, nullptr, nullptr, 0);
    });
    r = FromBytes(bmp, 0);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 5u);
    // Raw route: the block's lead is part of the source.
    r = Raw(block, IS_EXIF_THUMBNAIL | IS_EXIF_USER_COMMENT | IS_EXIF_MAKER_NOTE);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(Thumb(r).size(), 64u);
    EXPECT_EQ(r.List(kEXIFListMakerNote).size(), 5u);
    const uint8_t* comment = nullptr;
    uint32_t length = 0, error = 99;
    ASSERT_TRUE(r.Get()->GetBlock(0x9286, &comment, &length, &error));
    EXPECT_EQ(Bytes(comment, comment + length), Bytes({'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'}));
    EXPECT_FALSE(r.Get()->GetBlock(0x1234, &comment, &length, &error));
    EXPECT_EQ(error, 57u);
    Reader bare = Raw(Bytes(block.begin() + 4, block.end()));
    EXPECT_FALSE(bare);

    // User comment asked for but absent (or not bytes): still a reader, 65.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {2})};
    r = Raw(Block(s), IS_EXIF_USER_COMMENT);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 65u);
    EXPECT_FALSE(r.Get()->GetBlock(0x9286, &comment, &length, &error));
    EXPECT_EQ(error, 57u);
    // ... and the thumbnail then reports 0, as no thumbnail was asked for.
    EXPECT_TRUE(Thumb(r).empty());
    EXPECT_EQ(IS40_GetLastError(), 0u);
    s.exif = {Ascii(0x9286, "text")};
    r = Raw(Block(s), IS_EXIF_USER_COMMENT);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 65u);

    // The source may go as soon as the reader exists.
    Bytes* temp = new Bytes(block);
    ISHANDLE h = IS40_OpenMemorySource(temp->data(), static_cast<uint32_t>(temp->size()));
    ISEXIFREADER kept = IS40_EXIFCreateReader(h, 0, IS_EXIF_RAW | IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
    IS40_CloseSource(h);
    std::fill(temp->begin(), temp->end(), 0xAA);
    delete temp;
    Reader owned(kept, 0);
    ASSERT_TRUE(owned);
    EXPECT_EQ(Text(owned, 0x0110), "Canon EOS 5D");
    EXPECT_EQ(Text(owned, 0x0007, IS_EXIF_LIST_MAKER_NOTE), "Firmware 1.1.1");
    EXPECT_EQ(Thumb(owned), FakeThumbnail(64));
}

TEST(ExifReader, OutOfMemoryAnywhere) {
    const Bytes jpeg = JpegWithExif(CameraLayout(false, FakeThumbnail(200)));
    for (int64_t n = 0; n < 40; ++n) {
        for (uint32_t flags : {7u, 15u}) {
            const Bytes& data = flags & 8 ? Block(CameraLayout(false, FakeThumbnail(200))) : jpeg;
            ISHANDLE h = IS40_OpenMemorySource(data.data(), static_cast<uint32_t>(data.size()));
            ASSERT_NE(h, nullptr);
            ISSetAllocFailAfter(n);
            ISEXIFREADER r = IS40_EXIFCreateReader(h, 0, flags);
            const uint32_t error = IS40_GetLastError();
            char* text = nullptr;
            uint32_t length = 0;
            if (r) IS40_EXIFGetString(r, 274, 31, &text, &length);
            ISSetAllocFailAfter(-1);
            if (!r) EXPECT_TRUE(error == 1 || error == 0 || error == 9) << n << ": " << error;
            else EXPECT_TRUE(error == 0 || error == 65) << n << ": " << error;
            IS40_GlobalFree(text);
            IS40_EXIFDestroyReader(r);
            IS40_CloseSource(h);
        }
    }
}

TEST(ExifReader, ReadersAcrossThreads) {
    const Bytes jpeg = JpegWithExif(CameraLayout(false, FakeThumbnail(100)));
    Reader shared = FromBytes(jpeg, IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(shared);
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t]() {
            for (int i = 0; i < 50; ++i) {
                Reader own = FromBytes(jpeg, IS_EXIF_THUMBNAIL);
                if (own && Text(own, 274) == "6" && Text(shared, 0x829A) == "1/125" && Thumb(own).size() == 100)
                    ++good[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int g : good) EXPECT_EQ(g, 50);
}

TEST(ExifReader, TraceDump) {
    ISEXIFTakeTrace();
    ISEXIFSetTrace(true);
    Reader r = Raw(Block(NoteLayout(NoteCases()[0], false)), IS_EXIF_MAKER_NOTE);
    ISEXIFSetTrace(false);
    const std::string trace = ISEXIFTakeTrace();
    ASSERT_TRUE(r);
    EXPECT_NE(trace.find("\n--- IFD0 tags ---\n"), std::string::npos);
    EXPECT_NE(trace.find("Orientation\t\tU16\t\tval: \"1\"\n"), std::string::npos);
    EXPECT_NE(trace.find("Orientation, tag : 274, count : 1, offset : 1, type : 3\n"), std::string::npos);
    EXPECT_NE(trace.find("EXIF Tags: 3, Interop: 0, IFD1: 0, exifIFD:2, GPS: 0\n"), std::string::npos);
    EXPECT_NE(trace.find("Image type, tag : 6"), std::string::npos);
}

// ---- the writing side of the tag classes -------------------------------------------------

// ---- TIFF route ------------------------------------------------------------------------------

namespace {

// A one-pixel grey TIFF whose IFD0 holds the given entries as well.
ExifLayout TiffLayout(bool motorola) {
    ExifLayout s;
    s.motorola = motorola;
    s.ifd0 = {Short(0x0100, {1}),          Short(0x0101, {1}),      Short(0x0102, {8}),
              Short(0x0103, {1}),          Short(0x0106, {1}),      Ascii(0x010F, "Maker"),
              RawEntry(0x0111, kTypeLong, 1, 8), Short(0x0112, {6}), Short(0x0115, {1}),
              Short(0x0116, {1}),          Long(0x0117, {1}),       Rat(0x011A, {{300, 1}}),
              Rat(0x011B, {{300, 1}}),     Short(0x0128, {2}),      Ascii(0x0132, "2020:01:02 03:04:05")};
    return s;
}

}  // namespace

TEST(ExifTiff, PageWithExifPointer) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        ExifLayout s = TiffLayout(mm);
        s.exif = {Rat(0x829A, {{1, 125}}), Short(0x8827, {200}), Undef(0x9000, {'0', '2', '3', '0'}),
                  SRat(0x9204, {{-1, 3}}), Long(0xA002, {1}), Short(0xA003, {1}), Undef(0xA300, {3}),
                  Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'x'}), Ascii(0x9003, "2020:01:02 03:04:05"),
                  Short(0x1234, {9})};
        s.gps = {Ascii(0x0001, "N")};
        s.ifd1 = {Short(0x0112, {3})};
        const Bytes tiff = BuildTiff(s);
        Reader r = FromBytes(tiff, IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(Text(r, 274), "6");
        // A SHORT ImageWidth matches the LONG row first.
        const CEXIFTagBase* width = TagIn(r, kEXIFListIFD0, 0x0100);
        ASSERT_NE(width, nullptr);
        EXPECT_STREQ(width->typeName, "U32");
        EXPECT_EQ(width->typeCode, kTypeLong);
        EXPECT_EQ(width->tiffRoute, 1);
        EXPECT_EQ(width->entryPosition, kNoPosition);
        EXPECT_EQ(width->basePosition, kNoPosition);
        EXPECT_EQ(width->valueField, 0u);
        EXPECT_EQ(Text(r, 0x010F), "Maker");
        EXPECT_EQ(Text(r, 0x011A), "300/1");
        EXPECT_EQ(Text(r, 0x0102), "8");
        EXPECT_STREQ(TagIn(r, kEXIFListIFD0, 0x8769)->typeName, "U32");
        EXPECT_EQ(TagIn(r, kEXIFListIFD0, 0x8769)->name, "EXIFOffset");
        EXPECT_EQ(TagIn(r, kEXIFListIFD0, 0x8825)->name, "GPSInfo");
        EXPECT_EQ(Text(r, 0x829A), "1/125");
        EXPECT_EQ(Text(r, 0x8827), "200");
        EXPECT_EQ(Text(r, 0x9204), "-1/3");
        EXPECT_EQ(Text(r, 0xA003), "1");
        EXPECT_STREQ(TagIn(r, kEXIFListExif, 0xA003)->typeName, "U32");
        // UNDEFINED rows become texts up to the first zero.
        EXPECT_EQ(Text(r, 0x9000), "0230");
        EXPECT_STREQ(TagIn(r, kEXIFListExif, 0x9000)->typeName, "A");
        EXPECT_EQ(Text(r, 0x9286), "ASCII");
        EXPECT_EQ(Text(r, 0xA300), "\x03");
        EXPECT_EQ(Text(r, 0x9003), "2020:01:02 03:04:05");
        EXPECT_EQ(Text(r, 0x1234), kNone);  // not in the field table
        // No Interop, IFD1, GPS, maker note or thumbnail on this route.
        EXPECT_TRUE(r.List(kEXIFListGPS).empty());
        EXPECT_TRUE(r.List(kEXIFListIFD1).empty());
        EXPECT_TRUE(Thumb(r).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);

        // A page that does not exist.
        Reader none = FromBytes(tiff, 0, 5);
        EXPECT_FALSE(none);
        EXPECT_EQ(none.error, 5u);
    }
}

TEST(ExifTiff, PageWithoutExifPointerGivesAnEmptyReader) {
    const Bytes px = Pattern(5, 4, 3);
    const Bytes tiff = WriteToBytes("plain.tif", [&](ISHANDLE d) {
        return IS40_WriteTIFF(d, px.data(), 5, 4, 24, 15, nullptr, 1, nullptr, 0);
    });
    Reader r = FromBytes(tiff, IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 0u);
    for (uint32_t i = 0; i < kEXIFListCount; ++i) EXPECT_TRUE(r.List(i).empty());
    EXPECT_EQ(Text(r, 274), kNone);
    EXPECT_TRUE(Thumb(r).empty());
    EXPECT_EQ(IS40_GetLastError(), 0u);
    // And so does a built TIFF with Orientation but no EXIF IFD.
    Reader built = FromBytes(BuildTiff(TiffLayout(false)), 0);
    ASSERT_TRUE(built);
    EXPECT_EQ(Text(built, 274), kNone);
    // Not a TIFF libtiff can open.
    Reader broken = FromBytes(Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, 0);
    EXPECT_FALSE(broken);
    EXPECT_NE(broken.error, 0u);
}

TEST(ExifTiff, BigTiffPage) {
    // BigTIFF: 8-byte counts and value fields, values up to 8 bytes inline.
    Bytes t = {'I', 'I', 43, 0, 8, 0, 0, 0};
    PutN(t, 16, 8, false);
    struct Big {
        uint16_t tag, type;
        uint64_t count, value;
    };
    auto ifd = [&](const std::vector<Big>& entries) {
        PutN(t, entries.size(), 8, false);
        for (const Big& e : entries) {
            PutN(t, e.tag, 2, false);
            PutN(t, e.type, 2, false);
            PutN(t, e.count, 8, false);
            PutN(t, e.value, 8, false);
        }
        PutN(t, 0, 8, false);
    };
    const uint64_t exifAt = 16 + 8 + 11 * 20 + 8;
    ifd({{0x0100, kTypeShort, 1, 1}, {0x0101, kTypeShort, 1, 1}, {0x0102, kTypeShort, 1, 8},
         {0x0103, kTypeShort, 1, 1}, {0x0106, kTypeShort, 1, 1}, {0x0111, kTypeLong, 1, 0},
         {0x0112, kTypeShort, 1, 6}, {0x0115, kTypeShort, 1, 1}, {0x0116, kTypeShort, 1, 1},
         {0x0117, kTypeLong, 1, 1}, {0x8769, 18, 1, exifAt}});
    ASSERT_EQ(t.size(), exifAt);
    ifd({{0x829A, kTypeRational, 1, (uint64_t{250} << 32) | 1}, {0x8827, kTypeShort, 1, 320},
         {0x9204, kTypeSRational, 1, (uint64_t{3} << 32) | 0xFFFFFFFFu}, {0x9000, kTypeUndefined, 4, 0x30333230}});
    Reader r = FromBytes(t, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Text(r, 0x829A), "1/250");
    EXPECT_EQ(Text(r, 0x8827), "320");
    EXPECT_EQ(Text(r, 0x9204), "-1/3");
    EXPECT_EQ(Text(r, 0x9000), "0230");
    EXPECT_EQ(Text(r, 0x8769), std::to_string(exifAt));
}

TEST(ExifTiff, HostileExifDirectory) {
    ExifLayout s = TiffLayout(false);
    s.exif = {RawEntry(0x829A, kTypeRational, 0x10000000, 0x20), RawEntry(0x9286, kTypeUndefined, 0xFFFFFFFF, 0),
              RawEntry(0x8827, kTypeShort, 100000, 0xFFFFFFF0), Rat(0x829D, {{28, 10}}),
              RawEntry(0x9000, kTypeFloat, 1, 0)};
    Bytes tiff = BuildTiff(s);
    Reader r = FromBytes(tiff, 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x829A), kNone);
    EXPECT_EQ(Text(r, 0x9286), kNone);
    EXPECT_EQ(Text(r, 0x8827), kNone);
    EXPECT_EQ(Text(r, 0x9000), kNone);
    EXPECT_EQ(Text(r, 0x829D), "28/10");
    // The EXIF pointer beyond the file keeps IFD0.
    ExifLayout p = TiffLayout(false);
    p.ifd0.push_back(Long(0x8769, {0x7FFFFFF0}));
    r = FromBytes(BuildTiff(p), 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_TRUE(r.List(kEXIFListExif).empty());
}

// ---- against exiftool and libexif ---------------------------------------------------------

namespace {

bool HaveExiftool() { return HavePrograms("exiftool"); }

struct ToolTag {
    std::string dir;
    uint32_t id = 0;
    std::string type;
    uint32_t count = 0;
    std::string value;
};

// Splits a verbose listing line into its nesting depth ("| " marks after
// the indent) and the rest.
size_t Depth(const std::string& line, std::string* rest) {
    size_t i = line.find_first_not_of(' ');
    size_t depth = 0;
    while (i != std::string::npos && line.compare(i, 2, "| ") == 0) {
        ++depth;
        i += 2;
    }
    *rest = i == std::string::npos ? std::string() : line.substr(i);
    return depth;
}

// exiftool's verbose listing of the EXIF directories of a file.
std::vector<ToolTag> ExiftoolTags(const std::string& path) {
    const std::string out = CaptureText("exiftool -v2 '" + path + "' 2>/dev/null");
    std::vector<ToolTag> tags;
    std::vector<std::string> dirs;
    std::istringstream in(out);
    std::string line, rest, pendingValue;
    size_t pendingDepth = 0;
    while (std::getline(in, line)) {
        const size_t depth = Depth(line, &rest);
        if (rest.compare(0, 3, "+ [") == 0) {
            const size_t end = rest.find(' ', 3);
            if (end == std::string::npos || rest.compare(end, 10, " directory") != 0) continue;
            dirs.resize(depth);
            dirs.push_back(rest.substr(3, end - 3));
            pendingDepth = 0;
        } else if (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest[0])) &&
                   rest.find(')') != std::string::npos) {
            pendingDepth = depth;
            const size_t eq = rest.find(" = ");
            pendingValue = eq == std::string::npos ? rest : rest.substr(eq + 3);
        } else {
            const size_t tag = rest.find("- Tag 0x");
            if (tag == std::string::npos) continue;
            const size_t used = pendingDepth;
            pendingDepth = 0;
            if (used == 0 || used > dirs.size()) continue;
            unsigned id = 0, bytes = 0, count = 0;
            char type[32] = {};
            if (std::sscanf(rest.c_str() + tag, "- Tag 0x%4x (%u bytes, %31[a-z0-9][%u]", &id, &bytes, type, &count) !=
                4) {
                continue;
            }
            ToolTag t;
            t.dir = dirs[used - 1];
            t.id = id;
            t.type = type;
            t.count = count;
            t.value = pendingValue;
            tags.push_back(t);
        }
    }
    return tags;
}

uint32_t ListOfDir(const std::string& dir) {
    if (dir == "IFD0") return kEXIFListIFD0;
    if (dir == "ExifIFD") return kEXIFListExif;
    if (dir == "InteropIFD") return kEXIFListInterop;
    if (dir == "IFD1") return kEXIFListIFD1;
    if (dir == "GPS") return kEXIFListGPS;
    return kEXIFListCount;
}

const char* OurType(const std::string& tool) {
    static const std::map<std::string, const char*> kMap = {
        {"int8u", "U8"},  {"string", "A"},   {"int16u", "U16"}, {"int32u", "U32"}, {"rational64u", "UR"},
        {"int8s", "I8"},  {"undef", "U8"},   {"int16s", "I16"}, {"int32s", "I32"}, {"rational64s", "SR"},
        {"float", "R4"},  {"double", "R8"}};
    auto it = kMap.find(tool);
    return it == kMap.end() ? "?" : it->second;
}

// Our value text in exiftool's raw verbose form.
std::string AsTool(const CEXIFTagBase& tag) {
    if (const auto* bytes = dynamic_cast<const CEXIFTagU8*>(&tag)) {
        std::string out;
        for (uint8_t b : bytes->values) out += (out.empty() ? "" : " ") + std::to_string(b);
        return out;
    }
    std::string text = tag.ValueText();
    if (tag.typeCode == kTypeRational || tag.typeCode == kTypeSRational) {
        std::string joined;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 2, ", ") == 0) {
                joined += ' ';
                ++i;
            } else {
                joined += text[i];
            }
        }
        return "(" + joined + ")";
    }
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (tag.typeCode != kTypeAscii && text.compare(i, 2, ", ") == 0) {
            out += ' ';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Every tag of the file's EXIF directories compared with exiftool's list.
void CompareWithExiftool(const std::string& path, const Reader& r) {
    const std::vector<ToolTag> tool = ExiftoolTags(path);
    ASSERT_FALSE(tool.empty());
    size_t perList[kEXIFListCount] = {};
    for (const ToolTag& t : tool) {
        const uint32_t list = ListOfDir(t.dir);
        if (list == kEXIFListCount) continue;
        ++perList[list];
        SCOPED_TRACE(t.dir + " " + std::to_string(t.id) + " " + t.value);
        const CEXIFTagBase* ours = TagIn(r, list, static_cast<uint16_t>(t.id));
        if (!ours) continue;
        EXPECT_EQ(ours->count, t.count);
        EXPECT_STREQ(ours->typeName, OurType(t.type));
        const std::string v = t.value;
        if (t.type == "undef") {
            if (t.id == 0x9000 || t.id == 0xA000 || t.id == 0x0002) {
                uint8_t* bytes = nullptr;
                uint32_t n = 0;
                ASSERT_TRUE(ours->CopyValues(&bytes, &n));
                EXPECT_EQ(std::string(bytes, bytes + n), v);
                IS40_GlobalFree(bytes);
            }
        } else if (t.type.compare(0, 8, "rational") == 0) {
            const size_t open = v.find('(');
            ASSERT_NE(open, std::string::npos);
            EXPECT_EQ(AsTool(*ours), v.substr(open));
        } else if (v.find("(SubDirectory)") == std::string::npos && v.find("(Binary data") == std::string::npos) {
            EXPECT_EQ(AsTool(*ours), v);
        }
    }
    for (uint32_t i = 0; i < kEXIFListMakerNote; ++i) EXPECT_EQ(r.List(i).size(), perList[i]) << ISEXIFListName(i);
}

// The ids libexif lists for one IFD (pointer and thumbnail tags it keeps to itself).
std::vector<uint32_t> LibexifIds(const std::string& path, const std::string& ifd) {
    std::vector<uint32_t> ids;
    std::istringstream in(CaptureText("exif --no-fixup --ifd=" + ifd + " -m -i '" + path + "' 2>/dev/null"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 2, "0x") == 0) {
            ids.push_back(static_cast<uint32_t>(std::stoul(line.substr(0, 6), nullptr, 16)));
        }
    }
    return ids;
}

// A picture JPEG with a thumbnail, tagged by exiftool.
std::string ExiftoolJpeg(const std::string& name, const std::string& order, const std::string& extra = "") {
    const Bytes thumb = SmallJpeg(160, 120, 9, name + "_thumb.jpg");
    (void)thumb;
    SmallJpeg(320, 240, 4, name);
    const std::string path = ScratchPath(name);
    const std::string cmd = "exiftool -q -overwrite_original -n -ExifByteOrder=" + order + " '-ThumbnailImage<=" +
                            ScratchPath(name + "_thumb.jpg") +
                            "' -Make=Canon '-Model=Canon EOS 5D' -Orientation=6 -XResolution=72 -YResolution=72 "
                            "-ResolutionUnit=2 -Software=Tester '-Artist=A. Person' -ExposureTime=0.008 -FNumber=2.8 "
                            "-ExposureProgram=2 -ISO=400 '-DateTimeOriginal=2021:03:04 05:06:07' "
                            "-ExposureCompensation=-0.6666667 -MeteringMode=5 -Flash=16 -FocalLength=85 "
                            "-UserComment=hello -ColorSpace=1 -ExifImageWidth=320 -ExifImageHeight=240 "
                            "-SubSecTimeOriginal=42 -InteropIndex=R98 -GPSLatitude=51.5 -GPSLatitudeRef=N "
                            "-GPSLongitude=0.1275 -GPSLongitudeRef=W -GPSAltitude=35.2 -GPSAltitudeRef=0 "
                            "'-GPSTimeStamp=10:20:30' " +
                            extra + " '" + path + "'";
    EXPECT_EQ(Shell(cmd), 0) << cmd;
    return path;
}

}  // namespace

TEST(ExifExiftool, EveryTagMatchesBothByteOrders) {
    if (!HaveExiftool()) GTEST_SKIP() << "exiftool not installed";
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const std::string path = ExiftoolJpeg("tagged_" + order + ".jpg", order);
        Reader r = FromFile(path, IS_EXIF_THUMBNAIL | IS_EXIF_USER_COMMENT);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.List(kEXIFListIFD0)[0]->motorola, order == "MM" ? 1 : 0);
        for (uint32_t i = 0; i < kEXIFListMakerNote; ++i) EXPECT_FALSE(r.List(i).empty()) << ISEXIFListName(i);
        CompareWithExiftool(path, r);
        EXPECT_EQ(Text(r, 274), "6");
        EXPECT_EQ(Text(r, 0x829A), "1/125");
        EXPECT_EQ(Text(r, 0x0001, IS_EXIF_LIST_INTEROP), "R98");
        EXPECT_EQ(Text(r, 0x0001, IS_EXIF_LIST_GPS), "N");

        // The thumbnail exiftool stored, byte for byte.
        const Bytes expect = Capture("exiftool -b -ThumbnailImage '" + path + "'");
        ASSERT_FALSE(expect.empty());
        EXPECT_EQ(Thumb(r), expect);
        EXPECT_EQ(Thumb(r), ReadFileBytes(ScratchPath("tagged_" + order + ".jpg_thumb.jpg")));

        // And it decodes as the 160 x 120 picture it is.
        const Bytes t = Thumb(r);
        ISHANDLE h = IS40_OpenMemorySource(t.data(), static_cast<uint32_t>(t.size()));
        uint32_t w = 0, ht = 0;
        LibBuffer px(IS40_ReadJPG(h, &w, &ht, 24, 0));
        IS40_CloseSource(h);
        EXPECT_TRUE(px);
        EXPECT_EQ(w, 160u);
        EXPECT_EQ(ht, 120u);

        // libexif sees the same ids in every directory.
        if (HavePrograms("exif")) {
            const std::vector<std::pair<std::string, uint32_t>> dirs = {
                {"0", kEXIFListIFD0}, {"1", kEXIFListIFD1}, {"EXIF", kEXIFListExif},
                {"GPS", kEXIFListGPS}, {"Interoperability", kEXIFListInterop}};
            for (const auto& d : dirs) {
                std::vector<uint32_t> ours;
                for (const auto& tag : r.List(d.second)) {
                    const uint32_t id = tag->tagId;
                    if (id == 0x8769 || id == 0x8825 || id == 0xA005) continue;
                    if (d.second == kEXIFListIFD1 && (id == 0x0201 || id == 0x0202)) continue;
                    ours.push_back(id);
                }
                EXPECT_EQ(ours, LibexifIds(path, d.first)) << d.first;
            }
            const std::string out = ScratchPath("libexif_" + order + ".jpg");
            ASSERT_EQ(Shell("exif -e -o '" + out + "' '" + path + "'"), 0);
            EXPECT_EQ(Thumb(r), ReadFileBytes(out));
        }
    }
}

TEST(ExifExiftool, OrientationValues) {
    if (!HaveExiftool()) GTEST_SKIP() << "exiftool not installed";
    SmallJpeg(40, 30, 2, "orient.jpg");
    const Bytes base = ReadFileBytes(ScratchPath("orient.jpg"));
    std::string args;
    for (int v = 1; v <= 8; ++v) {
        const std::string p = ScratchPath("orient" + std::to_string(v) + ".jpg");
        WriteFileBytes(p, base);
        args += "-n\n-overwrite_original\n-Orientation=" + std::to_string(v) + "\n" + p + "\n-execute\n";
    }
    WriteFileBytes(ScratchPath("args.txt"), Bytes(args.begin(), args.end()));
    ASSERT_EQ(Shell("exiftool -q -@ '" + ScratchPath("args.txt") + "'"), 0);
    for (int v = 1; v <= 8; ++v) {
        Reader r = FromFile(ScratchPath("orient" + std::to_string(v) + ".jpg"), IS_EXIF_THUMBNAIL);
        ASSERT_TRUE(r) << v;
        EXPECT_EQ(r.error, 65u);  // exiftool writes no thumbnail here
        char* text = nullptr;
        uint32_t length = 0;
        ASSERT_TRUE(IS40_EXIFGetString(r.r, 274, 31, &text, &length));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), std::to_string(v));
        EXPECT_EQ(length, 1u);
        IS40_GlobalFree(text);
    }
}

TEST(ExifExiftool, TiffRouteAgainstExiftool) {
    if (!HaveExiftool()) GTEST_SKIP() << "exiftool not installed";
    const Bytes px = Pattern(6, 5, 3);
    const std::string path = ScratchPath("tagged.tif");
    WriteFileBytes(path, WriteToBytes("plain.tif", [&](ISHANDLE d) {
                       return IS40_WriteTIFF(d, px.data(), 6, 5, 24, 18, nullptr, 1, nullptr, 0);
                   }));
    ASSERT_EQ(Shell("exiftool -q -overwrite_original -n -Orientation=8 -Make=Maker -ExposureTime=0.004 "
                    "-FNumber=4 -ISO=100 '-DateTimeOriginal=2022:01:01 00:00:00' -ExposureCompensation=-1 '" +
                    path + "'"),
              0);
    Reader r = FromFile(path, IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "8");
    EXPECT_EQ(Text(r, 0x010F), "Maker");
    EXPECT_EQ(Text(r, 0x829A), "1/250");
    EXPECT_EQ(Text(r, 0x829D), "4/1");
    EXPECT_EQ(Text(r, 0x8827), "100");
    EXPECT_EQ(Text(r, 0x9003), "2022:01:01 00:00:00");
    EXPECT_EQ(Text(r, 0x9204), "-1/1");
    EXPECT_EQ(Text(r, 0x0100), "6");
    // Every tag exiftool lists in IFD0 and ExifIFD that the field table
    // knows is there, with the table's type.
    for (const ToolTag& t : ExiftoolTags(path)) {
        const uint32_t list = ListOfDir(t.dir);
        if (list != kEXIFListIFD0 && list != kEXIFListExif) continue;
        const CISEXIFField* row = nullptr;
        for (const CISEXIFField& f : kISEXIFFields) {
            if (f.tagId == t.id) {
                row = &f;
                break;
            }
        }
        const CEXIFTagBase* ours = FindTag(r.List(list), static_cast<uint16_t>(t.id));
        if (!row) {
            EXPECT_EQ(ours, nullptr) << t.id;
            continue;
        }
        ASSERT_NE(ours, nullptr) << t.dir << " " << t.id;
        EXPECT_EQ(ours->typeCode, row->typeCode) << t.id;
        EXPECT_STREQ(ours->name.c_str(), row->name);
    }
    EXPECT_TRUE(Thumb(r).empty());
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

// ---- damaged input sweep ------------------------------------------------------------------

namespace {

// Reads data through every flag value and every entry point; the sanitizer
// builds catch any stray access.
void Exercise(const Bytes& data, bool raw) {
    static const uint32_t kFlags[] = {IS_EXIF_THUMBNAIL, IS_EXIF_MAKER_NOTE, IS_EXIF_USER_COMMENT, 0};
    for (uint32_t f : kFlags) {
        const uint32_t flags = raw ? f | IS_EXIF_RAW : f;
        ISHANDLE h = IS40_OpenMemorySource(data.data(), static_cast<uint32_t>(data.size()));
        ASSERT_NE(h, nullptr);
        ISEXIFREADER r = IS40_EXIFCreateReader(h, 0, flags);
        const uint32_t error = IS40_GetLastError();
        IS40_CloseSource(h);
        if (!r) continue;
        EXPECT_TRUE(error == 0 || error == 65) << error;
        const CISEXIFReader* reader = ISEXIFReaderFrom(r);
        for (uint32_t list = 0; list < kEXIFListCount; ++list) {
            for (const auto& tag : reader->Lists()[list]) {
                char* text = nullptr;
                uint32_t length = 0;
                EXPECT_TRUE(IS40_EXIFGetString(r, tag->tagId, 63, &text, &length));
                EXPECT_NE(text, nullptr);
                if (text) {
                    EXPECT_EQ(std::strlen(text), length);
                }
                IS40_GlobalFree(text);
            }
        }
        const uint8_t* thumb = nullptr;
        uint32_t length = 0;
        if (IS40_EXIFGetThumbnail(r, &thumb, &length)) {
            uint32_t sum = 0;
            for (uint32_t i = 0; i < length; ++i) sum += thumb[i];
            (void)sum;
        }
        EXPECT_TRUE(IS40_EXIFDestroyReader(r));
    }
}

void Sweep(const Bytes& data, bool raw, int flips, uint32_t seed) {
    for (size_t cut = 1; cut < data.size(); ++cut) {
        Exercise(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)), raw);
        if (::testing::Test::HasFailure()) return;
    }
    std::mt19937 rng(seed);
    for (int i = 0; i < flips; ++i) {
        Bytes copy = data;
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int c = 0; c < changes; ++c) copy[rng() % copy.size()] = static_cast<uint8_t>(rng());
        Exercise(copy, raw);
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace

TEST(ExifFuzz, CameraBlockTruncatedAndFlipped) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        Sweep(Block(CameraLayout(mm, FakeThumbnail(120))), true, 2000, mm ? 77u : 76u);
    }
}

TEST(ExifFuzz, MakerNotesFlipped) {
    uint32_t seed = 100;
    for (const NoteCase& c : NoteCases()) {
        SCOPED_TRACE(c.make);
        const Bytes block = Block(NoteLayout(c, false));
        std::mt19937 rng(seed++);
        const CEXIFTagBase* note = nullptr;
        Reader r = Raw(block, IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        note = FindTag(r.List(kEXIFListExif), 0x927C);
        ASSERT_NE(note, nullptr);
        const size_t start = 10 + note->valueField;
        for (int i = 0; i < 400; ++i) {
            Bytes copy = block;
            for (int k = 0; k < 3; ++k) copy[start + rng() % (copy.size() - start)] = static_cast<uint8_t>(rng());
            Exercise(copy, true);
        }
    }
}

TEST(ExifFuzz, JpegAndTiffRoutes) {
    const Bytes jpeg = JpegWithExif(CameraLayout(false, FakeThumbnail(60)));
    std::mt19937 rng(31);
    // The JPEG route through libjpeg's header reader, flipped in its header.
    const size_t header = 2 + 4 + App1Payload(BuildTiff(CameraLayout(false, FakeThumbnail(60)))).size();
    for (int i = 0; i < 300; ++i) {
        Bytes copy = jpeg;
        for (int k = 0; k < 3; ++k) copy[rng() % header] = static_cast<uint8_t>(rng());
        Exercise(copy, false);
    }
    for (size_t cut = 1; cut < header + 40; cut += 7) Exercise(Bytes(jpeg.begin(), jpeg.begin() + cut), false);

    ExifLayout s = TiffLayout(true);
    s.exif = {Rat(0x829A, {{1, 125}}), Short(0x8827, {200}), Undef(0x9000, {'0', '2', '3', '0'}),
              Ascii(0x9003, "2020:01:02 03:04:05"), Undef(0x927C, {1, 2, 3, 4, 5, 6, 7})};
    const Bytes tiff = BuildTiff(s);
    for (size_t cut = 1; cut < tiff.size(); ++cut) Exercise(Bytes(tiff.begin(), tiff.begin() + cut), false);
    for (int i = 0; i < 600; ++i) {
        Bytes copy = tiff;
        for (int k = 0; k < 2; ++k) copy[rng() % copy.size()] = static_cast<uint8_t>(rng());
        Exercise(copy, false);
    }
}
