// Library frame: error recording, sources and destinations, allocation.
#include "codec/IS40jpeg.h"
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <functional>
#include <regex>
#include <string>
#include <thread>

using namespace vstest;

TEST(FrameErrors, BadHandlesAndArguments) {
    const Bytes px = Pattern(4, 4, 3);
    const uint8_t* p = px.data();
    ISHANDLE src = IS40_OpenMemorySource(p, static_cast<uint32_t>(px.size()));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    ISHANDLE gone = IS40_OpenMemorySource(p, static_cast<uint32_t>(px.size()));
    IS40_CloseSource(gone);
    ISHANDLE goneDest = IS40_OpenFileDest(ScratchPath("closed.out").c_str(), 0);
    IS40_CloseDest(goneDest);
    ISHandleBlock fake = *static_cast<ISHandleBlock*>(src);  // a copy of a live block with the right marks
    int junk[64] = {};
    uint32_t w, h, bits;
    uint8_t pal[1024];
    const std::string longName(200, 'a');
    // Every codec entry point goes through one check of the handle, so null
    // and closed handles are tried on one reader and one writer only.
    struct Case { const char* what; std::function<uintptr_t()> call; uint32_t error; } cases[] = {
        {"missing file", [] { return uintptr_t(IS40_OpenFileSource(ScratchPath("missing.bmp").c_str())); }, IS_ERR_OPEN},
        {"empty path", [] { return uintptr_t(IS40_OpenFileSource("")); }, IS_ERR_OPEN},
        {"null memory", [] { return uintptr_t(IS40_OpenMemorySource(nullptr, 16)); }, IS_ERR_PARAM},
        {"empty memory", [&] { return uintptr_t(IS40_OpenMemorySource(p, 0)); }, IS_ERR_PARAM},
        {"empty destination path", [] { return uintptr_t(IS40_OpenFileDest("", 0)); }, IS_ERR_OPEN},
        {"destination folder missing", [] { return uintptr_t(IS40_OpenFileDest(ScratchPath("no/such/x.bmp").c_str(), 0)); }, IS_ERR_OPEN},
        // A path longer than the handle's field is kept truncated, never overrun.
        {"long path", [&] { return uintptr_t(IS40_OpenFileDest(ScratchPath(longName + "/" + longName).c_str(), 0)); }, IS_ERR_OPEN},
        {"read null", [&] { return uintptr_t(IS40_ReadImage(nullptr, &w, &h, 0, 0)); }, IS_ERR_PARAM},
        {"guess null", [] { return uintptr_t(IS40_GuessFileType(nullptr)); }, IS_ERR_PARAM},
        {"seek null", [] { return uintptr_t(IS40_Seek(nullptr, 0, 0)); }, IS_ERR_PARAM},
        {"close null source", [] { return uintptr_t(IS40_CloseSource(nullptr)); }, IS_ERR_PARAM},
        {"close null destination", [] { return uintptr_t(IS40_CloseDest(nullptr)); }, IS_ERR_PARAM},
        // Closed: the block is gone; the check must not touch it (ASan).
        {"read closed", [&] { return uintptr_t(IS40_ReadImage(gone, &w, &h, 0, 0)); }, IS_ERR_HANDLE},
        {"closing twice frees nothing", [&] { return uintptr_t(IS40_CloseSource(gone)); }, IS_ERR_HANDLE},
        {"foreign block", [&] { return uintptr_t(IS40_GuessFileType(junk)); }, IS_ERR_HANDLE},
        {"copied block", [&] { return uintptr_t(IS40_ReadImage(&fake, &w, &h, 0, 0)); }, IS_ERR_HANDLE},
        {"ReadBMP null", [&] { return uintptr_t(IS40_ReadBMP(nullptr, &w, &h, 24, pal, 0)); }, IS_ERR_PARAM},
        {"ReadBMP no width", [&] { return uintptr_t(IS40_ReadBMP(src, nullptr, &h, 24, pal, 0)); }, IS_ERR_PARAM},
        {"ReadBMP indexes without palette", [&] { return uintptr_t(IS40_ReadBMP(src, &w, &h, 8, nullptr, 0)); }, IS_ERR_PARAM},
        {"GetBMPDims no height", [&] { return uintptr_t(IS40_GetBMPDims(src, &w, nullptr, &bits, nullptr, 0)); }, IS_ERR_PARAM},
        {"WriteBMP closed", [&] { return uintptr_t(IS40_WriteBMP(goneDest, p, 4, 4, 24, 12, 0, nullptr, nullptr, 0)); }, IS_ERR_HANDLE},
        // A source refuses writes: the header fails first.
        {"WriteBMP to a source", [&] { return uintptr_t(IS40_WriteBMP(src, p, 4, 4, 24, 12, 0, nullptr, nullptr, 0)); }, IS_ERR_MEMORY},
        {"ReadGIF no width", [&] { return uintptr_t(IS40_ReadGIF(src, nullptr, &h, 24, pal, 0)); }, IS_ERR_PARAM},
        {"ReadPCX no width", [&] { return uintptr_t(IS40_ReadPCX(src, nullptr, &h, 24, pal, 0)); }, IS_ERR_PARAM},
        {"ReadPCX indexes without palette", [&] { return uintptr_t(IS40_ReadPCX(src, &w, &h, 8, nullptr, 0)); }, IS_ERR_PARAM},
        {"GetPCXDims no bits", [&] { return uintptr_t(IS40_GetPCXDims(src, &w, &h, nullptr, nullptr, 0)); }, IS_ERR_PARAM},
        {"WritePCX to a source", [&] { return uintptr_t(IS40_WritePCX(src, p, 4, 4, 24, 12, nullptr, nullptr, 0)); }, IS_ERR_WRITE},
        {"ReadTGA no width", [&] { return uintptr_t(IS40_ReadTGA(src, nullptr, &h, 24, nullptr, 0)); }, IS_ERR_PARAM},
        {"GetTGADims no bits", [&] { return uintptr_t(IS40_GetTGADims(src, &w, &h, nullptr, 0)); }, IS_ERR_PARAM},
    };
    for (const Case& c : cases) {
        IS40_Seek(src, 0, 0);
        EXPECT_EQ(c.call(), 0u) << c.what;
        EXPECT_EQ(IS40_GetLastError(), c.error) << c.what;
    }
    IS40_CloseSource(src);
}

TEST(FrameErrors, TraceIsBoundedAndStateIsPerThread) {
    CISThreadState* s = ISThreadState();
    ASSERT_NE(s, nullptr);
    s->trace.clear();
    for (int i = 0; i < 500; ++i) ISRecordError(3, "IS40_ReadBMP");
    ISRecordError(7, nullptr, "row 4");
    ASSERT_EQ(s->trace.size(), 51u);
    EXPECT_TRUE(std::regex_match(s->trace.back().text, std::regex(R"(Error 7 in \(unspecified function\) \(\d\d:\d\d:\d\d\) \[row 4\])")))
        << s->trace.back().text;
    EXPECT_EQ(s->trace.back().code, 7u);
    ISRecordError(0, "IS40_ReadBMP");
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(s->trace.size(), 51u) << "code 0 must not add a trace entry";
    ISRecordError(2, "IS40_OpenFileSource");
    EXPECT_TRUE(std::regex_match(s->trace.back().text, std::regex(R"(Error 2 in IS40_OpenFileSource \(\d\d:\d\d:\d\d\))")));

    ISRecordError(6, "IS40_ReadTGA");
    uint32_t other = 99, otherAfter = 99;
    std::thread([&] {
        other = IS40_GetLastError();
        ISRecordError(4, "IS40_WriteTGA");
        otherAfter = IS40_GetLastError();
    }).join();
    EXPECT_EQ(other, 0u) << "a new thread starts with a clean state";
    EXPECT_EQ(otherAfter, 4u);
    EXPECT_EQ(IS40_GetLastError(), 6u);
}

TEST(FrameIO, MemorySourceBoundsFilePositionsAndKeepingAnExistingFile) {
    Bytes data = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ISHANDLE h = IS40_OpenMemorySource(data.data(), 10);
    ASSERT_NE(h, nullptr);
    CISIO io(h);
    uint8_t buf[44] = {};
    EXPECT_EQ(io.Read(buf, 44), 10u);
    EXPECT_EQ(io.Read(buf, 1), 0u);
    struct { int32_t offset; uint32_t origin; } refused[] = {{10, 0}, {-11, 2}, {-1, 0}, {1, 2}, {0, 3}};
    for (auto r : refused) EXPECT_FALSE(IS40_Seek(h, r.offset, r.origin)) << r.offset << " from " << r.origin;
    EXPECT_EQ(io.Tell(), 10u) << "a failed seek leaves the position";
    EXPECT_TRUE(IS40_Seek(h, 0, 2) && IS40_Seek(h, -10, 2));
    EXPECT_EQ(io.Read(buf, 44), 10u);
    EXPECT_TRUE(IS40_Seek(h, 4, 0) && IS40_Seek(h, 5, 1));
    EXPECT_FALSE(IS40_Seek(h, 1, 1));
    EXPECT_EQ(IS40_Seek(h, -9, 1), 1);  // TRUE itself: callers compare with it
    EXPECT_EQ(io.Tell(), 0u);
    EXPECT_FALSE(io.Write(buf, 1)) << "sources are read-only";
    EXPECT_EQ(io.Size(), 10u);
    EXPECT_EQ(IS40_CloseSource(h), 0u);  // the position
    const std::string path = ScratchPath("hundred.bin");
    WriteFileBytes(path, Bytes(100, 7));
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(src, nullptr);
    EXPECT_TRUE(CISIO(src).ReadExact(buf, 44));
    EXPECT_EQ(IS40_CloseSource(src), 44u);

    ISHANDLE dst = IS40_OpenFileDest(path.c_str(), 0);
    ASSERT_NE(dst, nullptr);
    Bytes payload(1234, 9);
    EXPECT_TRUE(CISIO(dst).Write(payload.data(), 2, 617));
    EXPECT_EQ(IS40_CloseDest(dst), 1234u);
    EXPECT_EQ(ReadFileBytes(path), payload);
    // Keeping the existing file overwrites it in place; a missing one is made.
    WriteFileBytes(path, Bytes{1, 2, 3, 4, 5, 6});
    const uint8_t two[] = {9, 9};
    for (IS_BOOL keep : {1, 0}) {
        dst = IS40_OpenFileDest(path.c_str(), keep);
        ASSERT_NE(dst, nullptr);
        EXPECT_TRUE(CISIO(dst).Write(two, 2));
        EXPECT_EQ(IS40_CloseDest(dst), keep ? 6u : 2u);
        EXPECT_EQ(ReadFileBytes(path), keep ? (Bytes{9, 9, 3, 4, 5, 6}) : (Bytes{9, 9}));
    }
    const std::string fresh = ScratchPath("fresh.bin");
    dst = IS40_OpenFileDest(fresh.c_str(), 1);
    ASSERT_NE(dst, nullptr);
    EXPECT_EQ(IS40_CloseDest(dst), 0u);
    EXPECT_TRUE(ReadFileBytes(fresh).empty());
}

TEST(FrameAlloc, LimitZeroFillResizeAndFailure) {
    EXPECT_EQ(IS40_GlobalAlloc(0, 0x7FFDEFFFu), nullptr);
    EXPECT_EQ(IS40_GlobalAlloc(0, ~0ull), nullptr);
    uint8_t* p = static_cast<uint8_t*>(IS40_GlobalAlloc(0, 1000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(IS40_GlobalSize(p), 1000u);
    EXPECT_EQ(Bytes(p, p + 1000), Bytes(1000, 0));
    p[999] = 5;
    EXPECT_EQ(IS40_GlobalReAlloc(p, 0x7FFDEFFFu, 2), nullptr);
    EXPECT_EQ(p[999], 5) << "a refused growth keeps the block";
    uint8_t* q = static_cast<uint8_t*>(IS40_GlobalReAlloc(p, 5000, 2));
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(q[999] == 5 && q[4999] == 0 && IS40_GlobalSize(q) == 5000u);
    EXPECT_EQ(IS40_GlobalFree(q), nullptr);
    EXPECT_EQ(IS40_GlobalFree(nullptr), nullptr);

    Bytes data(8, 1);
    ISSetAllocFailAfter(0);
    EXPECT_FAILS_WITH(IS40_OpenMemorySource(data.data(), 8), IS_ERR_MEMORY);
    ISSetAllocFailAfter(-1);
    EXPECT_NE(IS40_Initialize(), 0);
    IS40_Shutdown();
    EXPECT_NE(IS40_Initialize(), 0);
}
