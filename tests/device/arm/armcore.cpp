/*
 * armcore.cpp -- the package core run on one package, with everything it
 * finds reported as plain lines: the load result, every field and expanded
 * text, the pages shown and the walk through them, and each component
 * unpacked into a file.  The same source builds for the device (ARM,
 * against coredll, run under the emulator by armrun) and natively; the two
 * runs must report the same lines on the same bytes.
 *
 * What it asks of its host, and nothing more: the heap (package/base_win.cpp
 * or base_posix.cpp), the package file as an in-memory image (a file
 * mapping on the device), a file to write each component into, and one
 * call that reports a line (OutputDebugStringW on the device).  The file
 * host reports the bytes written and their digest when the file is closed.
 */
#include "package.h"
#include "codec.h"
#include "pageflow.h"
#include "pagetable.h"
#include "payload.h"
#include "text.h"

#include <string.h>

/* ---- the host ---- */

typedef struct {
    const uint8_t *Data;
    uint32_t Size;
    void *File;
    void *Mapping;
} PackageImage;

static int MapPackage(const VCHAR *path, PackageImage *image);
static void UnmapPackage(PackageImage *image);
static void ReportLine(const char *line);
static void *CreateOutput(void);
static int WriteOutput(void *file, const uint8_t *data, uint32_t length);
static void CloseOutput(void *file);

/* Where each component is unpacked to, as the setup program does. */
static const VCHAR OutputPath[] = VTEXT("\\kCABFILE.cab");

/* ---- report lines: ASCII only, every other code unit escaped ---- */

#define LINE_UNITS 1024
static char Line[LINE_UNITS];
static uint32_t LineLength;

static void Put(const char *s)
{
    while (*s && LineLength + 1 < LINE_UNITS)
        Line[LineLength++] = *s++;
    Line[LineLength] = 0;
}

static void PutDecimal(uint32_t value)
{
    char digits[11];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    char s[12];
    for (int i = 0; i < n; ++i)
        s[i] = digits[n - 1 - i];
    s[n] = 0;
    Put(s);
}

static void PutHex(uint32_t value, int width)
{
    static const char hex[] = "0123456789abcdef";
    char s[9];
    for (int i = 0; i < width; ++i)
        s[i] = hex[(value >> (4 * (width - 1 - i))) & 15];
    s[width] = 0;
    Put(s);
}

static void PutUnits(const VCHAR *text, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i) {
        VCHAR c = text[i];
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            char s[2] = {(char)c, 0};
            Put(s);
        } else {
            Put("\\u");
            PutHex(c, 4);
        }
    }
}

/* A text as: "start" ... "end" (its length and FNV-1a check of all units). */
static void PutText(const VCHAR *text)
{
    if (!text) {
        Put("(none)");
        return;
    }
    size_t length = TextLength(text);
    uint32_t check = 2166136261u;
    for (size_t i = 0; i < length; ++i) {
        check = (check ^ (text[i] & 0xFF)) * 16777619u;
        check = (check ^ (text[i] >> 8)) * 16777619u;
    }
    Put("\"");
    if (length <= 96) {
        PutUnits(text, 0, length);
    } else {
        PutUnits(text, 0, 64);
        Put("\" ... \"");
        PutUnits(text, length - 16, length);
    }
    Put("\" (");
    PutDecimal((uint32_t)length);
    Put(" units, ");
    PutHex(check, 8);
    Put(")");
}

static void Begin(const char *s)
{
    LineLength = 0;
    Line[0] = 0;
    Put(s);
}

static void End(void)
{
    ReportLine(Line);
}

/* ---- what is reported ---- */

static const char *LoadName(LoadResult r)
{
    switch (r) {
    case LoadSucceeded: return "succeeded";
    case LoadCannotOpen: return "cannot-open";
    case LoadNotAPackage: return "not-a-package";
    case LoadOutOfMemory: return "out-of-memory";
    case LoadDamaged: return "damaged";
    }
    return "?";
}

static void PutPages(uint8_t flags)
{
    int any = 0;
    for (int i = 0; i < PAGE_COUNT; ++i)
        if (flags & PageTemplates[i].Flag) {
            Put(any ? "," : "");
            Put(PageTemplates[i].Name);
            any = 1;
        }
    if (!any)
        Put("none");
}

/* Next from the first page to the install, and Back from the last page to
 * the first, with what OK reads on each page. */
static void ReportFlow(uint8_t flags, uint8_t useDefault)
{
    Begin("flow default-location=");
    PutDecimal(useDefault);
    Put(" next:");
    uint8_t page = LowestPage(flags);
    for (int steps = 0; steps < 8; ++steps) {
        Put(" ");
        if (page) {
            PutPages(page);
            Put(OkInstalls(flags, useDefault, page) ? "[install]" : "[next]");
        }
        PageStep step = NextPage(flags, useDefault, page);
        if (step.Installs) {
            Put(" -> install on ");
            PutDecimal(step.Page);
            break;
        }
        page = step.Page;
    }
    Put("; back:");
    page = HighestPage(flags);
    for (int steps = 0; page && steps < 8; ++steps) {
        Put(" ");
        PutPages(page);
        uint8_t back = PreviousPage(flags, useDefault, page);
        if (back == page)
            break;
        page = back;
    }
    End();
}

/* One component's file, as the setup program writes it: the decoded chunks
 * must add up to exactly its unpacked size. */
typedef struct {
    void *File;
    uint32_t Unwritten;
    uint32_t Written;
    int Failed;
} Unpacking;

enum { UnpackDone = 0, UnpackDamaged, UnpackNoMemory, UnpackTooLong, UnpackShort, UnpackCannotWrite };

static int WriteChunk(void *context, const uint8_t *data, uint32_t length)
{
    Unpacking *u = (Unpacking *)context;
    if (length > u->Unwritten)
        return 100 + UnpackTooLong;
    u->Unwritten -= length;
    if (length && !WriteOutput(u->File, data, length))
        return 100 + UnpackCannotWrite;
    u->Written += length;
    return ChunkTaken;
}

/* The inflate-and-write of one component: the emulator's benchmark counts
 * the instructions spent in here (keep the name; armrun looks it up). */
extern "C" int UnpackComponent(const PackageImage *image, const Component *c, Unpacking *u, uint32_t *chunks)
{
    PackageReader reader;
    OpenBufferReader(&reader, image->Data, image->Size);
    *chunks = 0;
    if (!SeekPackageReader(&reader, c->PayloadOffset))
        return UnpackDamaged;
    PayloadStream stream;
    stream.Source = ReaderByteSource(&reader);
    stream.StoredRead = NULL;
    stream.Take = WriteChunk;
    stream.Context = u;
    uint32_t count;
    if (ReadChunkCount(&stream.Source, &count) != ChunkTaken)
        return UnpackDamaged;
    for (uint32_t i = 0; i < count; ++i) {
        int r = ReadChunk(&stream);
        if (r == ChunkDamaged)
            return UnpackDamaged;
        if (r == ChunkNoMemory)
            return UnpackNoMemory;
        if (r != ChunkTaken)
            return r - 100;
        ++*chunks;
    }
    return u->Unwritten == 0 ? UnpackDone : UnpackShort;
}

static const char *UnpackName(int r)
{
    static const char *const names[] = {"done", "damaged", "no-memory", "too-long", "short", "cannot-write"};
    return r >= 0 && r <= UnpackCannotWrite ? names[r] : "?";
}

static void ReportComponents(const PackageImage *image)
{
    for (uint32_t i = 0; i < Package.ComponentCount; ++i) {
        const Component *c = &Package.Components[i];
        Begin("component ");
        PutDecimal(i);
        Put(": ");
        PutText(c->Name);
        Put(" accepts-destination=");
        PutDecimal(c->AcceptsDestination);
        Put(" selected=");
        PutDecimal(c->Selected);
        Put(" payload-at=");
        PutDecimal(c->PayloadOffset);
        Put(" unpacked-size=");
        PutDecimal(c->UnpackedSize);
        End();

        Unpacking u = {CreateOutput(), c->UnpackedSize, 0, 0};
        uint32_t chunks = 0;
        int r = u.File ? UnpackComponent(image, c, &u, &chunks) : UnpackCannotWrite;
        long live = VHeapLiveBlocks();
        if (u.File)
            CloseOutput(u.File);
        Begin("unpack ");
        PutDecimal(i);
        Put(": ");
        Put(UnpackName(r));
        Put(" chunks=");
        PutDecimal(chunks);
        Put(" written=");
        PutDecimal(u.Written);
        Put(" live-blocks-after=");
        PutDecimal((uint32_t)live);
        End();
    }
}

static void ReportPackage(void)
{
    Begin("software-name ");
    PutText(Package.SoftwareName);
    End();
    Begin("company-name ");
    PutText(Package.CompanyName);
    End();
    Begin("destination ");
    PutText(Package.DestinationPath);
    End();
    Begin("use-default-location=");
    PutDecimal(Package.UseDefaultLocation);
    Put(" require-install-argument=");
    PutDecimal(Package.RequireInstallArgument);
    End();
    Begin("pages shown=");
    PutPages(Package.PageFlags);
    Put(" first=");
    PutPages(Package.FirstPage);
    Put(" last=");
    PutPages(Package.LastPage);
    End();
    ReportFlow(Package.PageFlags, 0);
    ReportFlow(Package.PageFlags, 1);
    for (uint32_t i = 0; i < Package.VariableCount; ++i) {
        Begin("variable ");
        PutDecimal(i);
        Put(": ");
        PutText(Package.Variables[i].Name);
        Put(" = ");
        PutText(Package.Variables[i].Value);
        End();
    }
    for (uint32_t i = 0; i < Package.TextCount; ++i) {
        Begin("text ");
        PutDecimal(i);
        Put(": ");
        PutText(Package.TextTable[i]);
        End();
    }
}

/* The whole run on one package file. */
static int RunPackage(const VCHAR *path)
{
    PackageImage image;
    if (!MapPackage(path, &image)) {
        Begin("cannot map the package");
        End();
        return 1;
    }
    Begin("image ");
    PutDecimal(image.Size);
    Put(" bytes");
    End();

    UseMemoryPackage(image.Data, image.Size);
    VHeapFailAt(0);
    LoadResult result = LoadPackage();
    UseFilePackages();
    Begin("load ");
    Put(LoadName(result));
    Put(" allocations=");
    PutDecimal((uint32_t)VHeapAllocations());
    End();
    if (result == LoadSucceeded) {
        ReportPackage();
        ReportComponents(&image);
    }
    ReleasePackage();
    Begin("released live-blocks=");
    PutDecimal((uint32_t)VHeapLiveBlocks());
    End();
    UnmapPackage(&image);
    return 0;
}

#ifdef _WIN32
/* ---- the device: coredll ---- */

static int MapPackage(const VCHAR *path, PackageImage *image)
{
    memset(image, 0, sizeof *image);
    HANDLE file = CreateFileForMappingW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(file, NULL);
    HANDLE mapping = size ? CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL) : NULL;
    const uint8_t *view = mapping ? (const uint8_t *)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : NULL;
    if (size && !view) {
        if (mapping)
            CloseHandle(mapping);
        CloseHandle(file);
        return 0;
    }
    image->Data = view;
    image->Size = size;
    image->File = file;
    image->Mapping = mapping;
    return 1;
}

static void UnmapPackage(PackageImage *image)
{
    if (image->Data)
        UnmapViewOfFile((LPVOID)image->Data);
    if (image->Mapping)
        CloseHandle((HANDLE)image->Mapping);
    CloseHandle((HANDLE)image->File);
}

static void ReportLine(const char *line)
{
    static WCHAR wide[LINE_UNITS + 1];
    size_t n = 0;
    while (line[n] && n < LINE_UNITS) {
        wide[n] = (WCHAR)(uint8_t)line[n];
        ++n;
    }
    wide[n++] = '\n';
    wide[n] = 0;
    OutputDebugStringW(wide);
}

static void *CreateOutput(void)
{
    HANDLE file = CreateFileW(OutputPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return file == INVALID_HANDLE_VALUE ? NULL : file;
}

static int WriteOutput(void *file, const uint8_t *data, uint32_t length)
{
    DWORD written = 0;
    return WriteFile((HANDLE)file, data, length, &written, NULL) && written == length;
}

static void CloseOutput(void *file)
{
    CloseHandle((HANDLE)file);
}

/* The runner's own check: accesses a CE device would refuse, made on
 * purpose ("!unaligned-word", "!unaligned-halfword"). */
static uint8_t ProbeBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};

extern "C" __attribute__((noinline)) uint32_t ProbeUnaligned(const VCHAR *what)
{
    volatile uint8_t *odd = ProbeBytes + 1;
    if (what[11] == 'h') {
        *(volatile uint16_t *)odd = 0x1234;
        return 0;
    }
    return *(volatile uint32_t *)odd;
}

/* The start-up code calls WinMain with the command line: the package's path. */
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show)
{
    if (commandLine[0] == '!')
        return (int)ProbeUnaligned(commandLine);
    return RunPackage(commandLine);
}

#else
/* ---- natively: stdio, and the file host's report from armhost.h ---- */
#include "armhost.h"

#include <stdio.h>
#include <stdlib.h>

static int MapPackage(const VCHAR *path, PackageImage *image)
{
    memset(image, 0, sizeof *image);
    std::vector<uint8_t> *bytes = new std::vector<uint8_t>;
    if (!armhost::ReadWholeFile(armhost::Narrow(path), *bytes)) {
        delete bytes;
        return 0;
    }
    image->Data = bytes->data();
    image->Size = (uint32_t)bytes->size();
    image->File = bytes;
    return 1;
}

static void UnmapPackage(PackageImage *image)
{
    delete (std::vector<uint8_t> *)image->File;
}

static void ReportLine(const char *line)
{
    printf("%s\n", line);
}

static void *CreateOutput(void)
{
    return new armhost::WrittenFile(armhost::Narrow(OutputPath));
}

static int WriteOutput(void *file, const uint8_t *data, uint32_t length)
{
    ((armhost::WrittenFile *)file)->Write(data, length);
    return 1;
}

static void CloseOutput(void *file)
{
    armhost::WrittenFile *f = (armhost::WrittenFile *)file;
    printf("%s\n", f->Closed().c_str());
    delete f;
}

/* armcore PACKAGE...: each package's lines after a "package NAME" line, as
 * armrun prints them for the ARM program. */
int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        printf("%s\n", armhost::PackageHeading(argv[i]).c_str());
        std::u16string path = armhost::Widen(argv[i]);
        RunPackage(path.c_str());
    }
    return 0;
}
#endif
