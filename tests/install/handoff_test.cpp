// handoff_test.cpp -- one component's hand-off in process: what reaches the
// installer, cancellation between chunks, damaged and truncated packages,
// short reads, a full disk, memory exhaustion and the registry steps, on a
// fake of the platform layer.
#include "support.h"

#include "format.h"
#include "littleendian.h"

using namespace installtest;

namespace {

struct HandOff : InstallFixture {
    // One component made of `cab`, in the default case unless told.
    void LoadCab(const Bytes &cab, uint8_t useDefault = 1, bool acceptsDestination = true)
    {
        velkor::PackageRecipe recipe = ToolPackage(useDefault);
        recipe.components.push_back({u"Main", cab, acceptsDestination, true});
        Load(Assemble(recipe));
    }
    void LoadPayload(const Bytes &payload, uint32_t unpacked = 0)
    {
        velkor::PackageRecipe recipe = ToolPackage(1);
        recipe.components.push_back({u"Main", {}, true, true});
        file = Assemble(recipe, {payload}, {unpacked});
        Load(file);
    }
    // A fresh fixture and a copy of `good` with `damage` done to it, for
    // the next row of a table of damaged payloads.
    Bytes Damaged(const Bytes &good, const std::function<void(Bytes &)> &damage)
    {
        TearDown();
        SetUp();
        Bytes payload = good;
        damage(payload);
        return payload;
    }
    LRESULT BarPosition() { return SendMessageW(ProgressBar, PBM_GETPOS, 0, 0); }
    int BarHigh() { return int(SendMessageW(ProgressBar, PBM_GETRANGE, FALSE, 0)); }
    void ExpectNoLeak() { EXPECT_EQ(VHeapLiveBlocks(), baselineBlocks) << "heap blocks left behind"; }

    PackageFile file;
};

TEST_F(HandOff, DeliversTheCabByteForByteAtEverySize)
{
    const size_t sizes[] = {1, 65535, 65536, 65537, 3 * 65536 + 5};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        TearDown();
        SetUp();
        Bytes cab = Pattern(size, uint32_t(size));
        LoadCab(cab);
        EXPECT_EQ(RunHandOff(0), InstallDone);
        ASSERT_EQ(fake.runs.size(), 1u);
        EXPECT_TRUE(fake.runs[0].withCommandLine);
        EXPECT_EQ(fake.runs[0].commandLine, L"\\kCABFILE.cab");
        EXPECT_TRUE(fake.runs[0].cab == cab) << "the CAB handed over differs";
        EXPECT_FALSE(Exists(TemporaryCabPath));
        EXPECT_EQ(fake.opens, 0) << "the default case touches no registry";
        // The posted progress has been handled by the hand-off's own drains.
        int chunks = int((size + 65535) / 65536);
        EXPECT_EQ(BarHigh(), chunks);
        EXPECT_EQ(BarPosition(), chunks);
        EXPECT_FALSE(IsWindowVisible(host.Frame)) << "the frame stays hidden after the last component";
        ExpectNoLeak();
    }
}

TEST_F(HandOff, CopiesStoredChunksAndWritesOnlyWhatDecodes)
{
    Bytes a = Pattern(65536, 1), b = Pattern(1000, 2), c = Pattern(200, 3), d = Pattern(5000, 4);
    Bytes small = velkor::ZlibCompress(c);
    Bytes unstated;
    velkor::PutCompressedBlock(unstated, small, 0);   // decoded size not stated: room for 256 bytes
    LoadPayload(Payload({StoredBlock(a), CompressedBlock(b, 65536), StoredBlock({}), unstated,
                         CompressedBlock(d, 5000)}),
                uint32_t(a.size() + b.size() + c.size() + d.size()));
    EXPECT_EQ(RunHandOff(0), InstallDone);
    ASSERT_EQ(fake.runs.size(), 1u);
    Bytes expected = a;
    for (const Bytes *p : {&b, &c, &d})
        expected.insert(expected.end(), p->begin(), p->end());
    EXPECT_TRUE(fake.runs[0].cab == expected);
    ExpectNoLeak();
}

TEST_F(HandOff, CompressedByteOtherThanOneCountsAsCompressed)
{
    Bytes data = Pattern(3000, 9);
    Bytes block = CompressedBlock(data, 3000);
    block[0] = 2;
    LoadPayload(Payload({block}), 3000);
    EXPECT_EQ(RunHandOff(0), InstallDone);
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.runs[0].cab == data);
}

TEST_F(HandOff, ChunkCountZeroHandsOverAnEmptyFile)
{
    for (BYTE cancel : {0, 1}) {
        SCOPED_TRACE(int(cancel));
        TearDown();
        SetUp();
        LoadPayload(Payload({}));
        CancelRequested = cancel;   // with no chunk the flag is never looked at
        EXPECT_EQ(RunHandOff(0), InstallDone);
        ASSERT_EQ(fake.runs.size(), 1u);
        EXPECT_TRUE(fake.runs[0].cabExists);
        EXPECT_TRUE(fake.runs[0].cab.empty());
        EXPECT_FALSE(Exists(TemporaryCabPath));
    }
}

TEST_F(HandOff, CancelAlreadySetStopsBeforeTheFirstChunk)
{
    velkor::PackageRecipe recipe = ToolPackage(0);
    recipe.components.push_back({u"Main", Pattern(70000, 5), true, true});
    Load(Assemble(recipe));
    ShowWindow(host.Frame, SW_HIDE);
    CancelRequested = 1;
    EXPECT_EQ(RunHandOff(0), InstallCancelled);
    EXPECT_EQ(fake.creates, 1);
    EXPECT_EQ(fake.reads, 1) << "only the chunk count is read";
    EXPECT_EQ(fake.writes, 0);
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_EQ(fake.opens, 0) << "the registry is not touched";
    EXPECT_TRUE(IsWindowVisible(host.Frame)) << "the frame was shown before the first chunk";
    EXPECT_FALSE(Exists(TemporaryCabPath));
    ExpectNoLeak();
}

// Reads per compressed chunk: prefix, decoded size, data; the count comes first.
int DataReadOf(int chunk) { return 1 + 3 * chunk + 3; }

TEST_F(HandOff, CancelConfirmedDuringAChunkStopsBeforeTheNext)
{
    struct Row {
        int clickAtChunk;
        int answer;
        int result;
        int chunksWritten;
    } rows[] = {
        {0, IDYES, InstallCancelled, 1},
        {2, IDYES, InstallCancelled, 3},
        {2, IDNO, InstallDone, 5},
        {4, IDYES, InstallDone, 5},   // during the last chunk: this component still installs
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.clickAtChunk);
        SCOPED_TRACE(row.answer);
        TearDown();
        SetUp();
        LoadCab(Pattern(4 * 65536 + 100, 7));
        fake.confirmAnswer = row.answer;
        fake.onRead = [&](int n, DWORD) {
            if (n == DataReadOf(row.clickAtChunk))
                ClickCancel();
        };
        EXPECT_EQ(RunHandOff(0), row.result);
        EXPECT_EQ(fake.writes, row.chunksWritten);
        ASSERT_EQ(fake.messages.size(), 1u);
        EXPECT_EQ(fake.messages[0].owner, ProgressPage);
        EXPECT_EQ(fake.messages[0].text, HostText(&host, TextConfirmCancel));
        EXPECT_EQ(fake.messages[0].caption, HostText(&host, TextWindowTitle));
        EXPECT_EQ(fake.messages[0].style, UINT(MB_YESNO | MB_ICONQUESTION));
        EXPECT_EQ(fake.runs.size(), row.result == InstallDone ? 1u : 0u);
        EXPECT_EQ(CancelRequested, row.answer == IDYES ? 1 : 0);
        EXPECT_FALSE(Exists(TemporaryCabPath));
        ExpectNoLeak();
    }
}

TEST_F(HandOff, PacedDrainsStillFillTheBarAndHonourACancel)
{
    // Never due: the queue is drained only before the first chunk and after
    // the last, so a click during the first chunk is seen after the last.
    DrainInterval = 0xFFFFFFFFu;
    Bytes cab = Pattern(5 * 65536, 21);
    LoadCab(cab);
    fake.onRead = [](int n, DWORD) {
        if (n == DataReadOf(0))
            ClickCancel();
    };
    EXPECT_EQ(RunHandOff(0), InstallDone);
    EXPECT_EQ(BarHigh(), 5);
    EXPECT_EQ(BarPosition(), 5);
    EXPECT_EQ(CancelRequested, 1) << "the click was handled in the drain after the last chunk";
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.runs[0].cab == cab);
    EXPECT_EQ(RunHandOff(0), InstallCancelled) << "the next component stops before its first chunk";

    // As shipped, and paced at 20 ms: each chunk after the click waits
    // longer than the interval, so the drain that is due handles the click
    // before the component ends.
    for (DWORD interval : {ShippedDrainInterval, DWORD(20)}) {
        SCOPED_TRACE(interval);
        DrainInterval = interval;
        DWORD chunkWait = interval + 10;
        CancelRequested = 0;
        fake.runs.clear();
        fake.reads = 0;
        fake.onRead = [chunkWait](int n, DWORD) {
            if (n == DataReadOf(0))
                ClickCancel();
            if (n > DataReadOf(0))
                Sleep(chunkWait);
        };
        EXPECT_EQ(RunHandOff(0), InstallCancelled);
        EXPECT_TRUE(fake.runs.empty());
    }
    EXPECT_FALSE(Exists(TemporaryCabPath));
}

TEST_F(HandOff, PackageThatCannotBeMeasuredOrPositionedIsCorrupt)
{
    // Without its length no size from the file can be trusted, and without
    // the seek the reads would come from the wrong place: nothing is read.
    for (bool sizeFails : {true, false}) {
        SCOPED_TRACE(sizeFails ? "length unknown" : "seek failed");
        TearDown();
        SetUp();
        LoadCab(Pattern(70000, 31));
        fake.failSourceSize = sizeFails;
        fake.failSeek = !sizeFails;
        EXPECT_EQ(RunHandOff(0), InstallCorrupt);
        EXPECT_EQ(fake.reads, 0);
        EXPECT_EQ(fake.creates, 1);
        EXPECT_FALSE(Exists(TemporaryCabPath)) << "the temporary file is deleted";
        EXPECT_TRUE(fake.runs.empty());
        ExpectNoLeak();
    }
}

TEST_F(HandOff, AQuitMessageInTheDrainIsDropped)
{
    Bytes cab = Pattern(3 * 65536, 8);
    LoadCab(cab);
    fake.onRead = [](int n, DWORD) {
        if (n == DataReadOf(1))
            PostQuitMessage(0);
    };
    EXPECT_EQ(RunHandOff(0), InstallDone);
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.runs[0].cab == cab);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit message was posted again";
}

// ------------------------------------------------------------ bad input --

TEST_F(HandOff, DamagedPayloadsEndAsCorrupt)
{
    Bytes data = Pattern(2 * 65536 + 10, 11);
    Bytes good = velkor::BuildPayload(data, 1);
    uint32_t firstData = 4 + 9;   // count, then the first chunk's prefix
    struct Row {
        const char *name;
        std::function<void(Bytes &)> damage;
    } rows[] = {
        {"deflate data damaged", [&](Bytes &p) { p[firstData + 40] ^= 0x55; p[firstData + 41] ^= 0xAA; }},
        {"Adler-32 damaged", [&](Bytes &p) {
             uint32_t stored = ReadLittle32(&p[5]);
             p[firstData + stored - 1] ^= 1;
         }},
        {"decodes to more than stated", [&](Bytes &p) { p[9] = 0x00; p[10] = 0x10; p[11] = 0; p[12] = 0; }},
        {"stored size beyond the file", [&](Bytes &p) { p[5] = 0xF0; p[6] = 0xFF; p[7] = 0xFF; p[8] = 0x7F; }},
        {"chunk count beyond the file", [&](Bytes &p) { p[0] = 0xFF; p[1] = 0xFF; p[2] = 0xFF; p[3] = 0x0F; }},
        {"one chunk more than present", [&](Bytes &p) { p[0] += 1; }},
        {"not a zlib stream", [&](Bytes &p) { p[firstData] = 0x12; }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes payload = Damaged(good, row.damage);
        LoadPayload(payload, uint32_t(data.size()));
        VHeapFailAt(0);
        EXPECT_EQ(RunHandOff(0), InstallCorrupt);
        EXPECT_TRUE(fake.runs.empty());
        EXPECT_FALSE(Exists(TemporaryCabPath));
        if (std::string(row.name).find("beyond") != std::string::npos) {
            EXPECT_EQ(VHeapAllocations(), 0ul) << "nothing may be allocated for an impossible size";
        }
        ExpectNoLeak();
    }
}

// Damage that decodes cleanly into something other than the CAB: only the
// length of what the chunks add up to can tell, so it must be UnpackedSize.
TEST_F(HandOff, ChunksThatDoNotAddUpToTheUnpackedSizeAreCorrupt)
{
    Bytes data = Pattern(2 * 65536 + 10, 15), other = Pattern(5000, 16);
    Bytes good = velkor::BuildPayload(data, 1), second = velkor::BuildPayload(other, 1);
    struct Row {
        const char *name;
        std::function<void(Bytes &)> damage;
        int64_t sizeChange;
    } rows[] = {
        // The first chunk's zlib stream, decoded size field included, is
        // copied as stored data; the next prefix is then read in the middle
        // of that stream's check value, so cut to that one chunk.
        {"compressed byte cleared", [](Bytes &p) { p[4] = 0; p[0] = 1; }, 0},
        {"chunk count one short", [](Bytes &p) { p[0] -= 1; }, 0},
        {"chunk count zero", [](Bytes &p) { p[0] = 0; }, 0},
        {"UnpackedSize one more", [](Bytes &) {}, +1},
        {"UnpackedSize one less", [](Bytes &) {}, -1},
        {"UnpackedSize zero", [](Bytes &) {}, -int64_t(2 * 65536 + 10)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Bytes payload = Damaged(good, row.damage);
        LoadPayload(payload, uint32_t(int64_t(data.size()) + row.sizeChange));
        EXPECT_EQ(RunHandOff(0), InstallCorrupt);
        EXPECT_TRUE(fake.runs.empty()) << "the installer got a CAB that is not the one packed";
        EXPECT_FALSE(Exists(TemporaryCabPath));
        ExpectNoLeak();
    }

    // A payload offset moved onto the other component's payload.
    TearDown();
    SetUp();
    velkor::PackageRecipe recipe = ToolPackage(1);
    recipe.components.push_back({u"Main", {}, true, true});
    recipe.components.push_back({u"Extra", {}, true, true});
    file = Assemble(recipe, {good, second}, {uint32_t(data.size()), uint32_t(other.size())});
    Load(file);
    Component moved = Package.Components[0];
    moved.PayloadOffset = file.payloadOffsets[1];
    EXPECT_EQ(HandOffComponent(&host, Source(), &moved), InstallCorrupt);
    moved = Package.Components[1];
    moved.PayloadOffset = file.payloadOffsets[0];
    EXPECT_EQ(HandOffComponent(&host, Source(), &moved), InstallCorrupt);
    EXPECT_TRUE(fake.runs.empty());
    EXPECT_EQ(RunHandOff(1), InstallDone);
    ASSERT_EQ(fake.runs.size(), 1u);
    EXPECT_TRUE(fake.runs[0].cab == other);
    ExpectNoLeak();
}

TEST_F(HandOff, StoredChunkWithShortDataIsCorrupt)
{
    // The stored size claims 2024 bytes where 1000 (and the trailer) follow.
    Bytes block = StoredBlock(Pattern(1000, 12));
    block[1] = 0xE8;
    block[2] = 0x07;
    LoadPayload(Payload({block}));
    EXPECT_EQ(RunHandOff(0), InstallCorrupt);
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(HandOff, PayloadOffsetBehindTheFileIsCorrupt)
{
    LoadCab(Pattern(100, 13));
    Component moved = Package.Components[0];
    moved.PayloadOffset = 0xFFFFFF00u;
    EXPECT_EQ(HandOffComponent(&host, Source(), &moved), InstallCorrupt);
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(HandOff, APackageCutAnywhereInThePayloadIsCorrupt)
{
    // The loader reads the intact package; the hand-off reads a copy cut short.
    Bytes data = Pattern(2 * 65536 + 300, 14);
    velkor::PackageRecipe recipe = ToolPackage(1);
    recipe.components.push_back({u"Main", data, true, true});
    PackageFile whole = Assemble(recipe);
    Load(whole);
    uint32_t start = whole.payloadOffsets[0];
    size_t end = whole.bytes.size() - TRAILER_SIZE;
    std::wstring cutPath = DeviceRoot() + L"cut.bin";
    std::vector<size_t> cuts;
    for (size_t at = start; at < start + 20; ++at)
        cuts.push_back(at);
    for (size_t at = start + 20; at < end; at += 4099)
        cuts.push_back(at);
    cuts.push_back(end - 1);
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut - start);
        fake.runs.clear();
        ASSERT_TRUE(WriteBytes(cutPath, Bytes(whole.bytes.begin(), whole.bytes.begin() + cut)));
        HANDLE h = Win32InstallOs.OpenSource(cutPath.c_str());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(HandOffComponent(&host, h, &Package.Components[0]), InstallCorrupt);
        CloseHandle(h);
        EXPECT_TRUE(fake.runs.empty());
        EXPECT_FALSE(Exists(TemporaryCabPath));
    }
    ExpectNoLeak();
}

TEST_F(HandOff, EveryShortOrFailedReadIsCorrupt)
{
    // Stored chunks too: nothing downstream would notice their data cut short.
    Bytes cab = Pattern(3 * 65536 + 17, 15);
    for (bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored chunks" : "compressed chunks");
        TearDown();
        SetUp();
        if (stored)
            LoadPayload(StoredPayload(cab), uint32_t(cab.size()));
        else
            LoadCab(cab);
        EXPECT_EQ(RunHandOff(0), InstallDone);
        int reads = fake.reads;
        ASSERT_EQ(reads, 1 + (stored ? 2 : 3) * 4);
        for (int failing : {0, 1}) {
            for (int k = 1; k <= reads; ++k) {
                SCOPED_TRACE(k);
                SCOPED_TRACE(failing ? "failed" : "short");
                fake.runs.clear();
                fake.reads = 0;
                fake.failReadAt = failing ? k : 0;
                fake.shortReadAt = failing ? 0 : k;
                EXPECT_EQ(RunHandOff(0), InstallCorrupt);
                EXPECT_TRUE(fake.runs.empty());
                EXPECT_FALSE(Exists(TemporaryCabPath));
            }
        }
        ExpectNoLeak();
    }
}

TEST_F(HandOff, EveryFailedOrShortWriteIsCannotCreate)
{
    velkor::PackageRecipe recipe = ToolPackage(0);
    recipe.components.push_back({u"Main", Pattern(4 * 65536 - 3, 16), true, true});
    Load(Assemble(recipe));
    for (bool existed : {true, false}) {
        fake.registry.clear();
        if (existed)
            SetAskDest(1);
        auto before = fake.registry;
        for (int failing : {0, 1}) {
            for (int k = 1; k <= 4; ++k) {
                SCOPED_TRACE(k);
                SCOPED_TRACE(failing ? "failed" : "short");
                fake.writes = 0;
                fake.failWriteAt = failing ? k : 0;
                fake.shortWriteAt = failing ? 0 : k;
                EXPECT_EQ(RunHandOff(0), InstallCannotCreate);
                EXPECT_EQ(fake.writes, k) << "nothing is written after the failure";
                EXPECT_TRUE(fake.runs.empty());
                EXPECT_FALSE(Exists(TemporaryCabPath));
                EXPECT_TRUE(fake.registry == before) << "fAskDest changed";
            }
        }
    }
    ExpectNoLeak();
}

TEST_F(HandOff, RunningOutOfMemoryAnywhereNeverSucceedsOrLeaks)
{
    Bytes cab = Pattern(2 * 65536 + 1, 17);
    LoadCab(cab);
    std::vector<int> results;
    for (unsigned long n = 1; n < 200; ++n) {
        SCOPED_TRACE(n);
        fake.runs.clear();
        VHeapFailAt(n);
        int result = RunHandOff(0);
        bool failed = VHeapAllocations() >= n;
        VHeapFailAt(0);
        if (!failed) {
            EXPECT_EQ(result, InstallDone);
            EXPECT_TRUE(fake.runs.at(0).cab == cab);
            break;
        }
        // The stored data's buffer is the hand-off's own; the rest are the decoder's.
        EXPECT_TRUE(result == InstallNoMemory || result == InstallCorrupt) << result;
        EXPECT_TRUE(fake.runs.empty());
        EXPECT_FALSE(Exists(TemporaryCabPath));
        EXPECT_EQ(VHeapLiveBlocks(), baselineBlocks);
        results.push_back(result);
    }
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results[0], InstallNoMemory) << "the first allocation is the chunk's stored data";
}

TEST_F(HandOff, TemporaryFileThatCannotBeCreated)
{
    LoadCab(Pattern(500, 18));
    fake.failCreate = true;
    EXPECT_EQ(RunHandOff(0), InstallCannotCreate);
    EXPECT_EQ(fake.reads, 0);
    EXPECT_EQ(fake.deletes, 0) << "there is no file to delete";

    // A folder in the way, as a real reason.
    fake.failCreate = false;
    ASSERT_TRUE(CreateDirectoryW(TemporaryCabPath, nullptr));
    EXPECT_EQ(RunHandOff(0), InstallCannotCreate);
    EXPECT_TRUE(GetFileAttributesW(TemporaryCabPath) & FILE_ATTRIBUTE_DIRECTORY);
    RemoveDirectoryW(TemporaryCabPath);
    EXPECT_TRUE(fake.runs.empty());
}

TEST_F(HandOff, LeftoverTemporaryFileWithAttributesIsReplaced)
{
    const Bytes cab = Pattern(3000, 21);
    const DWORD rows[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                          FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE};
    LoadCab(cab);
    for (DWORD attributes : rows) {
        SCOPED_TRACE(attributes);
        fake.runs.clear();
        ASSERT_TRUE(WriteBytes(TemporaryCabPath, Bytes(10000, 'x')));
        ASSERT_TRUE(SetFileAttributesW(TemporaryCabPath, attributes));
        EXPECT_EQ(RunHandOff(0), InstallDone);
        ASSERT_EQ(fake.runs.size(), 1u);
        EXPECT_TRUE(fake.runs[0].cab == cab) << "the installer got the old file's bytes";
        EXPECT_FALSE(Exists(TemporaryCabPath)) << "the temporary file was left behind";
        SetFileAttributesW(TemporaryCabPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(TemporaryCabPath);
    }
}

// ------------------------------------------------------------- registry --

struct HandOffRegistry : HandOff {
    void LoadDestination(const std::u16string &destination, uint8_t useDefault = 0, bool accepts = true)
    {
        velkor::PackageRecipe recipe = ToolPackage(useDefault, destination);
        recipe.components.push_back({u"Main", Pattern(70000, 19), accepts, true});
        Load(Assemble(recipe));
    }
    const RegistryValue *AskDest() { return FindValue(fake.registry, InstallerKeyName, L"fAskDest"); }
};

TEST_F(HandOffRegistry, PassesTheDestinationAndPutsFAskDestBack)
{
    struct Row {
        const char *name;
        std::function<void()> before;
        Bytes after;
    } rows[] = {
        {"was 1", [] { SetAskDest(1); }, DwordBytes(1)},
        {"was 7", [] { SetAskDest(7); }, DwordBytes(7)},
        {"was missing", [] {}, DwordBytes(0)},
        {"was 8 bytes long", [] { SetAskDest(Bytes(8, 1), REG_BINARY); }, DwordBytes(0)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        LoadDestination(u"\\Program Files\\%SoftwareName%");
        row.before();
        EXPECT_EQ(RunHandOff(0), InstallDone);
        ASSERT_EQ(fake.runs.size(), 1u);
        const InstallerRun &run = fake.runs[0];
        EXPECT_FALSE(run.withCommandLine) << "the installer takes the CAB from the registry";
        const RegistryValue *during = FindValue(run.registry, InstallerKeyName, L"fAskDest");
        ASSERT_NE(during, nullptr);
        EXPECT_EQ(during->type, DWORD(REG_DWORD));
        EXPECT_TRUE(during->data == DwordBytes(0));
        const RegistryValue *install = FindValue(run.registry, InstallKeyName, L"\\kCABFILE.cab");
        ASSERT_NE(install, nullptr);
        EXPECT_EQ(install->type, DWORD(REG_SZ));
        EXPECT_TRUE(install->data == WideBytes(L"\\Program Files\\Tool"));
        ASSERT_NE(AskDest(), nullptr);
        EXPECT_EQ(AskDest()->type, DWORD(REG_DWORD));
        EXPECT_TRUE(AskDest()->data == row.after);
        EXPECT_FALSE(Exists(TemporaryCabPath));
    }
}

TEST_F(HandOffRegistry, RootDestinationIsAFourByteValue)
{
    LoadDestination(u"\\");
    EXPECT_EQ(RunHandOff(0), InstallDone);
    ASSERT_EQ(fake.runs.size(), 1u);
    const RegistryValue *install = FindValue(fake.runs[0].registry, InstallKeyName, L"\\kCABFILE.cab");
    ASSERT_NE(install, nullptr);
    EXPECT_EQ(install->data.size(), 4u);
    EXPECT_TRUE(install->data == WideBytes(L"\\"));
}

TEST_F(HandOffRegistry, DefaultCasesLeaveTheRegistryAlone)
{
    for (auto [useDefault, accepts] : {std::pair<uint8_t, bool>{1, true}, {0, false}, {1, false}}) {
        SCOPED_TRACE(int(useDefault) * 10 + accepts);
        TearDown();
        SetUp();
        LoadDestination(u"\\Program Files\\Tool", useDefault, accepts);
        SetAskDest(1);
        EXPECT_EQ(RunHandOff(0), InstallDone);
        EXPECT_EQ(fake.opens, 0);
        ASSERT_EQ(fake.runs.size(), 1u);
        EXPECT_EQ(fake.runs[0].commandLine, L"\\kCABFILE.cab");
    }
}

TEST_F(HandOffRegistry, EveryFailedStepLeavesFAskDestAsItWas)
{
    struct Row {
        const char *name;
        int openFails, setFails;
        bool startFails;
        int result;
        bool installValueLeft;
    } rows[] = {
        {"installer key cannot be opened", 1, 0, false, InstallLaunchFailed, false},
        {"fAskDest cannot be set", 0, 1, false, InstallLaunchFailed, false},
        {"Install key cannot be opened", 2, 0, false, InstallLaunchFailed, false},
        {"Install value cannot be set", 0, 2, false, InstallLaunchFailed, false},
        {"installer cannot be started", 0, 0, true, InstallLaunchFailed, false},
        // The Install value cannot be taken back; fAskDest still is.
        {"installer cannot be started, Install key not reopened", 3, 0, true, InstallLaunchFailed, true},
    };
    for (const Row &row : rows) {
        for (bool existed : {true, false}) {
            SCOPED_TRACE(row.name);
            SCOPED_TRACE(existed ? "fAskDest was 1" : "fAskDest was missing");
            TearDown();
            SetUp();
            LoadDestination(u"\\Apps\\Tool");
            if (existed)
                SetAskDest(1);
            fake.failOpenAt = row.openFails;
            fake.failSetAt = row.setFails;
            fake.failStart = row.startFails;
            EXPECT_EQ(RunHandOff(0), row.result);
            EXPECT_TRUE(fake.runs.empty());
            EXPECT_FALSE(Exists(TemporaryCabPath));
            const RegistryValue *askDest = AskDest();
            if (existed) {
                ASSERT_NE(askDest, nullptr);
                EXPECT_TRUE(askDest->data == DwordBytes(1));
            } else if (askDest) {
                // Written as 0 before the failure and written back as 0.
                EXPECT_TRUE(askDest->data == DwordBytes(0));
            }
            EXPECT_EQ(FindValue(fake.registry, InstallKeyName, L"\\kCABFILE.cab") != nullptr, row.installValueLeft);
        }
    }
}

// A start that failed for a passing reason (memory, or a process that ended
// in its own start-up) is tried again, three times in all; one that failed
// for good is not.  Either way the registry is as the failure left it once.
TEST_F(HandOffRegistry, OnlyAPassingStartFailureIsTriedAgain)
{
    struct Row {
        const char *name;
        std::vector<DWORD> errors;
        int starts;
        int result;
    } rows[] = {
        {"ended in its start-up, then started", {ERROR_INTERNAL_ERROR}, 2, InstallDone},
        {"no memory twice, then started", {ERROR_NOT_ENOUGH_MEMORY, ERROR_OUTOFMEMORY}, 3, InstallDone},
        {"no resources three times", {ERROR_NO_SYSTEM_RESOURCES, ERROR_COMMITMENT_LIMIT, ERROR_INTERNAL_ERROR},
         3, InstallLaunchFailed},
        {"missing", {ERROR_FILE_NOT_FOUND}, 1, InstallLaunchFailed},
        {"no program", {ERROR_BAD_EXE_FORMAT}, 1, InstallLaunchFailed},
        {"may not be run", {ERROR_ACCESS_DENIED}, 1, InstallLaunchFailed},
        {"passing, then for good", {ERROR_INTERNAL_ERROR, ERROR_PATH_NOT_FOUND}, 2, InstallLaunchFailed},
    };
    for (const Row &row : rows) {
        for (uint8_t useDefault : {uint8_t(0), uint8_t(1)}) {
            SCOPED_TRACE(row.name);
            SCOPED_TRACE(useDefault ? "command line" : "destination through the registry");
            TearDown();
            SetUp();
            LoadDestination(u"\\Apps\\Tool", useDefault);
            SetAskDest(1);
            fake.startErrors = row.errors;
            EXPECT_EQ(RunHandOff(0), row.result);
            EXPECT_EQ(fake.starts, row.starts);
            EXPECT_EQ(fake.runs.size(), row.result == InstallDone ? 1u : 0u);
            if (row.result == InstallDone && !useDefault) {
                const RegistryValue *install = FindValue(fake.runs[0].registry, InstallKeyName, L"\\kCABFILE.cab");
                ASSERT_NE(install, nullptr) << "the Install value was gone when the installer started";
                EXPECT_TRUE(install->data == WideBytes(L"\\Apps\\Tool"));
            }
            EXPECT_FALSE(Exists(TemporaryCabPath));
            ASSERT_NE(AskDest(), nullptr);
            EXPECT_TRUE(AskDest()->data == DwordBytes(1));
            if (row.result != InstallDone) {
                EXPECT_EQ(FindValue(fake.registry, InstallKeyName, L"\\kCABFILE.cab"), nullptr);
            }
        }
    }
}

TEST_F(HandOffRegistry, AFailedRestoreAfterTheInstallerRanIsIgnored)
{
    LoadDestination(u"\\Apps\\Tool");
    SetAskDest(1);
    fake.failOpenAt = 3;   // the third open is the one that puts fAskDest back
    EXPECT_EQ(RunHandOff(0), InstallDone);
    EXPECT_EQ(fake.runs.size(), 1u);
    ASSERT_NE(AskDest(), nullptr);
    EXPECT_TRUE(AskDest()->data == DwordBytes(0));
}

}  // namespace
