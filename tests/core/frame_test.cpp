// Library frame: error recording, sources and destinations, allocation.
#include "isframe.h"
#include "testutil.h"

#include <regex>
#include <string>
#include <thread>

using namespace vstest;

namespace {

uint8_t* ReadAny(ISHANDLE h) {
    uint32_t w = 0, ht = 0;
    return IS40_ReadImage(h, &w, &ht, 0, 0);
}

}  // namespace

TEST(FrameErrors, LastErrorFollowsEachCall) {
    ASSERT_EQ(IS40_OpenFileSource(ScratchPath("missing.bmp").c_str()), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 2u);
    ASSERT_EQ(IS40_OpenFileSource(""), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 2u);

    Bytes data(16, 0x41);
    ISHANDLE h = IS40_OpenMemorySource(data.data(), 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(IS40_GetLastError(), 0u);
    IS40_CloseSource(h);

    EXPECT_EQ(IS40_OpenMemorySource(nullptr, 16), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(IS40_OpenMemorySource(data.data(), 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
}

TEST(FrameErrors, TraceIsBoundedAndFormatted) {
    CISThreadState* s = ISThreadState();
    ASSERT_NE(s, nullptr);
    s->trace.clear();
    for (int i = 0; i < 500; ++i) ISRecordError(3, "IS40_ReadBMP");
    EXPECT_EQ(s->trace.size(), 51u);

    ISRecordError(7, nullptr, "row 4");
    ASSERT_EQ(s->trace.size(), 51u);
    const CISTraceEntry& last = s->trace.back();
    EXPECT_TRUE(std::regex_match(last.text, std::regex(R"(Error 7 in \(unspecified function\) \(\d\d:\d\d:\d\d\) \[row 4\])")))
        << last.text;
    EXPECT_EQ(last.code, 7u);
    EXPECT_EQ(last.category, 3u);

    ISRecordError(0, "IS40_ReadBMP");
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(s->trace.size(), 51u) << "code 0 must not add a trace entry";

    ISRecordError(2, "IS40_OpenFileSource");
    EXPECT_TRUE(std::regex_match(s->trace.back().text,
                                 std::regex(R"(Error 2 in IS40_OpenFileSource \(\d\d:\d\d:\d\d\))")));
}

TEST(FrameErrors, StateIsPerThread) {
    ISRecordError(6, "IS40_ReadTGA");
    uint32_t other = 99, otherAfter = 99;
    std::thread t([&] {
        other = IS40_GetLastError();
        ISRecordError(4, "IS40_WriteTGA");
        otherAfter = IS40_GetLastError();
        ISThreadState()->jpgScaleNum = 3;
    });
    t.join();
    EXPECT_EQ(other, 0u) << "a new thread starts with a clean state";
    EXPECT_EQ(otherAfter, 4u);
    EXPECT_EQ(IS40_GetLastError(), 6u);
    EXPECT_EQ(ISThreadState()->jpgScaleNum, 1u);
}

TEST(FrameHandles, NullFreedAndForeignHandlesAreRefused) {
    EXPECT_EQ(ReadAny(nullptr), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(IS40_GuessFileType(nullptr), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_Seek(nullptr, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(IS40_CloseSource(nullptr), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(IS40_CloseDest(nullptr), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);

    // Closed: the block is gone; the check must not touch it (ASan).
    Bytes data = {'B', 'M', 0, 0};
    ISHANDLE h = IS40_OpenMemorySource(data.data(), 4);
    IS40_CloseSource(h);
    EXPECT_EQ(ReadAny(h), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    EXPECT_EQ(IS40_CloseSource(h), 0u) << "a second close must not free again";

    // A copy of a live block with the right marks is still not ours.
    ISHANDLE live = IS40_OpenMemorySource(data.data(), 4);
    ISHandleBlock fake = *static_cast<ISHandleBlock*>(live);
    EXPECT_EQ(ReadAny(&fake), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    int junk[64] = {};
    EXPECT_EQ(IS40_GuessFileType(junk), 0u);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    IS40_CloseSource(live);
}

TEST(FrameMemorySource, TenByteSourceBounds) {
    Bytes data = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ISHANDLE h = IS40_OpenMemorySource(data.data(), 10);
    ASSERT_NE(h, nullptr);
    CISIO io(h);
    uint8_t buf[44] = {};
    EXPECT_EQ(io.Read(buf, 44), 10u);
    EXPECT_EQ(io.Read(buf, 1), 0u);
    EXPECT_FALSE(IS40_Seek(h, 10, 0));
    EXPECT_FALSE(IS40_Seek(h, -18, 2));
    EXPECT_FALSE(IS40_Seek(h, -1, 0));
    EXPECT_FALSE(IS40_Seek(h, 1, 2));
    EXPECT_EQ(io.Tell(), 10u) << "a failed seek leaves the position";
    EXPECT_TRUE(IS40_Seek(h, -10, 2));
    EXPECT_EQ(io.Read(buf, 44), 10u);
    EXPECT_EQ(buf[9], 9);
    EXPECT_TRUE(IS40_Seek(h, 4, 0));
    EXPECT_TRUE(IS40_Seek(h, 5, 1));
    EXPECT_FALSE(IS40_Seek(h, 1, 1));
    EXPECT_EQ(io.Tell(), 9u);
    EXPECT_FALSE(io.Write(buf, 1)) << "sources are read-only";
    EXPECT_EQ(io.Size(), 10u);
    EXPECT_EQ(IS40_CloseSource(h), 9u);
}

TEST(FrameFileIO, CloseReportsPositionAndSize) {
    const std::string path = ScratchPath("hundred.bin");
    WriteFileBytes(path, Bytes(100, 7));
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(src, nullptr);
    uint8_t buf[44];
    EXPECT_TRUE(CISIO(src).ReadExact(buf, 44));
    EXPECT_FALSE(CISIO(src).Write(buf, 1));
    EXPECT_EQ(IS40_CloseSource(src), 44u);

    const std::string out = ScratchPath("written.bin");
    ISHANDLE dst = IS40_OpenFileDest(out.c_str(), 0);
    ASSERT_NE(dst, nullptr);
    Bytes payload(1234, 9);
    EXPECT_TRUE(CISIO(dst).Write(payload.data(), 2, 617));
    EXPECT_EQ(IS40_CloseDest(dst), 1234u);
    EXPECT_EQ(ReadFileBytes(out), payload);
}

TEST(FrameFileIO, KeepExistingOverwritesInPlace) {
    const std::string path = ScratchPath("keep.bin");
    WriteFileBytes(path, Bytes{1, 2, 3, 4, 5, 6});
    ISHANDLE dst = IS40_OpenFileDest(path.c_str(), 1);
    ASSERT_NE(dst, nullptr);
    const uint8_t two[] = {9, 9};
    EXPECT_TRUE(CISIO(dst).Write(two, 2));
    EXPECT_EQ(IS40_CloseDest(dst), 6u);
    EXPECT_EQ(ReadFileBytes(path), (Bytes{9, 9, 3, 4, 5, 6}));

    dst = IS40_OpenFileDest(path.c_str(), 0);
    ASSERT_NE(dst, nullptr);
    EXPECT_TRUE(CISIO(dst).Write(two, 2));
    EXPECT_EQ(IS40_CloseDest(dst), 2u);
    EXPECT_EQ(ReadFileBytes(path), (Bytes{9, 9}));

    // keep-existing creates a missing file
    const std::string fresh = ScratchPath("fresh.bin");
    dst = IS40_OpenFileDest(fresh.c_str(), 1);
    ASSERT_NE(dst, nullptr);
    EXPECT_EQ(IS40_CloseDest(dst), 0u);
    EXPECT_TRUE(ReadFileBytes(fresh).empty());
}

TEST(FrameFileIO, BadPaths) {
    EXPECT_EQ(IS40_OpenFileDest("", 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 2u);
    EXPECT_EQ(IS40_OpenFileDest(ScratchPath("no/such/dir/x.bmp").c_str(), 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 2u);

    // A path longer than the handle's field is kept truncated, never overrun.
    std::string longName(400, 'a');
    const std::string longPath = ScratchPath(longName.substr(0, 200) + "/" + longName.substr(0, 200));
    ISHANDLE h = IS40_OpenFileDest(longPath.c_str(), 0);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(IS40_GetLastError(), 2u);
}

TEST(FrameAlloc, LimitZeroFillAndResize) {
    EXPECT_EQ(IS40_GlobalAlloc(0, kISAllocLimit), nullptr);
    EXPECT_EQ(IS40_GlobalAlloc(0, ~0ull), nullptr);
    uint8_t* p = static_cast<uint8_t*>(IS40_GlobalAlloc(0, 1000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(IS40_GlobalSize(p), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0);
    p[999] = 5;
    EXPECT_EQ(IS40_GlobalReAlloc(p, kISAllocLimit, 2), nullptr);
    EXPECT_EQ(p[999], 5) << "a refused growth keeps the block";
    uint8_t* q = static_cast<uint8_t*>(IS40_GlobalReAlloc(p, 5000, 2));
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q[999], 5);
    EXPECT_EQ(IS40_GlobalSize(q), 5000u);
    EXPECT_EQ(IS40_GlobalFree(q), nullptr);
    EXPECT_EQ(IS40_GlobalFree(nullptr), nullptr);
}

TEST(FrameAlloc, OutOfMemoryIsErrorOne) {
    Bytes data(8, 1);
    ISSetAllocFailAfter(0);
    EXPECT_EQ(IS40_OpenMemorySource(data.data(), 8), nullptr);
    const uint32_t code = IS40_GetLastError();
    ISSetAllocFailAfter(-1);
    EXPECT_EQ(code, 1u);
    ISHANDLE h = IS40_OpenMemorySource(data.data(), 8);
    EXPECT_NE(h, nullptr);
    IS40_CloseSource(h);
}

TEST(FrameLifecycle, InitializeAndShutdownAreHarmless) {
    EXPECT_NE(IS40_Initialize(), 0);
    IS40_Shutdown();
    IS40_Shutdown();
    EXPECT_NE(IS40_Initialize(), 0);
}
