// EXIF reader: blocks built here field by field (both byte orders, every
// type, the five directories, the maker-note layouts), JPEGs tagged by
// exiftool and read back against its own listing, the TIFF route, and
// damaged blocks. Random damage is the fuzz target's business.
#include "isexif.h"
#include "testutil.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace vstest;
using namespace CISEXIFData;

namespace {

// ---- a small EXIF / TIFF builder --------------------------------------------

void PutN(Bytes& b, uint64_t v, uint32_t n, bool motorola) {
    for (uint32_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * (motorola ? n - 1 - i : i))));
}

void SetN(Bytes& b, size_t at, uint64_t v, uint32_t n, bool motorola) {
    for (uint32_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (motorola ? n - 1 - i : i)));
}

enum Link { kNoLink = 0, kLinkExif, kLinkInterop, kLinkGps, kLinkThumbOffset, kLinkThumbLength };

// One IFD entry: words of wordSize bytes in the block's byte order, or a
// value field stored as it is; gen makes data that depends on where it lands.
struct TEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    std::vector<uint64_t> words;
    uint32_t wordSize = 1;
    bool fixedField = false;
    uint32_t field = 0;
    Link link = kNoLink;
    std::function<Bytes(uint32_t tiffOffset, bool motorola)> gen;
};

// Numbers of any integer or rational type (a rational is two words).
TEntry Num(uint16_t tag, uint16_t type, std::vector<int64_t> v) {
    static const uint8_t kWord[] = {0, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 4, 8};
    TEntry e;
    e.tag = tag;
    e.type = type;
    e.wordSize = kWord[type];
    e.words.assign(v.begin(), v.end());
    e.count = static_cast<uint32_t>(v.size() / (type == kTypeRational || type == kTypeSRational ? 2 : 1));
    return e;
}
TEntry Short(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeShort, std::move(v)); }
TEntry Long(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeLong, std::move(v)); }
TEntry Rat(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeRational, std::move(v)); }
TEntry SRat(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeSRational, std::move(v)); }
TEntry Undef(uint16_t tag, const Bytes& b) { return Num(tag, kTypeUndefined, std::vector<int64_t>(b.begin(), b.end())); }
TEntry Ascii(uint16_t tag, const std::string& s, bool terminate = true) {
    std::vector<int64_t> v(s.begin(), s.end());
    if (terminate) v.push_back(0);
    return Num(tag, kTypeAscii, v);
}
template <typename F, typename W>
TEntry Real(uint16_t tag, uint16_t type, std::vector<F> v) {
    std::vector<int64_t> bits;
    for (F f : v) {
        W w;
        std::memcpy(&w, &f, sizeof w);
        bits.push_back(static_cast<int64_t>(w));
    }
    return Num(tag, type, bits);
}
// An entry whose four fields are given as they are to be stored.
TEntry RawEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    TEntry e;
    e.tag = tag, e.type = type, e.count = count, e.fixedField = true, e.field = field;
    return e;
}

using Ifd = std::vector<TEntry>;

struct ExifLayout {
    bool motorola = false;
    Ifd ifd0, exif, interop, gps, ifd1;
    Bytes thumbnail;
    bool linkIfd1 = true;
};

Bytes EntryData(const TEntry& e, uint32_t at, bool motorola) {
    if (e.gen) return e.gen(at, motorola);
    Bytes b;
    for (uint64_t w : e.words) PutN(b, w, e.wordSize, motorola);
    return b;
}

// Writes one entry's 12 bytes; out-of-line data goes to tail at *data.
void PutEntry(Bytes& t, Bytes& tail, const TEntry& e, uint32_t* data, uint32_t at, bool mm) {
    PutN(t, e.tag, 2, mm);
    PutN(t, e.type, 2, mm);
    PutN(t, e.count, 4, mm);
    if (e.fixedField) return PutN(t, e.field, 4, mm);
    Bytes d = EntryData(e, at, mm);
    if (d.size() <= 4) {
        d.resize(4, 0);
        t.insert(t.end(), d.begin(), d.end());
        return;
    }
    PutN(t, *data, 4, mm);
    if (d.size() & 1) d.push_back(0);
    *data += static_cast<uint32_t>(d.size());
    tail.insert(tail.end(), d.begin(), d.end());
}

// The TIFF structure from its header on: IFD0, exifIFD, Interop, GPS, IFD1,
// each followed by its out-of-line values, then the thumbnail.
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
    uint32_t at[5] = {}, pos = 8;
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && order[i]->empty()) continue;
        at[i] = pos;
        pos += 2 + 12 * static_cast<uint32_t>(order[i]->size()) + 4;
        for (const TEntry& e : *order[i]) {
            const uint32_t n = e.fixedField ? 0 : static_cast<uint32_t>(EntryData(e, 0, mm).size());
            if (n > 4) pos += n + (n & 1);
        }
    }
    const uint32_t thumbAt = pos;
    Bytes t = {static_cast<uint8_t>(mm ? 'M' : 'I'), static_cast<uint8_t>(mm ? 'M' : 'I')};
    PutN(t, 42, 2, mm);
    PutN(t, 8, 4, mm);
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && order[i]->empty()) continue;
        PutN(t, order[i]->size(), 2, mm);
        uint32_t data = at[i] + 2 + 12 * static_cast<uint32_t>(order[i]->size()) + 4;
        Bytes tail;
        for (TEntry e : *order[i]) {
            const uint32_t linked[] = {0, at[1], at[2], at[3], thumbAt, static_cast<uint32_t>(s.thumbnail.size())};
            if (e.link != kNoLink) e.words = {linked[e.link]};
            PutEntry(t, tail, e, &data, data, mm);
        }
        PutN(t, i == 0 && s.linkIfd1 && !s.ifd1.empty() ? at[4] : 0, 4, mm);
        t.insert(t.end(), tail.begin(), tail.end());
    }
    EXPECT_EQ(t.size(), thumbAt);
    t.insert(t.end(), s.thumbnail.begin(), s.thumbnail.end());
    return t;
}

// An APP1 payload: "Exif", two zero bytes, the TIFF structure.
Bytes App1Payload(const Bytes& tiff) {
    Bytes p = {'E', 'x', 'i', 'f', 0, 0};
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

// A maker note: header, an IFD at ifdAt, its out-of-line values counted
// from the note's start or from the TIFF header (the note at noteAt).
Bytes MakerNote(const Bytes& header, uint32_t ifdAt, const Ifd& entries, bool mm, uint32_t noteAt, bool fromNote) {
    Bytes n = header, tail;
    n.resize(ifdAt, 0);
    PutN(n, entries.size(), 2, mm);
    const uint32_t first = ifdAt + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    uint32_t data = fromNote ? first : noteAt + first;
    for (const TEntry& e : entries) PutEntry(n, tail, e, &data, 0, mm);
    PutN(n, 0, 4, mm);
    n.insert(n.end(), tail.begin(), tail.end());
    return n;
}

// The MakerNote entry of exifIFD for a note made by MakerNote().
TEntry NoteEntry(const Bytes& header, uint32_t ifdAt, const Ifd& entries, bool noteMM, bool followBlock,
                 bool fromNote) {
    TEntry e;
    e.tag = 0x927C;
    e.type = kTypeUndefined;
    e.count = static_cast<uint32_t>(MakerNote(header, ifdAt, entries, noteMM, 0, fromNote).size());
    e.gen = [=](uint32_t at, bool blockMM) {
        return MakerNote(header, ifdAt, entries, followBlock ? blockMM : noteMM, at, fromNote);
    };
    return e;
}

// ---- reading helpers ---------------------------------------------------------

struct Reader {
    ISEXIFREADER r = nullptr;
    uint32_t error = 0;
    Reader(ISEXIFREADER reader = nullptr, uint32_t e = 0) : r(reader), error(e) {}
    ~Reader() { IS40_EXIFDestroyReader(r); }
    Reader(Reader&& o) noexcept : r(o.r), error(o.error) { o.r = nullptr; }
    Reader& operator=(Reader&& o) noexcept {
        std::swap(r, o.r);
        error = o.error;
        return *this;
    }
    explicit operator bool() const { return r != nullptr; }
    const TagList& List(uint32_t i) const { return ISEXIFReaderFrom(r)->Lists()[i]; }
};

Reader Open(ISHANDLE h, uint32_t flags, uint32_t page) {
    if (!h) return Reader(nullptr, IS40_GetLastError());
    ISEXIFREADER r = IS40_EXIFCreateReader(h, page, flags);
    const uint32_t error = IS40_GetLastError();
    IS40_CloseSource(h);
    return Reader(r, error);
}
Reader FromBytes(const Bytes& d, uint32_t flags, uint32_t page = 0) {
    return Open(IS40_OpenMemorySource(d.data(), static_cast<uint32_t>(d.size())), flags, page);
}
Reader FromFile(const std::string& path, uint32_t flags) { return Open(IS40_OpenFileSource(path.c_str()), flags, 0); }
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
    EXPECT_EQ(IS40_GetLastError(), 0u);
    std::string s(text, length);
    EXPECT_EQ(std::strlen(text), length);
    IS40_GlobalFree(text);
    return s;
}
std::string Note(const Reader& r, uint32_t id) { return Text(r, id, IS_EXIF_LIST_MAKER_NOTE); }

Bytes Thumb(const Reader& r) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    if (!IS40_EXIFGetThumbnail(r.r, &data, &length)) return {};
    return Bytes(data, data + length);
}

// Every tag the reader holds is found and shown by the entry point.
void ExpectEveryTagReadable(const Reader& r) {
    for (uint32_t list = 0; list < kEXIFListCount; ++list)
        for (const auto& tag : r.List(list)) EXPECT_NE(Text(r, tag->tagId, 1u << list), kNone) << tag->tagId;
}

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

Bytes FakeThumbnail(size_t n) {
    Bytes b = Pattern(static_cast<uint32_t>(n), 1, 1, 5);
    b[0] = 0xFF, b[1] = 0xD8, b[n - 2] = 0xFF, b[n - 1] = 0xD9;
    return b;
}

// A camera-like set of directories with a Canon maker note.
ExifLayout CameraLayout(bool motorola, const Bytes& thumbnail) {
    ExifLayout s;
    s.motorola = motorola;
    s.ifd0 = {Ascii(0x010F, "Canon"), Ascii(0x0110, "Canon EOS 5D"), Short(0x0112, {6}), Rat(0x011A, {72, 1}),
              Short(0x0128, {2}), Ascii(0x0132, "2021:03:04 05:06:07")};
    const Ifd canon = {Short(0x0001, {92, 2, 0, 4}), Ascii(0x0006, "IMG:EOS 5D JPEG"), Ascii(0x0007, "Firmware 1.1.1")};
    s.exif = {Rat(0x829A, {1, 125}), Short(0x8827, {400}), Undef(0x9000, {'0', '2', '2', '1'}),
              SRat(0x9204, {-2, 3}), NoteEntry({}, 0, canon, false, true, false),
              Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'}), Long(0xA002, {4368})};
    s.interop = {Ascii(0x0001, "R98")};
    s.gps = {Num(0x0000, kTypeByte, {2, 2, 0, 0}), Ascii(0x0001, "N"), Rat(0x0002, {51, 1, 30, 1, 1234, 100})};
    s.ifd1 = {Short(0x0103, {6}), Rat(0x011A, {72, 1})};
    s.thumbnail = thumbnail;
    return s;
}

}  // namespace

// ---- value texts -----------------------------------------------------------------

TEST(ExifValueText, EveryTypeInBothByteOrders) {
    struct Case {
        TEntry entry;
        const char* text;
        const char* type;
    };
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "Motorola" : "Intel");
        const std::vector<Case> cases = {
            {Num(0x1001, kTypeByte, {0, 15, 16, 255}), "x00, x0f, x10, xff", "U8"},
            {Num(0x1002, kTypeSByte, {-128, 127, 0, -1, 5}), "-128, 127, 0, -1, 5", "I8"},
            {Short(0x1003, {6}), "6", "U16"},
            {Short(0x1004, {65535, 1, 2}), "65535, 1, 2", "U16"},
            {Num(0x1005, kTypeSShort, {-1, 2, -32768}), "-1, 2, -32768", "I16"},
            {Long(0x1006, {1, 2}), "1, 2", "U32"},
            {Long(0x1007, {4294967295}), "-1", "U32"},
            {Num(0x1008, kTypeSLong, {-5, 2147483647}), "-5, 2147483647", "I32"},
            {Rat(0x1009, {10, 1600}), "10/1600", "UR"},
            {Rat(0x100A, {4294967295, 0, 1, 3}), "4294967295/0, 1/3", "UR"},
            {SRat(0x100B, {-2, 3}), "-2/3", "SR"},
            {Real<float, uint32_t>(0x100C, kTypeFloat, {1.0f, -0.25f}), "1.0000, -0.2500", "R4"},
            {Real<double, uint64_t>(0x100D, kTypeDouble, {0.125}), "0.1250", "R8"},
            {Ascii(0x100E, "AB"), "AB", "A"},
            {Ascii(0x100F, "no terminator", false), "no terminator", "A"},
            {Num(0x1010, kTypeAscii, {'N', 'I', 'K', 'O', 'N', 0, ' ', 'x', 0}), "NIKON", "A"},
            {Short(0x1011, {}), "", "U16"},
        };
        ExifLayout s;
        s.motorola = mm;
        for (const Case& c : cases) s.ifd0.push_back(c.entry);
        Reader r = Raw(Block(s));
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        for (const Case& c : cases) {
            EXPECT_EQ(Text(r, c.entry.tag), c.text) << std::hex << c.entry.tag;
            const CEXIFTagBase* tag = TagIn(r, kEXIFListIFD0, c.entry.tag);
            ASSERT_NE(tag, nullptr);
            EXPECT_STREQ(tag->typeName, c.type);
            EXPECT_EQ(tag->count, c.entry.count);  // as declared, even past a zero
            EXPECT_EQ(tag->motorola, mm ? 1 : 0);
        }
    }
    // A Motorola SHORT value field 00 07 00 09 is read from its start.
    for (uint32_t count : {1u, 2u}) {
        ExifLayout s;
        s.motorola = true;
        s.ifd0 = {RawEntry(0x0112, kTypeShort, count, 0x00070009)};
        EXPECT_EQ(Text(Raw(Block(s)), 274), count == 1 ? "7" : "7, 9");
    }
}

TEST(ExifValueText, UndefinedTags) {
    ExifLayout s;
    s.exif = {Undef(0x9000, {'0', '2', '3', '0'}), Undef(0xA300, {3}),
              Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'o', 'k'}), Undef(0x927C, {1, 2, 3, 4, 5, 6, 7, 8}),
              Undef(0x9101, {1, 2, 3, 0}), Undef(0xA302, {9, 9})};
    s.interop = {Undef(0x0002, {'0', '1', '0', '0'})};
    Reader r = Raw(Block(s));
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x9000), "x30, x32, x33, x30");
    EXPECT_EQ(Text(r, 0xA300), "x03");
    EXPECT_EQ(Text(r, 0x0002, IS_EXIF_LIST_INTEROP), "x30, x31, x30, x30");
    EXPECT_EQ(Text(r, 0x9286), "x41, x53, x43, x49, x49, x00, x00, x00, x6f, x6b");
    // Other UNDEFINED tags of exifIFD are not shown.
    const std::string unknown = "x55, x6e, x6b, x6e, x6f, x77, x6e, x20, x46, x6f, x72, x6d, x61, x74";
    for (uint32_t id : {0x927C, 0x9101, 0xA302}) EXPECT_EQ(Text(r, id), unknown) << std::hex << id;
    EXPECT_EQ(TagIn(r, kEXIFListExif, 0x927C)->count, 8u);
}

// ---- parsing: structure, bounds, damaged directories ---------------------------------

TEST(ExifParse, HeaderChecks) {
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {3})};
    const Bytes good = Block(s);
    EXPECT_EQ(Text(Raw(good), 274), "3");
    s.motorola = true;
    const Bytes goodMM = Block(s);
    auto bent = [](Bytes b, size_t at, std::vector<uint8_t> v) {
        std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return b;
    };
    // 42 in either byte order is accepted under either mark.
    EXPECT_EQ(Text(Raw(bent(good, 12, {0x00, 0x2A})), 274), "3");
    EXPECT_EQ(Text(Raw(bent(goodMM, 12, {0x2A, 0x00})), 274), "3");
    const struct {
        const char* what;
        Bytes block;
    } bad[] = {
        {"byte order mark", bent(good, 10, {'M', 'X'})},
        {"magic 43", bent(good, 12, {0x00, 0x2B})},
        {"Exif spelled exif", bent(good, 4, {'e'})},
        {"IFD0 offset outside", bent(good, 14, {0xF0, 0xFF, 0xFF, 0xFF})},
        {"next-IFD field cut", Bytes(good.begin(), good.end() - 1)},
        {"entry cut", Bytes(good.begin(), good.begin() + 10 + 8 + 2 + 6)},
        {"count cut", Bytes(good.begin(), good.begin() + 19)},
        {"header cut", Bytes(good.begin(), good.begin() + 13)},
        {"lead only", Bytes(good.begin(), good.begin() + 9)},
        {"no lead", Bytes(good.begin() + 4, good.end())},
    };
    for (const auto& c : bad) {
        Reader r = Raw(c.block);
        EXPECT_FALSE(r) << c.what;
        EXPECT_EQ(r.error, 0u) << c.what;
    }
}

TEST(ExifParse, LookupOrderAndListMasks) {
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
    // Orientation only in IFD1 is still found by the standard mask.
    s.ifd0 = {Ascii(0x010F, "X")};
    s.ifd1 = {Short(0x0112, {6})};
    r = Raw(Block(s));
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_IFD0), kNone);
}

TEST(ExifParse, EntriesThatMakeNoTag) {
    ExifLayout s;
    s.ifd0 = {Short(0x0100, {1}),
              RawEntry(0x0101, kTypeLong, 0x7FFFFFFF, 8),      // count beyond the block
              RawEntry(0x0102, kTypeLong, 0x80000001, 8),      // negative count
              RawEntry(0x0103, 13, 1, 5),                      // type 13
              RawEntry(0x0104, 0, 1, 5),                       // type 0
              RawEntry(0x0105, kTypeRational, 2, 0xFFFFFFF8),  // offset + size wraps 32 bits
              RawEntry(0x0106, kTypeDouble, 20, 0x100),        // data past the end
              RawEntry(0x0107, kTypeAscii, 40, 8),             // moved below to end one byte late
              RawEntry(0x0108, kTypeUndefined, 20, 0xFFFFFFFF),
              Short(0x0112, {5})};
    Bytes b = Block(s);
    const uint32_t tiffLen = static_cast<uint32_t>(b.size() - 10);
    const size_t entry7 = 10 + 8 + 2 + 12 * 7;
    SetN(b, entry7 + 8, tiffLen - 39, 4, false);
    Reader r = Raw(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x0100), "1");
    for (uint32_t id = 0x0101; id <= 0x0108; ++id) EXPECT_EQ(Text(r, id), kNone) << std::hex << id;
    EXPECT_EQ(Text(r, 274), "5");
    EXPECT_EQ(r.List(kEXIFListIFD0).size(), 2u);
    ExpectEveryTagReadable(r);
    // The same text ending exactly at the block's end is kept.
    SetN(b, entry7 + 8, tiffLen - 40, 4, false);
    EXPECT_NE(Text(Raw(b), 0x0107), kNone);
}

TEST(ExifParse, DamagedDirectoriesLoseOnlyThemselves) {
    const Bytes tiff = BuildTiff(CameraLayout(false, FakeThumbnail(300)));
    const size_t count0 = Get16(tiff, 8);
    auto ifd0Entry = [&](uint16_t id) {
        for (size_t i = 0; i < count0; ++i)
            if (Get16(tiff, 10 + 12 * i) == id) return 10 + 12 * i;
        ADD_FAILURE() << "no entry " << id;
        return size_t(0);
    };
    const size_t exifPtr = ifd0Entry(0x8769) + 8, gpsPtr = ifd0Entry(0x8825) + 8;
    // exifIFD pointer beyond the block: exifIFD and Interop are gone.
    Bytes t = tiff;
    SetN(t, exifPtr, t.size() + 100, 4, false);
    Reader r = Raw(Block(t), IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r.List(kEXIFListExif).empty());
    EXPECT_TRUE(r.List(kEXIFListInterop).empty());
    EXPECT_FALSE(r.List(kEXIFListGPS).empty());
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_EQ(Thumb(r).size(), 300u);
    // GPS pointer at the last byte: its count is unreadable.
    t = tiff;
    SetN(t, gpsPtr, t.size() - 1, 4, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_TRUE(r.List(kEXIFListGPS).empty());
    EXPECT_FALSE(r.List(kEXIFListExif).empty());
    // An exifIFD whose count runs past the block keeps the entries before.
    t = tiff;
    SetN(t, Get32(tiff, exifPtr), 60000, 2, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 0x829A), "1/125");
    EXPECT_EQ(Text(r, 0xA002), "4368");
    ExpectEveryTagReadable(r);
    // IFD1, exifIFD and GPS all pointing back at IFD0: read once each,
    // nothing followed further.
    t = tiff;
    SetN(t, 10 + 12 * count0, 8, 4, false);
    SetN(t, exifPtr, 8, 4, false);
    SetN(t, gpsPtr, 8, 4, false);
    r = Raw(Block(t));
    ASSERT_TRUE(r);
    EXPECT_EQ(r.List(kEXIFListIFD1).size(), count0);
    EXPECT_EQ(r.List(kEXIFListExif).size(), count0);
    EXPECT_EQ(Text(r, 274, IS_EXIF_LIST_IFD1), "6");
    ExpectEveryTagReadable(r);
}

TEST(ExifParse, RepeatedValuesStayBounded) {
    // 5000 entries all pointing at one 60000-byte region: the values kept
    // stay near the block's size instead of 5000 times it.
    ExifLayout s;
    for (int i = 0; i < 5000; ++i) s.ifd0.push_back(RawEntry(static_cast<uint16_t>(0x2000 + i), kTypeByte, 60000, 0x10000));
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
    bool noteMotorola, followBlock, offsetsFromNote;
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
    const Ifd note = {Short(c.namedId, {3}), Ascii(0x0077, "out of line text"), Rat(0x0078, {5, 7}),
                      Undef(0x0079, {'A', 'B', 0, 'C', 'D', 'E'}), Short(0x007A, {1, 2})};
    s.exif = {Rat(0x829A, {1, 60}), NoteEntry(c.header, c.ifdAt, note, c.noteMotorola, c.followBlock, c.offsetsFromNote)};
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
            ExpectEveryTagReadable(r);
            EXPECT_EQ(notes[0]->name, c.name);
            EXPECT_EQ(Note(r, c.namedId), "3");
            EXPECT_EQ(Note(r, 0x0078), "5/7");
            EXPECT_EQ(Note(r, 0x0077), "out of line text");
            EXPECT_EQ(Note(r, 0x007A), "1, 2");
            // UNDEFINED in a maker note: a text of the value field's 4 bytes.
            EXPECT_STREQ(notes[3]->typeName, "A");
            const size_t field = notes[3]->entryPosition + 8;
            EXPECT_EQ(Note(r, 0x0079), std::string(reinterpret_cast<const char*>(&block[field]),
                                                   strnlen(reinterpret_cast<const char*>(&block[field]), 4)));
            EXPECT_EQ(notes[0]->motorola, (c.followBlock ? mm : c.noteMotorola) ? 1 : 0);
            EXPECT_EQ(notes[0]->entryPosition, 10 + TagIn(r, kEXIFListExif, 0x927C)->valueField + c.ifdAt + 2);
            // The maker note hides none of the standard tags.
            EXPECT_EQ(Text(r, 0x829A), "1/60");
            EXPECT_EQ(Text(r, c.namedId, IS_EXIF_LIST_STANDARD), kNone);
        }
    }
    // The make must match exactly.
    NoteCase c = NoteCases()[0];
    for (const char* make : {"Canon ", "CANON", "Nikon", "FUJI", "Casio"}) {
        c.make = make;
        Reader r = Raw(Block(NoteLayout(c, false)), IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r.List(kEXIFListMakerNote).empty()) << make;
    }
    // The maker note may stand in IFD1 as well.
    ExifLayout s = NoteLayout(NoteCases()[7], false);
    s.ifd1 = {s.exif[1]};
    s.exif.pop_back();
    Reader r = Raw(Block(s), IS_EXIF_MAKER_NOTE);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.List(kEXIFListMakerNote).size(), 5u);
}

// ---- thumbnail -----------------------------------------------------------------

TEST(ExifThumbnail, OffsetAndLengthFromIfd1) {
    const size_t size = 600;
    struct Case {
        Ifd ifd1;
        uint32_t from, length;  // 0 length: none expected
        const char* what;
    };
    const std::vector<Case> cases = {
        {{Long(0x0201, {200}), Long(0x0202, {400})}, 200, 400, "ends exactly at the block's end"},
        {{Long(0x0201, {200}), Long(0x0202, {401})}, 0, 0, "one byte past the end"},
        {{Long(0x0201, {0}), Long(0x0202, {10})}, 0, 0, "offset 0"},
        {{Long(0x0201, {200}), Long(0x0202, {0})}, 0, 0, "length 0"},
        {{Long(0x0201, {4294967295}), Long(0x0202, {10})}, 0, 0, "offset reads as -1"},
        {{Long(0x0201, {size + 10}), Long(0x0202, {1})}, 0, 0, "offset at the block length"},
        {{Long(0x0201, {200}), Long(0x0202, {4294967200})}, 0, 0, "huge length"},
        {{Long(0x0201, {200})}, 0, 0, "no length tag"},
        {{Long(0x0202, {100})}, 0, 0, "no offset tag"},
        {{Short(0x0201, {200, 7}), Rat(0x0202, {100, 3})}, 200, 100, "first values, leading numbers"},
        {{Ascii(0x0201, "  +210xyz"), Ascii(0x0202, "12")}, 210, 12, "numbers in texts"},
        {{Ascii(0x0201, "abc"), Long(0x0202, {12})}, 0, 0, "no number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExifLayout s;
        s.ifd0 = {Short(0x0112, {1})};
        s.ifd1 = c.ifd1;
        Bytes tiff = BuildTiff(s);
        ASSERT_LT(tiff.size(), 200u);
        tiff.resize(size);
        for (size_t k = 200; k < size; ++k) tiff[k] = static_cast<uint8_t>(k * 7);
        Reader r = Raw(Block(tiff), IS_EXIF_THUMBNAIL);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, c.length ? 0u : 65u);
        const uint8_t *a = nullptr, *b = nullptr;
        uint32_t la = 0, lb = 0;
        EXPECT_EQ(IS40_EXIFGetThumbnail(r.r, &a, &la), c.length != 0);
        EXPECT_EQ(IS40_GetLastError(), c.length ? 0u : 65u);
        // A GetString in between changes nothing the thumbnail reports.
        EXPECT_EQ(Text(r, 0x9999), kNone);
        EXPECT_EQ(IS40_EXIFGetThumbnail(r.r, &b, &lb), c.length != 0);
        EXPECT_EQ(IS40_GetLastError(), c.length ? 0u : 65u);
        EXPECT_EQ(a, b);  // the reader's own block, not a copy
        ASSERT_EQ(la, c.length);
        if (c.length) EXPECT_EQ(Bytes(a, a + la), Bytes(tiff.begin() + c.from, tiff.begin() + c.from + c.length));
        else EXPECT_EQ(a, nullptr);
    }
    // IFD1 not linked: a reader all the same, with error 65.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {1})};
    s.ifd1 = {Long(0x0201, {8}), Long(0x0202, {8})};
    s.linkIfd1 = false;
    Reader r = Raw(Block(s), IS_EXIF_THUMBNAIL);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 65u);
    EXPECT_TRUE(r.List(kEXIFListIFD1).empty());
    // Without the flag nothing is extracted and nothing is wrong.
    s.linkIfd1 = true;
    r = Raw(Block(s), 0);
    ASSERT_TRUE(r);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(1);
    uint32_t length = 5;
    EXPECT_FALSE(IS40_EXIFGetThumbnail(r.r, &data, &length));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

// ---- reader: entry points, routes, flags ----------------------------------------------

TEST(ExifReader, EntryPointArguments) {
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(nullptr, 0, 1), 5);
    const Bytes b = Block(CameraLayout(false, {}));
    ISHANDLE h = IS40_OpenMemorySource(b.data(), static_cast<uint32_t>(b.size()));
    IS40_CloseSource(h);
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(h, 0, 8), 38);
    int local = 0;
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(&local, 0, 8), 38);
    EXPECT_TRUE(IS40_EXIFDestroyReader(nullptr));

    char* text = reinterpret_cast<char*>(1);
    uint32_t length = 3;
    const uint8_t* data = nullptr;
    EXPECT_FAILS_WITH(IS40_EXIFGetString(nullptr, 274, 31, &text, &length), 5);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_FAILS_WITH(IS40_EXIFGetThumbnail(nullptr, &data, &length), 5);
    // A destroyed or foreign reader is refused, not read.
    Reader r = Raw(b);
    ASSERT_TRUE(r);
    EXPECT_FAILS_WITH(IS40_EXIFGetString(r.r, 274, 31, nullptr, &length), 5);
    ISEXIFREADER gone = r.r;
    r.r = nullptr;
    EXPECT_TRUE(IS40_EXIFDestroyReader(gone));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_FAILS_WITH(IS40_EXIFDestroyReader(gone), 5);
    EXPECT_FAILS_WITH(IS40_EXIFGetString(gone, 274, 31, &text, &length), 5);
    EXPECT_FAILS_WITH(IS40_EXIFGetThumbnail(&local, &data, &length), 5);
}

TEST(ExifReader, JpegRoute) {
    const Bytes jpeg = SmallJpeg(24, 16);
    const ExifLayout s = CameraLayout(true, FakeThumbnail(700));
    const Bytes exif = App1Payload(BuildTiff(s));
    const std::string xmpText = std::string("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>", 41);
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
    EXPECT_EQ(Text(r, 0x010F), "Canon");
    EXPECT_EQ(r.List(kEXIFListIFD0).size(), s.ifd0.size() + 2);
    // No APP1, or only unusable ones: null with last error 0.
    for (const Bytes& j : {jpeg, WithSegments(jpeg, {{0xE1, xmp}}), WithSegments(jpeg, {{0xE2, exif}}),
                           WithSegments(jpeg, {{0xE1, {}}})}) {
        Reader none = FromBytes(j, IS_EXIF_THUMBNAIL);
        EXPECT_FALSE(none);
        EXPECT_EQ(none.error, 0u);
    }
    // The EXIF segment may follow the JFIF segment, as cameras write it.
    ASSERT_EQ(jpeg[3], 0xE0);
    const size_t app0 = 4 + ((jpeg[4] << 8) | jpeg[5]);
    Bytes late(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(app0));
    const Bytes seg = WithSegments({0xFF, 0xD8}, {{0xE1, exif}});
    late.insert(late.end(), seg.begin() + 2, seg.end());
    late.insert(late.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(app0), jpeg.end());
    EXPECT_EQ(Text(FromBytes(late, 0), 274), "6");
    // Fill bytes before a marker are legal.
    Bytes filled = WithSegments(jpeg, {{0xE1, exif}});
    filled.insert(filled.begin() + 2, {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Text(FromBytes(filled, 0), 274), "6");
    // A damaged JPEG header is the decoder's failure.
    Reader bad = FromBytes(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00}, 0);
    EXPECT_FALSE(bad);
    EXPECT_EQ(bad.error, 9u);
}

TEST(ExifReader, OtherSourcesAndFlags) {
    const Bytes block = Block(CameraLayout(false, FakeThumbnail(64)));
    // Without the raw flag a bare block is not a picture format.
    Reader r = FromBytes(block, IS_EXIF_THUMBNAIL);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 0u);
    // A recognised format other than JPEG and TIFF.
    const Bytes px = Pattern(4, 4, 3);
    r = FromBytes(WriteToBytes("x.bmp", [&](ISHANDLE d) {
                      return IS40_WriteBMP(d, px.data(), 4, 4, 24, 12, 0, nullptr, nullptr, 0);
                  }),
                  0);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, 5u);
    // All flags at once.
    r = Raw(block, IS_EXIF_THUMBNAIL | IS_EXIF_USER_COMMENT | IS_EXIF_MAKER_NOTE);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(Thumb(r).size(), 64u);
    EXPECT_EQ(r.List(kEXIFListMakerNote).size(), 3u);
    const uint8_t* comment = nullptr;
    uint32_t length = 0, error = 99;
    ASSERT_TRUE(ISEXIFReaderFrom(r.r)->GetBlock(0x9286, &comment, &length, &error));
    EXPECT_EQ(Bytes(comment, comment + length), Bytes({'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'}));
    // User comment asked for but absent or not bytes: still a reader, 65;
    // the thumbnail then reports 0, as none was asked for.
    ExifLayout s;
    s.ifd0 = {Short(0x0112, {2})};
    for (const Ifd& exif : {Ifd{}, Ifd{Ascii(0x9286, "text")}}) {
        s.exif = exif;
        r = Raw(Block(s), IS_EXIF_USER_COMMENT);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 65u);
        EXPECT_FALSE(ISEXIFReaderFrom(r.r)->GetBlock(0x9286, &comment, &length, &error));
        EXPECT_TRUE(Thumb(r).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);
    }
    // The source may go as soon as the reader exists.
    Bytes temp = block;
    ISHANDLE h = IS40_OpenMemorySource(temp.data(), static_cast<uint32_t>(temp.size()));
    Reader owned(IS40_EXIFCreateReader(h, 0, IS_EXIF_RAW | IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE));
    IS40_CloseSource(h);
    std::fill(temp.begin(), temp.end(), 0xAA);
    Bytes().swap(temp);
    ASSERT_TRUE(owned);
    EXPECT_EQ(Text(owned, 0x0110), "Canon EOS 5D");
    EXPECT_EQ(Note(owned, 0x0007), "Firmware 1.1.1");
    EXPECT_EQ(Thumb(owned), FakeThumbnail(64));
}

TEST(ExifReader, OutOfMemoryAnywhere) {
    const Bytes block = Block(CameraLayout(false, FakeThumbnail(200)));
    const Bytes jpeg = WithSegments(SmallJpeg(16, 8), {{0xE1, Bytes(block.begin() + 4, block.end())}});
    for (int64_t n = 0; n < 40; ++n) {
        for (const Bytes* data : {&jpeg, &block}) {
            const uint32_t flags = 7 | (data == &block ? IS_EXIF_RAW : 0);
            ISHANDLE h = IS40_OpenMemorySource(data->data(), static_cast<uint32_t>(data->size()));
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

// ---- TIFF route ------------------------------------------------------------------------------

namespace {

// A one-pixel grey TIFF page.
ExifLayout TiffLayout(bool motorola) {
    ExifLayout s;
    s.motorola = motorola;
    s.ifd0 = {Short(0x0100, {1}), Short(0x0101, {1}), Short(0x0102, {8}), Short(0x0103, {1}),
              Short(0x0106, {1}), Ascii(0x010F, "Maker"), RawEntry(0x0111, kTypeLong, 1, 8), Short(0x0112, {6}),
              Short(0x0115, {1}), Short(0x0116, {1}), Long(0x0117, {1}), Rat(0x011A, {300, 1})};
    return s;
}

}  // namespace

TEST(ExifTiff, PageWithExifPointer) {
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        ExifLayout s = TiffLayout(mm);
        s.exif = {Rat(0x829A, {1, 125}), Short(0x8827, {200}), Undef(0x9000, {'0', '2', '3', '0'}),
                  SRat(0x9204, {-1, 3}), Short(0xA003, {1}), Undef(0xA300, {3}),
                  Undef(0x9286, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'x'}), Ascii(0x9003, "2020:01:02 03:04:05"),
                  Short(0x1234, {9})};
        s.gps = {Ascii(0x0001, "N")};
        s.ifd1 = {Short(0x0112, {3})};
        const Bytes tiff = BuildTiff(s);
        Reader r = FromBytes(tiff, IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        // A SHORT ImageWidth matches the LONG row first.
        const CEXIFTagBase* width = TagIn(r, kEXIFListIFD0, 0x0100);
        ASSERT_NE(width, nullptr);
        EXPECT_EQ(width->typeCode, kTypeLong);
        EXPECT_EQ(width->tiffRoute, 1);
        EXPECT_EQ(TagIn(r, kEXIFListExif, 0xA003)->typeCode, kTypeLong);
        // UNDEFINED rows become texts up to the first zero.
        EXPECT_STREQ(TagIn(r, kEXIFListExif, 0x9000)->typeName, "A");
        const std::map<uint32_t, std::string> want = {
            {274, "6"},        {0x010F, "Maker"}, {0x011A, "300/1"}, {0x0102, "8"},     {0x829A, "1/125"},
            {0x8827, "200"},   {0x9204, "-1/3"},  {0xA003, "1"},     {0x9000, "0230"},  {0x9286, "ASCII"},
            {0xA300, "\x03"},  {0x9003, "2020:01:02 03:04:05"},      {0x1234, kNone}};  // not in the field table
        for (const auto& w : want) EXPECT_EQ(Text(r, w.first), w.second) << std::hex << w.first;
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

TEST(ExifTiff, PagesWithoutExifAndHostileDirectories) {
    // Without an EXIF pointer the reader is there but empty.
    const Bytes px = Pattern(5, 4, 3);
    for (const Bytes& tiff :
         {WriteToBytes("plain.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, px.data(), 5, 4, 24, 15, nullptr, 1, nullptr, 0); }),
          BuildTiff(TiffLayout(false))}) {
        Reader r = FromBytes(tiff, IS_EXIF_THUMBNAIL);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        for (uint32_t i = 0; i < kEXIFListCount; ++i) EXPECT_TRUE(r.List(i).empty());
        EXPECT_EQ(Text(r, 274), kNone);
        EXPECT_TRUE(Thumb(r).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);
    }
    Reader broken = FromBytes(Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, 0);
    EXPECT_FALSE(broken);
    EXPECT_NE(broken.error, 0u);

    ExifLayout s = TiffLayout(false);
    s.exif = {RawEntry(0x829A, kTypeRational, 0x10000000, 0x20), RawEntry(0x9286, kTypeUndefined, 0xFFFFFFFF, 0),
              RawEntry(0x8827, kTypeShort, 100000, 0xFFFFFFF0), Rat(0x829D, {28, 10}),
              RawEntry(0x9000, kTypeFloat, 1, 0)};
    Reader r = FromBytes(BuildTiff(s), 0);
    ASSERT_TRUE(r);
    for (uint32_t id : {0x829A, 0x9286, 0x8827, 0x9000}) EXPECT_EQ(Text(r, id), kNone) << std::hex << id;
    EXPECT_EQ(Text(r, 0x829D), "28/10");
    // The EXIF pointer beyond the file keeps IFD0.
    s = TiffLayout(false);
    s.ifd0.push_back(Long(0x8769, {0x7FFFFFF0}));
    r = FromBytes(BuildTiff(s), 0);
    ASSERT_TRUE(r);
    EXPECT_EQ(Text(r, 274), "6");
    EXPECT_TRUE(r.List(kEXIFListExif).empty());
}

// ---- against exiftool and libexif ---------------------------------------------------------

namespace {

bool HaveExiftool() { return HavePrograms("exiftool"); }

struct ToolTag {
    std::string dir, type, value;
    uint32_t id = 0, count = 0;
};

// exiftool's verbose listing of the EXIF directories of a file. A value
// line ("N) Name = value") is followed by its "- Tag 0x..." line; "| "
// marks give the nesting depth.
std::vector<ToolTag> ExiftoolTags(const std::string& path) {
    std::vector<ToolTag> tags;
    std::vector<std::string> dirs;
    std::istringstream in(CaptureText("exiftool -v2 '" + path + "' 2>/dev/null"));
    std::string line, pendingValue;
    size_t pendingDepth = 0;
    while (std::getline(in, line)) {
        size_t i = line.find_first_not_of(' '), depth = 0;
        while (i != std::string::npos && line.compare(i, 2, "| ") == 0) ++depth, i += 2;
        const std::string rest = i == std::string::npos ? std::string() : line.substr(i);
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
        } else if (rest.find("- Tag 0x") != std::string::npos) {
            const size_t used = pendingDepth;
            pendingDepth = 0;
            unsigned id = 0, bytes = 0, count = 0;
            char type[32] = {};
            if (used == 0 || used > dirs.size() ||
                std::sscanf(rest.c_str() + rest.find("- Tag 0x"), "- Tag 0x%4x (%u bytes, %31[a-z0-9][%u]", &id,
                            &bytes, type, &count) != 4)
                continue;
            tags.push_back({dirs[used - 1], type, pendingValue, id, count});
        }
    }
    return tags;
}

uint32_t ListOfDir(const std::string& dir) {
    const char* kDirs[] = {"IFD0", "ExifIFD", "InteropIFD", "IFD1", "GPS"};  // in list order
    return static_cast<uint32_t>(std::find(kDirs, kDirs + 5, dir) - kDirs);
}

// Our value text in exiftool's raw verbose form: values separated by
// spaces, rationals in brackets, bytes in decimal.
std::string AsTool(const Reader& r, uint32_t list, const CEXIFTagBase& tag) {
    std::string text = Text(r, tag.tagId, 1u << list), out;
    if (tag.typeCode == kTypeAscii) return text;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, ", ") == 0) {
            out += ' ';
            ++i;
        } else if (text[i] == 'x' && tag.typeCode == kTypeByte) {
            out += std::to_string(std::stoul(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return tag.typeCode == kTypeRational || tag.typeCode == kTypeSRational ? "(" + out + ")" : out;
}

// Every tag of the file's EXIF directories compared with exiftool's list.
void CompareWithExiftool(const std::string& path, const Reader& r) {
    static const std::map<std::string, const char*> kTypes = {
        {"int8u", "U8"}, {"string", "A"}, {"int16u", "U16"}, {"int32u", "U32"}, {"rational64u", "UR"},
        {"int8s", "I8"}, {"undef", "U8"}, {"int16s", "I16"}, {"int32s", "I32"}, {"rational64s", "SR"},
        {"float", "R4"}, {"double", "R8"}};
    size_t perList[kEXIFListCount] = {};
    const std::vector<ToolTag> tool = ExiftoolTags(path);
    ASSERT_FALSE(tool.empty());
    for (const ToolTag& t : tool) {
        const uint32_t list = ListOfDir(t.dir);
        if (list >= kEXIFListMakerNote) continue;
        ++perList[list];
        SCOPED_TRACE(t.dir + " " + std::to_string(t.id) + " " + t.value);
        const CEXIFTagBase* found = TagIn(r, list, static_cast<uint16_t>(t.id));
        if (!found) continue;
        const CEXIFTagBase& ours = *found;
        EXPECT_EQ(ours.count, t.count);
        auto type = kTypes.find(t.type);
        EXPECT_STREQ(ours.typeName, type == kTypes.end() ? "?" : type->second);
        const std::string& v = t.value;
        if (t.type == "undef") {
            if (t.id != 0x9000 && t.id != 0xA000 && t.id != 0x0002) continue;
            std::string hex;
            for (unsigned char ch : v) {
                char one[8];
                std::snprintf(one, sizeof one, "%sx%02x", hex.empty() ? "" : ", ", ch);
                hex += one;
            }
            EXPECT_EQ(Text(r, t.id, 1u << list), hex);
        } else if (t.type.compare(0, 8, "rational") == 0) {
            ASSERT_NE(v.find('('), std::string::npos);
            EXPECT_EQ(AsTool(r, list, ours), v.substr(v.find('(')));
        } else if (v.find("(SubDirectory)") == std::string::npos && v.find("(Binary data") == std::string::npos) {
            EXPECT_EQ(AsTool(r, list, ours), v);
        }
    }
    for (uint32_t i = 0; i < kEXIFListMakerNote; ++i) EXPECT_EQ(r.List(i).size(), perList[i]) << ISEXIFListName(i);
}

}  // namespace

TEST(ExifExiftool, EveryTagMatchesBothByteOrders) {
    if (!HaveExiftool()) GTEST_SKIP() << "exiftool not installed";
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const std::string name = "tagged_" + order + ".jpg", thumbPath = ScratchPath(name + "_thumb.jpg");
        SmallJpeg(160, 120, 9, name + "_thumb.jpg");
        SmallJpeg(320, 240, 4, name);
        const std::string path = ScratchPath(name);
        const std::string cmd =
            "exiftool -q -overwrite_original -n -ExifByteOrder=" + order + " '-ThumbnailImage<=" + thumbPath +
            "' -Make=Canon '-Model=Canon EOS 5D' -Orientation=6 -XResolution=72 -YResolution=72 "
            "-ResolutionUnit=2 -Software=Tester '-Artist=A. Person' -ExposureTime=0.008 -FNumber=2.8 "
            "-ExposureProgram=2 -ISO=400 '-DateTimeOriginal=2021:03:04 05:06:07' -ExposureCompensation=-0.6666667 "
            "-MeteringMode=5 -Flash=16 -FocalLength=85 -UserComment=hello -ColorSpace=1 -ExifImageWidth=320 "
            "-ExifImageHeight=240 -SubSecTimeOriginal=42 -InteropIndex=R98 -GPSLatitude=51.5 -GPSLatitudeRef=N "
            "-GPSLongitude=0.1275 -GPSLongitudeRef=W -GPSAltitude=35.2 -GPSAltitudeRef=0 '-GPSTimeStamp=10:20:30' '" +
            path + "'";
        ASSERT_EQ(Shell(cmd), 0) << cmd;
        Reader r = FromFile(path, IS_EXIF_THUMBNAIL | IS_EXIF_USER_COMMENT);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.List(kEXIFListIFD0)[0]->motorola, order == "MM" ? 1 : 0);
        for (uint32_t i = 0; i < kEXIFListMakerNote; ++i) EXPECT_FALSE(r.List(i).empty()) << ISEXIFListName(i);
        CompareWithExiftool(path, r);
        EXPECT_EQ(Text(r, 274), "6");
        EXPECT_EQ(Text(r, 0x829A), "1/125");

        // The thumbnail exiftool stored, byte for byte.
        EXPECT_EQ(Thumb(r), ReadFileBytes(thumbPath));
    }
}
