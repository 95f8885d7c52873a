// EXIF reader: blocks built here field by field (both byte orders, every type, the five directories, the maker-note
// layouts), JPEGs tagged by exiftool and read back against its own listing, the TIFF route, and damaged blocks. Random
// damage is the fuzz target's business.
#include "exif/isexif.h"
#include "tests/core/testutil.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace vstest;
using namespace CISEXIFData;

namespace {

// ---- a small EXIF / TIFF builder --------------------------------------------

void PutN(Bytes& b, uint64_t v, uint32_t n, bool mm) {
    for (uint32_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * (mm ? n - 1 - i : i))));
}
void SetN(Bytes& b, size_t at, uint64_t v, uint32_t n, bool mm = false) {
    for (uint32_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (mm ? n - 1 - i : i)));
}

// One IFD entry: words of wordSize bytes in the block's byte order, or (raw) a value field stored as given, or (link)
// the offset of what the tag points at; gen makes data that depends on where it lands.
struct TEntry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0, wordSize = 1, field = 0;
    std::vector<uint64_t> words;
    bool raw = false, link = false;
    std::function<Bytes(uint32_t tiffOffset, bool mm)> gen;
};
using Ifd = std::vector<TEntry>;

// Numbers of any type (a rational is two words, a real its bit pattern).
TEntry Num(uint16_t tag, uint16_t type, std::vector<int64_t> v) {
    static const uint8_t kWord[] = {0, 1, 1, 2, 4, 4, 1, 1, 2, 4, 4, 4, 8};
    TEntry e;
    e.tag = tag, e.type = type, e.wordSize = kWord[type];
    e.words.assign(v.begin(), v.end());
    e.count = static_cast<uint32_t>(v.size() / (type == kTypeRational || type == kTypeSRational ? 2 : 1));
    return e;
}
TEntry Short(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeShort, std::move(v)); }
TEntry Long(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeLong, std::move(v)); }
TEntry Rat(uint16_t tag, std::vector<int64_t> v) { return Num(tag, kTypeRational, std::move(v)); }
TEntry Chars(uint16_t tag, uint16_t type, const std::string& s) { return Num(tag, type, {s.begin(), s.end()}); }
TEntry Undef(uint16_t tag, const std::string& s) { return Chars(tag, kTypeUndefined, s); }
TEntry Ascii(uint16_t tag, const std::string& s) { return Chars(tag, kTypeAscii, s + '\0'); }
TEntry RawEntry(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
    TEntry e;
    e.tag = tag, e.type = type, e.count = count, e.raw = true, e.field = field;
    return e;
}

struct ExifLayout {
    bool motorola = false;
    Ifd ifd0{}, exif{}, interop{}, gps{}, ifd1{};  // defaulted: a layout may name the first few only
    Bytes thumbnail{};
};

// Writes one entry's 12 bytes; out-of-line data goes to tail at *data.
void PutEntry(Bytes& t, Bytes& tail, const TEntry& e, uint32_t* data, bool mm) {
    PutN(t, e.tag, 2, mm);
    PutN(t, e.type, 2, mm);
    PutN(t, e.count, 4, mm);
    if (e.raw) return PutN(t, e.field, 4, mm);
    Bytes d = e.gen ? e.gen(*data, mm) : Bytes();
    for (uint64_t w : e.words) PutN(d, w, e.wordSize, mm);
    if (d.size() <= 4) {  // kept in the value field
        d.resize(4, 0);
        t = Cat(t, d);
        return;
    }
    PutN(t, *data, 4, mm);
    d.resize(d.size() + (d.size() & 1), 0);
    *data += static_cast<uint32_t>(d.size());
    tail = Cat(tail, d);
}

// The TIFF structure from its header on: IFD0, exifIFD, Interop, GPS, IFD1, each followed by its out-of-line values,
// then the thumbnail; pointers are filled in as their targets are placed.
Bytes BuildTiff(ExifLayout s) {
    const bool mm = s.motorola;
    auto link = [](Ifd& ifd, uint16_t tag) { ifd.push_back(Long(tag, {0})), ifd.back().link = true; };
    if (!s.exif.empty() || !s.interop.empty()) link(s.ifd0, 0x8769);
    if (!s.gps.empty()) link(s.ifd0, 0x8825);
    if (!s.interop.empty()) link(s.exif, 0xA005);
    if (!s.thumbnail.empty()) link(s.ifd1, 0x0201), link(s.ifd1, 0x0202);
    Bytes t = {static_cast<uint8_t>(mm ? 'M' : 'I'), static_cast<uint8_t>(mm ? 'M' : 'I')};
    PutN(t, 42, 2, mm);
    PutN(t, 8, 4, mm);
    std::map<uint16_t, size_t> field = {{0, 0}};  // of each pointer; 0: IFD0's next-IFD field
    const uint16_t kPointer[5] = {0, 0x8769, 0xA005, 0x8825, 0};
    const Ifd* order[5] = {&s.ifd0, &s.exif, &s.interop, &s.gps, &s.ifd1};
    for (int i = 0; i < 5; ++i) {
        if (i > 0 && order[i]->empty()) continue;
        if (i > 0) SetN(t, field.at(kPointer[i]), t.size(), 4, mm);
        PutN(t, order[i]->size(), 2, mm);
        uint32_t data = static_cast<uint32_t>(t.size() + 12 * order[i]->size() + 4);
        Bytes tail;
        for (const TEntry& e : *order[i]) {
            if (e.link) field[e.tag] = t.size() + 8;
            PutEntry(t, tail, e, &data, mm);
        }
        if (i == 0) field[0] = t.size();
        PutN(t, 0, 4, mm);
        t = Cat(t, tail);
    }
    if (!s.thumbnail.empty()) SetN(t, field[0x0201], t.size(), 4, mm), SetN(t, field[0x0202], s.thumbnail.size(), 4, mm);
    return Cat(t, s.thumbnail);
}

// An APP1 payload ("Exif", two zero bytes, the TIFF structure), and the
// block as the parser sees it, with a 4-byte lead in front.
Bytes App1Payload(const Bytes& tiff) { return Cat({'E', 'x', 'i', 'f', 0, 0}, tiff); }
Bytes Block(const Bytes& tiff) {
    const Bytes p = App1Payload(tiff);
    return Cat({0xFF, 0xE1, static_cast<uint8_t>((p.size() + 2) >> 8), static_cast<uint8_t>(p.size() + 2)}, p);
}
Bytes Block(const ExifLayout& s) { return Block(BuildTiff(s)); }

// The MakerNote entry: header, an IFD at ifdAt in the block's byte order or
// its own, out-of-line values counted from the note or from the TIFF header.
TEntry NoteEntry(const Bytes& header, uint32_t ifdAt, const Ifd& entries, bool noteMM, bool followBlock,
                 bool fromNote) {
    TEntry e;
    e.tag = 0x927C, e.type = kTypeUndefined;
    e.gen = [=](uint32_t noteAt, bool blockMM) {
        const bool mm = followBlock ? blockMM : noteMM;
        Bytes n = header, tail;
        n.resize(ifdAt, 0);
        PutN(n, entries.size(), 2, mm);
        uint32_t data = (fromNote ? 0 : noteAt) + ifdAt + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        for (const TEntry& x : entries) PutEntry(n, tail, x, &data, mm);
        PutN(n, 0, 4, mm);
        return Cat(n, tail);
    };
    e.count = static_cast<uint32_t>(e.gen(0, false).size());
    return e;
}

struct Reader {
    std::shared_ptr<void> p;
    uint32_t error = 0;
    ISEXIFREADER r() const { return p.get(); }
    explicit operator bool() const { return p != nullptr; }
    const TagList& List(uint32_t i) const { return ISEXIFReaderFrom(r())->Lists()[i]; }
};

Reader FromBytes(const Bytes& d, uint32_t flags, uint32_t page = 0) {
    ISHANDLE h = IS40_OpenMemorySource(d.data(), static_cast<uint32_t>(d.size()));
    std::shared_ptr<void> r(IS40_EXIFCreateReader(h, page, flags), IS40_EXIFDestroyReader);
    const uint32_t error = IS40_GetLastError();
    IS40_CloseSource(h);
    return {r, error};
}
Reader Raw(const Bytes& block, uint32_t flags = 0) { return FromBytes(block, flags | IS_EXIF_RAW); }

const char kNone[] = "<none>";

// The value text of a tag through the entry point, or "<none>".
std::string Text(const Reader& r, uint32_t id, uint32_t mask = IS_EXIF_LIST_STANDARD) {
    char* text = nullptr;
    uint32_t length = 99;
    if (!IS40_EXIFGetString(r.r(), id, mask, &text, &length)) return "<failed>";
    EXPECT_EQ(IS40_GetLastError(), text ? 0u : 57u);
    if (!text) return length == 0 ? kNone : "<length>";
    std::string s(text, length);
    EXPECT_EQ(std::strlen(text), length);
    IS40_GlobalFree(text);
    return s;
}
std::string Note(const Reader& r, uint32_t id) { return Text(r, id, IS_EXIF_LIST_MAKER_NOTE); }

Bytes Thumb(const Reader& r) {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    return IS40_EXIFGetThumbnail(r.r(), &data, &length) ? Bytes(data, data + length) : Bytes();
}

// The JPEG with the segments (marker, payload) put right after SOI.
Bytes WithSegments(const Bytes& jpeg, const std::vector<std::pair<uint8_t, Bytes>>& segments) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (const auto& s : segments) {
        out.insert(out.end(), {0xFF, s.first});
        PutN(out, s.second.size() + 2, 2, true);
        out = Cat(out, s.second);
    }
    return Cat(out, Bytes(jpeg.begin() + 2, jpeg.end()));
}

// A camera-like set of directories with a Canon maker note.
ExifLayout CameraLayout(bool motorola, size_t thumbnail) {
    ExifLayout s{motorola};
    s.ifd0 = {Ascii(0x010F, "Canon"), Ascii(0x0110, "Canon EOS 5D"), Short(0x0112, {6}), Rat(0x011A, {72, 1})};
    const Ifd canon = {Short(0x0001, {92, 2, 0, 4}), Ascii(0x0006, "IMG:EOS 5D JPEG"), Ascii(0x0007, "Firmware 1.1.1")};
    s.exif = {Rat(0x829A, {1, 125}), Short(0x8827, {400}), Undef(0x9000, "0221"), Num(0x9204, kTypeSRational, {-2, 3}),
              NoteEntry({}, 0, canon, false, true, false), Undef(0x9286, std::string("ASCII\0\0\0hi", 10)),
              Long(0xA002, {4368})};
    s.interop = {Ascii(0x0001, "R98")};
    s.gps = {Num(0x0000, kTypeByte, {2, 2, 0, 0}), Ascii(0x0001, "N"), Rat(0x0002, {51, 1, 30, 1, 1234, 100})};
    s.ifd1 = {Short(0x0103, {6}), Rat(0x011A, {72, 1})};
    s.thumbnail = Pattern(static_cast<uint32_t>(thumbnail), 1, 1, 5);
    return s;
}

// ---- exiftool's listing --------------------------------------------------------

struct ToolTag { std::string dir, type, value; uint32_t id, count; };

// exiftool's verbose listing: "| " marks give the depth, a value line
// "N)  Name = value" is followed by its "- Tag 0x..." line.
std::vector<ToolTag> ExiftoolTags(const std::string& path) {
    static const std::regex dirLine(R"(^ *((?:\| )*)\+ \[(\w+) directory)");
    static const std::regex valueLine(R"(^ *((?:\| )*)\d+\) +(?:\S+ = )?(.*)$)");
    static const std::regex tagLine(R"(- Tag 0x([0-9a-f]{4}) \(\d+ bytes, ([a-z0-9]+)\[(\d+)\])");
    std::vector<ToolTag> tags;
    std::vector<std::string> dirs;
    const Bytes listing = Capture("exiftool -v2 '" + path + "' 2>/dev/null");
    std::istringstream in(std::string(listing.begin(), listing.end()));
    std::string line, value;
    size_t depth = 0;
    for (std::smatch m; std::getline(in, line);) {
        if (std::regex_search(line, m, dirLine)) {
            dirs.resize(m[1].length() / 2);
            dirs.push_back(m[2]);
        } else if (std::regex_search(line, m, valueLine)) {
            depth = m[1].length() / 2, value = m[2];
        } else if (std::regex_search(line, m, tagLine) && depth > 0 && depth <= dirs.size()) {
            tags.push_back({dirs[depth - 1], m[2], value, static_cast<uint32_t>(std::stoul(m[1], nullptr, 16)),
                            static_cast<uint32_t>(std::stoul(m[3]))});
            depth = 0;
        }
    }
    return tags;
}

// Our value text in exiftool's raw form: values separated by spaces,
// rationals in brackets, bytes in decimal, UNDEFINED bytes as characters.
std::string AsTool(const std::string& text, const std::string& type) {
    std::string out;
    std::istringstream in(text);
    for (std::string v; type != "string" && std::getline(in, v, ',');) {
        if (v[0] == ' ') v.erase(0, 1);
        const int byte = v[0] == 'x' ? std::stoi(v.substr(1), nullptr, 16) : -1;
        if (byte >= 0) v = type == "undef" ? std::string(1, static_cast<char>(byte)) : std::to_string(byte);
        out += (out.empty() || type == "undef" ? "" : " ") + v;
    }
    return type == "string" ? text : type.compare(0, 8, "rational") ? out : "(" + out + ")";
}

}  // namespace

// ---- blocks built here ---------------------------------------------------------

TEST(ExifParse, EveryTypeInBothByteOrdersAndLookup) {
    const std::string unknown = "x55, x6e, x6b, x6e, x6f, x77, x6e, x20, x46, x6f, x72, x6d, x61, x74";
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "Motorola" : "Intel");
        const struct { TEntry entry; std::string text; const char* type; } cases[] = {
            {Num(0x1001, kTypeByte, {0, 15, 16, 255}), "x00, x0f, x10, xff", "U8"},
            {Num(0x1002, kTypeSByte, {-128, 127, 0, -1, 5}), "-128, 127, 0, -1, 5", "I8"},
            {Short(0x1004, {7, 65535, 2}), "7, 65535, 2", "U16"},
            {Num(0x1006, kTypeSShort, {-1, 2, -32768}), "-1, 2, -32768", "I16"},
            {Long(0x1007, {4294967295, 2}), "-1, 2", "U32"},
            {Num(0x1008, kTypeSLong, {-5, 2147483647}), "-5, 2147483647", "I32"},
            {Rat(0x1009, {4294967295, 0, 1, 3}), "4294967295/0, 1/3", "UR"},
            {Num(0x100A, kTypeSRational, {-2, 3}), "-2/3", "SR"},
            {Num(0x100B, kTypeFloat, {0x3F800000, 0xBE800000}), "1.0000, -0.2500", "R4"},
            {Num(0x100C, kTypeDouble, {0x3FC0000000000000}), "0.1250", "R8"},
            {Chars(0x100E, kTypeAscii, "no terminator"), "no terminator", "A"},
            {Ascii(0x100F, std::string("NIKON\0 x", 8)), "NIKON", "A"}, {Short(0x1010, {}), "", "U16"},
            // UNDEFINED: versions keep 4 bytes, FileSource one, UserComment all; any other shows a fixed text.
            {Undef(0x9000, "0230"), "x30, x32, x33, x30", "U8"}, {Undef(0x0002, "0100"), "x30, x31, x30, x30", "U8"},
            {Undef(0xA300, "\3\4"), "x03", "U8"},
            {Undef(0x9286, std::string("ASCII\0\0\0ok", 10)), "x41, x53, x43, x49, x49, x00, x00, x00, x6f, x6b", "U8"},
            {Undef(0x927C, "12345678"), unknown, "U8"}};
        ExifLayout s{mm, {Ascii(0x010F, "First"), Ascii(0x010F, "Second")}};
        for (const auto& c : cases) s.ifd0.push_back(c.entry);
        s.ifd1 = {Short(0x0112, {3})};
        Reader r = Raw(Block(s));
        ASSERT_TRUE(r);
        for (const auto& c : cases) {
            EXPECT_EQ(Text(r, c.entry.tag), c.text) << std::hex << c.entry.tag;
            const CEXIFTagBase* tag = FindTag(r.List(kEXIFListIFD0), c.entry.tag);
            ASSERT_NE(tag, nullptr);
            EXPECT_STREQ(tag->typeName, c.type);
            EXPECT_EQ(tag->count, c.entry.count);  // as declared, even past a zero
        }
        // The first of two tags wins; masks pick the lists searched.
        EXPECT_EQ(Text(r, 0x010F) + Text(r, 274) + Text(r, 274, IS_EXIF_LIST_IFD0 | 32), std::string("First3") + kNone);
    }
}

TEST(ExifParse, HostileHeadersAndEntries) {
    ExifLayout s{false, {Short(0x0112, {3})}};
    const Bytes good = Block(s);
    s.motorola = true;
    const Bytes goodMM = Block(s);
    auto bent = [](Bytes b, size_t at, uint64_t v, uint32_t n) {
        SetN(b, at, v, n, true);
        return b;
    };
    // 42 in either byte order is accepted under either mark; a bad mark,
    // magic, signature or IFD0 offset, or any cut into IFD0, is not.
    for (const Bytes& b : {good, bent(good, 12, 0x002A, 2), bent(goodMM, 12, 0x2A00, 2)})
        EXPECT_EQ(Text(Raw(b), 274), "3");
    auto cut = [&](size_t from, size_t to) { return Bytes(good.begin() + from, good.begin() + to); };
    for (const Bytes& b : {bent(good, 10, 'M' * 256 + 'X', 2), bent(good, 12, 0x002B, 2), bent(good, 4, 'e', 1),
                           bent(good, 14, 0xF0FFFFFF, 4), cut(0, good.size() - 1), cut(0, 26), cut(0, 19), cut(0, 13),
                           cut(0, 9), cut(4, good.size())}) {
        Reader r = Raw(b);
        EXPECT_FALSE(r) << b.size();
        EXPECT_EQ(r.error, 0u);
    }
    s.motorola = false;
    // Counts beyond the block or negative, types 13 and 0, offset + size wrapping 32 bits, data past the end, a text
    // (moved below) ending one byte late: no tags, the rest stays.
    s.ifd0 = {Short(0x0100, {1}), RawEntry(0x0101, kTypeLong, 0x7FFFFFFF, 8), RawEntry(0x0102, kTypeLong, 0x80000001, 8),
              RawEntry(0x0103, 13, 1, 5), RawEntry(0x0104, 0, 1, 5), RawEntry(0x0105, kTypeRational, 2, 0xFFFFFFF8),
              RawEntry(0x0106, kTypeDouble, 20, 0x100), RawEntry(0x0107, kTypeAscii, 40, 8),
              RawEntry(0x0108, kTypeUndefined, 20, 0xFFFFFFFF), Short(0x0112, {5})};
    Bytes b = Block(s);
    const size_t textField = 10 + 8 + 2 + 12 * 7 + 8;
    SetN(b, textField, b.size() - 10 - 39, 4);
    Reader r = Raw(b);
    for (uint32_t id = 0x0101; id <= 0x0108; ++id) EXPECT_EQ(Text(r, id), kNone) << std::hex << id;
    EXPECT_EQ(Text(r, 0x0100) + Text(r, 274), "15");
    SetN(b, textField, b.size() - 10 - 40, 4);  // now ending at the block's end
    EXPECT_NE(Text(Raw(b), 0x0107), kNone);
    // 5000 entries all pointing at one 60000-byte region: the values kept
    // stay near the block's size instead of 5000 times it.
    s.ifd0.assign(5000, RawEntry(0x2000, kTypeByte, 60000, 0x10000));
    Bytes tiff = BuildTiff(s);
    tiff.resize(0x10000 + 60000, 0x41);
    r = Raw(Block(tiff));
    uint64_t kept = 0;
    for (const auto& t : r.List(kEXIFListIFD0)) kept += t->ValueCount();
    EXPECT_GT(kept, 60000u);
    EXPECT_LE(kept, 2u * (tiff.size() + 10) + 65536);
}

TEST(ExifParse, DamagedDirectoriesLoseOnlyThemselves) {
    const Bytes tiff = BuildTiff(CameraLayout(false, 300));
    const size_t count0 = Get16(tiff, 8), exifPtr = 10 + 12 * (count0 - 2) + 8, gpsPtr = exifPtr + 12;
    // exifIFD beyond the block, GPS count unreadable, an exifIFD whose count
    // runs past the block (keeping the entries before), IFD1 not linked.
    const size_t kAny = 999;
    const struct { size_t at, value, n, sizes[5]; } cases[] = {  // sizes of IFD0, exifIFD, Interop, IFD1, GPS
        {exifPtr, tiff.size() + 100, 4, {count0, 0, 0, 4, 3}}, {gpsPtr, tiff.size() - 1, 4, {count0, 8, 1, 4, 0}},
        {Get32(tiff, exifPtr), 60000, 2, {count0, kAny, 1, 4, 3}}, {10 + 12 * count0, 0, 4, {count0, 8, 1, 0, 3}}};
    for (const auto& c : cases) {
        Bytes t = tiff;
        SetN(t, c.at, c.value, c.n);
        Reader r = Raw(Block(t), IS_EXIF_THUMBNAIL);
        for (uint32_t i = 0; i < 5; ++i)
            EXPECT_TRUE(c.sizes[i] == kAny || r.List(i).size() == c.sizes[i]) << c.at << " " << i;
        EXPECT_EQ(Text(r, 0x829A) + Text(r, 0xA002), c.sizes[1] ? "1/1254368" : std::string(kNone) + kNone);
        EXPECT_EQ(r.error, c.sizes[3] ? 0u : 65u);
        EXPECT_EQ(Thumb(r).size(), c.sizes[3] ? 300u : 0u);
    }
}

TEST(ExifMakerNote, EveryLayoutInBothByteOrders) {
    const Bytes nikon2 = {'N', 'i', 'k', 'o', 'n', 0, 2, 0x10, 0, 0};
    // noteMM: the note's own byte order, unless it follows the block's; fromNote: offsets counted from the note.
    const struct { const char* make; Bytes header; uint32_t ifdAt; bool noteMM, followBlock, fromNote; uint16_t namedId;
                   const char* name; } cases[] = {
        {"Canon", {}, 0, false, true, false, 0x0006, "Image type"},
        {"NIKON", {'N', 'i', 'k', 'o', 'n', 0, 1, 0}, 8, false, true, false, 0x0003, "Quality"},
        {"NIKON CORPORATION", {}, 0, false, true, false, 0x0002, "ISO Setting"},
        {"NIKON CORPORATION", Cat(nikon2, {'M', 'M', 0, '*', 0, 0, 0, 8}), 18, true, false, false, 2, "unknown tag ( 0x2)"},
        {"NIKON", Cat(nikon2, {'I', 'I', '*', 0, 8, 0, 0, 0}), 18, false, false, false, 2, "unknown tag ( 0x2)"},
        {"FUJIFILM", {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 12, 0, 0, 0}, 12, false, false, true, 0x1000, "Quality"},
        {"OLYMPUS OPTICAL CO.,LTD", {'O', 'L', 'Y', 'M', 'P', 0, 1, 0}, 8, false, true, false, 0x0201, "JpegQual"},
        {"CASIO", {}, 0, false, true, false, 0x0002, "Quality"},
        {"Canon ", {}, 0, false, true, false, 0x0006, nullptr},  // the make must match exactly
    };
    for (const auto& c : cases) {
        for (bool mm : {false, true}) {
            SCOPED_TRACE(std::string(c.make) + " at " + std::to_string(c.ifdAt) + (mm ? " MM" : " II"));
            ExifLayout s{mm, {Ascii(0x010F, c.make), Short(0x0112, {1})}};
            const Ifd note = {Short(c.namedId, {3}), Ascii(0x0077, "out of line text"), Rat(0x0078, {5, 7}),
                              Undef(0x0079, std::string("AB\0CDE", 6)), Short(0x007A, {1, 2})};
            s.exif = {Rat(0x829A, {1, 60}), NoteEntry(c.header, c.ifdAt, note, c.noteMM, c.followBlock, c.fromNote)};
            const uint32_t list = mm && c.ifdAt == 0 ? kEXIFListIFD1 : kEXIFListExif;
            if (list == kEXIFListIFD1) std::swap(s.exif, s.ifd1);  // it may stand in IFD1 as well
            const Bytes block = Block(s);
            EXPECT_TRUE(Raw(block).List(kEXIFListMakerNote).empty());
            Reader r = Raw(block, IS_EXIF_MAKER_NOTE);
            const TagList& notes = r.List(kEXIFListMakerNote);
            ASSERT_EQ(notes.size(), c.name ? 5u : 0u);
            if (!c.name) continue;
            EXPECT_EQ(notes[0]->name, c.name);
            EXPECT_EQ(Note(r, c.namedId) + Note(r, 0x0078) + Note(r, 0x007A), "35/71, 2");
            EXPECT_EQ(Note(r, 0x0077), "out of line text");
            // UNDEFINED in a maker note: a text of the value field's 4 bytes.
            const char* field = reinterpret_cast<const char*>(&block[notes[3]->entryPosition + 8]);
            EXPECT_EQ(Note(r, 0x0079), std::string(field, strnlen(field, 4)));
            EXPECT_EQ(notes[0]->motorola, (c.followBlock ? mm : c.noteMM) ? 1 : 0);
            EXPECT_EQ(notes[0]->entryPosition, 10 + FindTag(r.List(list), 0x927C)->valueField + c.ifdAt + 2);
            // The maker note hides none of the standard tags.
            EXPECT_EQ(Text(r, 0x829A) + Text(r, c.namedId, IS_EXIF_LIST_STANDARD), std::string("1/60") + kNone);
        }
    }
}

TEST(ExifThumbnail, OffsetAndLengthFromIfd1) {
    const struct { Ifd ifd1; uint32_t from, length; } cases[] = {  // 0 length: none expected
        {{Long(0x0201, {200}), Long(0x0202, {400})}, 200, 400},  // ends exactly at the block's end
        {{Long(0x0201, {200}), Long(0x0202, {401})}, 0, 0},
        {{Long(0x0201, {0}), Long(0x0202, {10})}, 0, 0},
        {{Long(0x0201, {200}), Long(0x0202, {0})}, 0, 0},
        {{Long(0x0201, {610}), Long(0x0202, {1})}, 0, 0},          // at the block's length
        {{Long(0x0201, {200})}, 0, 0},
        {{Long(0x0202, {100})}, 0, 0},
        {{Short(0x0201, {200, 7}), Rat(0x0202, {100, 3})}, 200, 100},  // first values, leading numbers
        {{Ascii(0x0201, "  +210xyz"), Ascii(0x0202, "12")}, 210, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ExifLayout s;
        s.ifd0 = {Short(0x0112, {1})};
        s.ifd1 = c.ifd1;
        Bytes tiff = BuildTiff(s);
        ASSERT_LT(tiff.size(), 200u);
        tiff.resize(600);
        for (size_t k = 200; k < tiff.size(); ++k) tiff[k] = static_cast<uint8_t>(k * 7);
        Reader r = Raw(Block(tiff), IS_EXIF_THUMBNAIL);
        EXPECT_EQ(Thumb(r), Bytes(tiff.begin() + c.from, tiff.begin() + c.from + c.length));
        EXPECT_EQ(IS40_GetLastError(), c.length ? 0u : 65u);
        // Without the flag nothing is extracted and nothing is wrong.
        EXPECT_TRUE(Thumb(Raw(Block(tiff), 0)).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);
    }
}

// ---- entry points, JPEG and TIFF routes ----------------------------------------------

TEST(ExifReader, EntryPointArguments) {
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(nullptr, 0, 1), 5);
    const Bytes b = Block(CameraLayout(false, 0));
    ISHANDLE h = IS40_OpenMemorySource(b.data(), static_cast<uint32_t>(b.size()));
    ISEXIFREADER gone = IS40_EXIFCreateReader(h, 0, IS_EXIF_RAW);
    IS40_CloseSource(h);
    int local = 0;
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(h, 0, 8), 38);  // a closed source
    WriteFileBytes(ScratchPath("empty"), {});  // an empty raw source holds nothing to read
    h = IS40_OpenFileSource(ScratchPath("empty").c_str());
    EXPECT_FAILS_WITH(IS40_EXIFCreateReader(h, 0, IS_EXIF_RAW), IS_ERR_READ);
    IS40_CloseSource(h);
    // A null output, or a null, destroyed or foreign reader is refused, not read.
    char* text = reinterpret_cast<char*>(1);
    uint32_t length = 3;
    const uint8_t* data = nullptr;
    EXPECT_FAILS_WITH(IS40_EXIFGetString(gone, 274, 31, nullptr, &length), 5);
    EXPECT_EQ(IS40_EXIFDestroyReader(gone), 1);  // TRUE itself: callers compare with it
    EXPECT_EQ(IS40_EXIFDestroyReader(nullptr), 1);
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_FAILS_WITH(IS40_EXIFDestroyReader(gone), 5);
    for (ISEXIFREADER bad : {static_cast<void*>(nullptr), gone, static_cast<void*>(&local)}) {
        EXPECT_FAILS_WITH(IS40_EXIFGetString(bad, 274, 31, &text, &length), 5);
        EXPECT_TRUE(text == nullptr && length == 0);
        EXPECT_FAILS_WITH(IS40_EXIFGetThumbnail(bad, &data, &length), 5);
    }
}

TEST(ExifReader, JpegRouteAndFlags) {
    const Bytes jpeg = ReadFileBytes(WritePatternJpeg("base.jpg", 24, 16));
    const ExifLayout s = CameraLayout(true, 700);
    const Bytes exif = App1Payload(BuildTiff(s)), xmp = {'h', 't', 't', 'p', ':', '/', '/', 0, '<', 'x', '/', '>'};
    // Another APP1 first, EXIF second: the reader is built from the second, with all it was asked for.
    Reader r = FromBytes(WithSegments(jpeg, {{0xE1, xmp}, {0xE1, exif}}), 7);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(Text(r, 274) + Note(r, 0x0007), "6Firmware 1.1.1");
    EXPECT_EQ(Thumb(r), s.thumbnail);
    const uint8_t* comment = nullptr;
    uint32_t length = 0, error = 99;
    ASSERT_TRUE(ISEXIFReaderFrom(r.r())->GetBlock(0x9286, &comment, &length, &error));
    EXPECT_EQ(std::string(comment, comment + length), std::string("ASCII\0\0\0hi", 10));
    // A damaged EXIF block before a good one leaves nothing behind; fill bytes before a marker are legal.
    ExifLayout other{false, {Short(0x0112, {3}), Ascii(0x010F, "Leftover"), Short(0x0100, {1})}};
    Bytes damaged = App1Payload(BuildTiff(other));
    damaged.resize(6 + 8 + 2 + 12 * 2 + 4);
    Bytes file = WithSegments(jpeg, {{0xE1, damaged}, {0xE0, {'J', 'F', 'I', 'F', 0}}, {0xE1, exif}});
    file.insert(file.begin() + 2, {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Text(FromBytes(file, 0), 0x010F) + Text(FromBytes(file, 0), 274), "Canon6");
    // No APP1, or only unusable ones: null with last error 0; a bare block without the raw flag is no picture at all. A
    // damaged JPEG header is the decoder's failure, another format the caller's.
    const std::pair<Bytes, uint32_t> none[] = {
        {jpeg, 0}, {WithSegments(jpeg, {{0xE1, xmp}}), 0}, {WithSegments(jpeg, {{0xE2, exif}}), 0},
        {WithSegments(jpeg, {{0xE1, {}}}), 0}, {Block(BuildTiff(s)), 0}, {{0xFF, 0xD8, 0xFF, 0xE1, 0x00}, 9},
        {ReadFileBytes(WritePatternPng("x.png", 4, 4)), 5}};
    for (const auto& n : none) {
        Reader no = FromBytes(n.first, IS_EXIF_THUMBNAIL);
        EXPECT_TRUE(!no && no.error == n.second) << n.first.size();
    }
    // User comment asked for but absent or not bytes: still a reader, 65;
    // the thumbnail then reports 0, as none was asked for.
    for (const Ifd& exif : {Ifd{}, Ifd{Ascii(0x9286, "text")}}) {
        other.exif = exif;
        r = Raw(Block(other), IS_EXIF_USER_COMMENT);
        EXPECT_EQ(r.error, 65u);
        EXPECT_FALSE(ISEXIFReaderFrom(r.r())->GetBlock(0x9286, &comment, &length, &error));
        EXPECT_TRUE(Thumb(r).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);
    }
}

TEST(ExifReader, OutOfMemoryAnywhere) {
    const Bytes block = Block(CameraLayout(false, 200));
    const Bytes jpeg = WithSegments(ReadFileBytes(WritePatternJpeg("small.jpg", 16, 8)), {{0xE1, Bytes(block.begin() + 4, block.end())}});
    for (int64_t n = 0; n < 40; ++n) {
        for (const Bytes* data : {&jpeg, &block}) {
            ISHANDLE h = IS40_OpenMemorySource(data->data(), static_cast<uint32_t>(data->size()));
            ISSetAllocFailAfter(n);
            ISEXIFREADER r = IS40_EXIFCreateReader(h, 0, 7 | (data == &block ? IS_EXIF_RAW : 0));
            const uint32_t error = IS40_GetLastError();
            char* text = nullptr;
            uint32_t length = 0;
            if (r) IS40_EXIFGetString(r, 274, 31, &text, &length);
            ISSetAllocFailAfter(-1);
            EXPECT_TRUE(r ? error == 0 || error == 65 : error == 1 || error == 0 || error == 9) << n << ": " << error;
            IS40_GlobalFree(text);
            IS40_EXIFDestroyReader(r);
            IS40_CloseSource(h);
        }
    }
}

TEST(ExifTiff, PageIfdAndExifIfd) {
    ExifLayout page;  // one grey pixel
    page.ifd0 = {Short(0x0100, {1}), Short(0x0101, {1}), Short(0x0102, {8}), Short(0x0103, {1}), Short(0x0106, {1}),
                 Ascii(0x010F, "Maker"), RawEntry(0x0111, kTypeLong, 1, 8), Short(0x0112, {6}), Short(0x0115, {1}),
                 Short(0x0116, {1}), Long(0x0117, {1}), Rat(0x011A, {300, 1})};
    for (bool mm : {false, true}) {
        SCOPED_TRACE(mm ? "MM" : "II");
        ExifLayout s = page;
        s.motorola = mm;
        s.exif = {Rat(0x829A, {1, 125}), Short(0x8827, {200, 400}), Undef(0x9000, "0230"), Num(0x9204, kTypeSRational, {-1, 3}),
                  Short(0xA003, {1}), Undef(0xA300, "\3"), Undef(0x9286, std::string("ASCII\0\0\0x", 9)),
                  Ascii(0x9003, "2020:01:02 03:04:05"), Short(0x1234, {9})};
        s.gps = {Ascii(0x0001, "N")};
        s.ifd1 = {Short(0x0112, {3})};
        const Bytes tiff = BuildTiff(s);
        Reader r = FromBytes(tiff, IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        // SHORT entries match the LONG rows first; UNDEFINED rows become
        // texts up to the first zero; tags outside the table are left out.
        const CEXIFTagBase* width = FindTag(r.List(kEXIFListIFD0), 0x0100);
        ASSERT_TRUE(width && width->typeCode == kTypeLong && width->tiffRoute == 1);
        EXPECT_EQ(FindTag(r.List(kEXIFListExif), 0xA003)->typeCode, kTypeLong);
        EXPECT_STREQ(FindTag(r.List(kEXIFListExif), 0x9000)->typeName, "A");
        const std::map<uint32_t, std::string> want = {
            {274, "6"},      {0x010F, "Maker"}, {0x011A, "300/1"}, {0x0102, "8"},    {0x829A, "1/125"},
            {0x8827, "200, 400"}, {0x9204, "-1/3"}, {0xA003, "1"}, {0x9000, "0230"}, {0x9286, "ASCII"},
            {0xA300, "\x03"}, {0x9003, "2020:01:02 03:04:05"},    {0x1234, kNone}};
        for (const auto& w : want) EXPECT_EQ(Text(r, w.first), w.second) << std::hex << w.first;
        // No Interop, IFD1, GPS, maker note or thumbnail on this route.
        EXPECT_TRUE(r.List(kEXIFListGPS).empty() && r.List(kEXIFListIFD1).empty() && Thumb(r).empty());
        EXPECT_EQ(IS40_GetLastError(), 0u);
        Reader none = FromBytes(tiff, 0, 5);  // no such page
        EXPECT_TRUE(!none && none.error == 5u);
    }
    EXPECT_NE(FromBytes(Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0}, 0).error, 0u);
    // Entries whose values cannot be had are skipped; an EXIF pointer beyond the file keeps IFD0.
    ExifLayout s = page;
    s.exif = {RawEntry(0x829A, kTypeRational, 0x10000000, 0x20), RawEntry(0x9286, kTypeUndefined, 0xFFFFFFFF, 0),
              RawEntry(0x8827, kTypeShort, 100000, 0xFFFFFFF0), Rat(0x829D, {28, 10}), RawEntry(0x9000, kTypeFloat, 1, 0)};
    Reader r = FromBytes(BuildTiff(s), 0);
    for (uint32_t id : {0x829A, 0x9286, 0x8827, 0x9000}) EXPECT_EQ(Text(r, id), kNone) << std::hex << id;
    EXPECT_EQ(Text(r, 0x829D), "28/10");
    s = page;
    s.ifd0.push_back(Long(0x8769, {0x7FFFFFF0}));
    r = FromBytes(BuildTiff(s), 0);
    EXPECT_TRUE(Text(r, 274) == "6" && r.List(kEXIFListExif).empty());
    // BigTIFF: entries of 20 bytes, values of up to 8 bytes inline at their end.
    const std::string path = ScratchPath("big.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w8");
    ASSERT_TRUE(t);
    const uint32_t tags[][2] = {{TIFFTAG_IMAGEWIDTH, 1}, {TIFFTAG_IMAGELENGTH, 1}, {TIFFTAG_SAMPLESPERPIXEL, 1},
        {TIFFTAG_BITSPERSAMPLE, 8}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK}, {TIFFTAG_ORIENTATION, 6}};
    for (const auto& tag : tags) TIFFSetField(t, tag[0], tag[1]);
    TIFFSetField(t, TIFFTAG_MAKE, "Maker");
    uint8_t pixel = 0;
    TIFFWriteScanline(t, &pixel, 0, 0);
    TIFFClose(t);
    r = FromBytes(ReadFileBytes(path), 0);
    EXPECT_TRUE(Text(r, 274) == "6" && Text(r, 0x010F) == "Maker") << Text(r, 274) << " " << Text(r, 0x010F);
}

// ---- against exiftool ---------------------------------------------------------

TEST(ExifExiftool, EveryTagMatchesBothByteOrders) {
    if (!HavePrograms("exiftool")) GTEST_SKIP() << "exiftool not installed";
    const std::map<std::string, std::string> kTypes = {
        {"int8u", "U8"}, {"string", "A"}, {"int16u", "U16"}, {"int32u", "U32"}, {"rational64u", "UR"},
        {"undef", "U8"}, {"int16s", "I16"}, {"int32s", "I32"}, {"rational64s", "SR"}};
    const char* kDirs[] = {"IFD0", "ExifIFD", "InteropIFD", "IFD1", "GPS"};  // in list order
    for (const std::string order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        const std::string thumb = WritePatternJpeg("thumb.jpg", 160, 120), path = WritePatternJpeg(order + ".jpg", 320, 240);
        const std::string cmd =
            "exiftool -q -overwrite_original -n -ExifByteOrder=" + order + " '-ThumbnailImage<=" + thumb +
            "' -Make=Canon '-Model=Canon EOS 5D' -Orientation=6 -XResolution=72 -ResolutionUnit=2 -ExposureTime=0.008 "
            "-FNumber=2.8 -ISO=400 '-DateTimeOriginal=2021:03:04 05:06:07' -ExposureCompensation=-0.6666667 -Flash=16 "
            "-UserComment=hello -ExifImageWidth=320 -InteropIndex=R98 -GPSLatitude=51.5 -GPSLatitudeRef=N "
            "-GPSAltitude=35.2 -GPSAltitudeRef=0 '-GPSTimeStamp=10:20:30' '" + path + "'";
        ASSERT_EQ(Shell(cmd), 0) << cmd;
        Reader r = FromBytes(ReadFileBytes(path), IS_EXIF_THUMBNAIL | IS_EXIF_USER_COMMENT);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.List(kEXIFListIFD0)[0]->motorola, order == "MM" ? 1 : 0);
        EXPECT_EQ(Thumb(r), ReadFileBytes(thumb));  // byte for byte
        size_t perList[5] = {};
        for (const ToolTag& t : ExiftoolTags(path)) {
            const uint32_t list = static_cast<uint32_t>(std::find(kDirs, kDirs + 5, t.dir) - kDirs);
            if (list == 5) continue;
            ++perList[list];
            SCOPED_TRACE(t.dir + " " + std::to_string(t.id) + " " + t.value);
            const CEXIFTagBase* ours = FindTag(r.List(list), static_cast<uint16_t>(t.id));
            ASSERT_NE(ours, nullptr);
            EXPECT_EQ(ours->count, t.count);
            EXPECT_EQ(ours->typeName, kTypes.count(t.type) ? kTypes.at(t.type) : "?");
            if ((t.type == "undef" && t.id != 0x9000 && t.id != 0xA000 && t.id != 0x0002) ||
                t.value.find("(SubDirectory)") != std::string::npos || t.value.find("(Binary data") != std::string::npos)
                continue;
            const size_t from = t.type.compare(0, 8, "rational") ? 0 : t.value.find('(');
            ASSERT_NE(from, std::string::npos);
            EXPECT_EQ(AsTool(Text(r, t.id, 1u << list), t.type), t.value.substr(from));
        }
        for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(perList[i] && r.List(i).size() == perList[i]) << i;
    }
}
