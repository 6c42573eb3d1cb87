/*
 * loader.cpp -- reads the package out of the program's own file into
 * Package, expanding the placeholders of the destination and the texts.
 * It only reads; a count that the rest of the file cannot hold is refused
 * as damage before anything is allocated for it, and only a refused
 * allocation is reported as memory running out.
 */
#include "package.h"
#include "codec.h"
#include "pageflow.h"
#include "text.h"
#include "trailer.h"

#include <string.h>

SetupPackage Package;
VCHAR ModulePath[MODULE_PATH_UNITS];

const VCHAR TextBuiltInCaption[] = VTEXT("Velkor");
const VCHAR TextBuiltInCannotOpen[] =
    VTEXT("Velkor cannot open the source setup file. Please download this setup package again.");
const VCHAR TextBuiltInNotAPackage[] = VTEXT("Invalid Velkor setup package. Please download this setup package again.");
const VCHAR TextBuiltInOutOfMemory[] = VTEXT("Out of memory. Velkor cannot continue, please try to install it later.");

/* Smallest encodings, for refusing counts the file cannot hold. */
#define MIN_BLOCK_SIZE     BLOCK_PREFIX_STORED
#define MIN_VARIABLE_SIZE  (2 * MIN_BLOCK_SIZE)
#define MIN_COMPONENT_SIZE (COMPONENT_FIXED_SIZE + MIN_BLOCK_SIZE)

static int ReadU8(PackageReader *file, uint8_t *value)
{
    return ReadExact(file, value, 1);
}

static int ReadU32(PackageReader *file, uint32_t *value)
{
    uint8_t b[4];
    if (!ReadExact(file, b, 4))
        return 0;
    *value = ReadLittle32(b);
    return 1;
}

/* What an item reader's failure means to the user: damage, or memory. */
static LoadResult ItemFailure(int result)
{
    return result == BlockDamaged ? LoadDamaged : LoadOutOfMemory;
}

static LoadResult ReadName(PackageReader *file, VCHAR **name)
{
    int result = ReadPackageString(file, name);
    return result == BlockRead ? LoadSucceeded : ItemFailure(result);
}

static LoadResult ReadText(PackageReader *file, VCHAR **text)
{
    int result = ReadBlock(file, text);
    return result == BlockRead ? LoadSucceeded : ItemFailure(result);
}

/* A text Block with its placeholders expanded as the model stands now. */
static LoadResult ReadExpandedText(PackageReader *file, VCHAR **text)
{
    VCHAR *raw;
    LoadResult result = ReadText(file, &raw);
    if (result != LoadSucceeded)
        return result;
    *text = ExpandText(raw);
    VFree(raw);
    return *text ? LoadSucceeded : LoadOutOfMemory;
}

/* A record count, then a zero-filled array of that many records in
 * *records (NULL for none).  LoadNotAPackage for fewer than minCount;
 * LoadDamaged when the file cannot hold that many records of at least
 * minRecord bytes; LoadOutOfMemory when the array cannot be had. */
static LoadResult ReadRecordTable(PackageReader *file, uint32_t minCount, size_t recordSize, uint32_t minRecord,
                                  uint32_t *count, void **records)
{
    *records = NULL;
    if (!ReadU32(file, count))
        return LoadDamaged;
    if (*count < minCount)
        return LoadNotAPackage;
    if (*count == 0)
        return LoadSucceeded;
    if ((uint64_t)*count * minRecord > ReaderRemaining(file))
        return LoadDamaged;
    uint64_t bytes = (uint64_t)*count * recordSize;
    if (bytes > (uint64_t)(size_t)-1)
        return LoadOutOfMemory;
    void *block = VAlloc((size_t)bytes);
    if (!block)
        return LoadOutOfMemory;
    memset(block, 0, (size_t)bytes);
    *records = block;
    return LoadSucceeded;
}

static LoadResult ReadVariables(PackageReader *file)
{
    uint32_t count;
    void *records;
    LoadResult result = ReadRecordTable(file, 0, sizeof(Variable), MIN_VARIABLE_SIZE, &count, &records);
    if (result != LoadSucceeded)
        return result;
    Package.Variables = (Variable *)records;
    Package.VariableCount = count;
    for (uint32_t i = 0; i < count && result == LoadSucceeded; ++i) {
        result = ReadText(file, &Package.Variables[i].Name);
        if (result == LoadSucceeded)
            result = ReadText(file, &Package.Variables[i].Value);
    }
    return result;
}

static LoadResult ReadComponents(PackageReader *file)
{
    uint32_t count;
    void *records;
    LoadResult result = ReadRecordTable(file, 0, sizeof(Component), MIN_COMPONENT_SIZE, &count, &records);
    if (result != LoadSucceeded)
        return result;
    Package.Components = (Component *)records;
    Package.ComponentCount = count;
    for (uint32_t i = 0; i < count && result == LoadSucceeded; ++i) {
        Component *c = &Package.Components[i];
        if (!ReadU8(file, &c->AcceptsDestination) || !ReadU8(file, &c->Selected) ||
            !ReadU32(file, &c->PayloadOffset) || !ReadU32(file, &c->UnpackedSize))
            return LoadDamaged;
        result = ReadText(file, &c->Name);
    }
    return result;
}

static LoadResult ReadTexts(PackageReader *file)
{
    /* Every screen reads all thirty texts; a shorter table is not a package
     * this program can show. */
    uint32_t count;
    void *records;
    LoadResult result = ReadRecordTable(file, TextCount, sizeof(VCHAR *), MIN_BLOCK_SIZE, &count, &records);
    if (result != LoadSucceeded)
        return result;
    Package.TextTable = (VCHAR **)records;
    Package.TextCount = count;
    for (uint32_t i = 0; i < count && result == LoadSucceeded; ++i)
        result = ReadExpandedText(file, &Package.TextTable[i]);
    return result;
}

static LoadResult ReadHeader(PackageReader *file)
{
    LoadResult result = ReadName(file, &Package.SoftwareName);
    if (result == LoadSucceeded)
        result = ReadName(file, &Package.CompanyName);
    /* Only the two names apply here: no variable has been read yet. */
    if (result == LoadSucceeded)
        result = ReadExpandedText(file, &Package.DestinationPath);
    if (result != LoadSucceeded)
        return result;

    uint8_t pageFlags;
    if (!ReadU8(file, &Package.UseDefaultLocation) || !ReadU8(file, &Package.RequireInstallArgument) ||
        !ReadU8(file, &pageFlags))
        return LoadDamaged;
    pageFlags = PagesShown(pageFlags, Package.UseDefaultLocation);
    Package.PageFlags = pageFlags;
    Package.FirstPage = LowestPage(pageFlags);
    Package.LastPage = HighestPage(pageFlags);

    result = ReadVariables(file);
    if (result == LoadSucceeded)
        result = ReadComponents(file);
    if (result == LoadSucceeded)
        result = ReadTexts(file);
    return result;
}

LoadResult LoadPackage(void)
{
    memset(&Package, 0, sizeof Package);
    Package.UseDefaultLocation = 1;

    PackageReader file;
    if (!OpenPackageReader(&file, ModulePath))
        return LoadCannotOpen;

    /* A signed file keeps its trailer just before the certificate table;
     * every offset in the package stays relative to the whole file. */
    uint32_t trailerAt = 0, headerOffset = 0;
    if (FindTrailer(&file, &trailerAt) == TrailerNone || !SeekPackageReader(&file, trailerAt) ||
        !ReadU32(&file, &headerOffset)) {
        ClosePackageReader(&file);
        return LoadNotAPackage;
    }

    LoadResult result = LoadDamaged;
    if (SeekPackageReader(&file, headerOffset))
        result = ReadHeader(&file);
    ClosePackageReader(&file);
    return result;
}

void ReleasePackage(void)
{
    if (Package.Components) {
        for (uint32_t i = 0; i < Package.ComponentCount; ++i)
            VFree(Package.Components[i].Name);
        VFree(Package.Components);
    }
    if (Package.Variables) {
        for (uint32_t i = 0; i < Package.VariableCount; ++i) {
            VFree(Package.Variables[i].Name);
            VFree(Package.Variables[i].Value);
        }
        VFree(Package.Variables);
    }
    if (Package.TextTable) {
        for (uint32_t i = 0; i < Package.TextCount; ++i)
            VFree(Package.TextTable[i]);
        VFree(Package.TextTable);
    }
    VFree(Package.SoftwareName);
    VFree(Package.CompanyName);
    VFree(Package.DestinationPath);
    /* Nothing may point at freed blocks: a second release does nothing. */
    memset(&Package, 0, sizeof Package);
}
