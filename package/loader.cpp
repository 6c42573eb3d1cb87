/*
 * loader.cpp -- reads the package out of the program's own file into
 * Package, expanding the placeholders of the destination and the texts.
 * It only reads; a count that the rest of the file cannot hold is refused
 * before anything is allocated for it.
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

/* A zero-filled array of count records, or NULL when the file cannot hold
 * that many records of at least minRecord bytes, or no memory. */
static void *AllocRecords(PackageReader *file, uint32_t count, size_t recordSize, uint32_t minRecord)
{
    if ((uint64_t)count * minRecord > ReaderRemaining(file))
        return NULL;
    uint64_t bytes = (uint64_t)count * recordSize;
    if (bytes > (uint64_t)(size_t)-1)
        return NULL;
    void *block = VAlloc((size_t)bytes);
    if (block)
        memset(block, 0, (size_t)bytes);
    return block;
}

static LoadResult ReadHeader(PackageReader *file)
{
    Package.SoftwareName = ReadPackageString(file);
    if (!Package.SoftwareName)
        return LoadOutOfMemory;
    Package.CompanyName = ReadPackageString(file);
    if (!Package.CompanyName)
        return LoadOutOfMemory;

    /* Only the two names apply here: no variable has been read yet. */
    VCHAR *destination = ReadBlock(file);
    if (!destination)
        return LoadOutOfMemory;
    Package.DestinationPath = ExpandText(destination);
    VFree(destination);
    if (!Package.DestinationPath)
        return LoadOutOfMemory;

    uint8_t pageFlags;
    if (!ReadU8(file, &Package.UseDefaultLocation) || !ReadU8(file, &Package.RequireInstallArgument) ||
        !ReadU8(file, &pageFlags))
        return LoadOutOfMemory;
    pageFlags = PagesShown(pageFlags, Package.UseDefaultLocation);
    Package.PageFlags = pageFlags;
    Package.FirstPage = LowestPage(pageFlags);
    Package.LastPage = HighestPage(pageFlags);

    uint32_t count;
    if (!ReadU32(file, &count))
        return LoadOutOfMemory;
    if (count) {
        Package.Variables = (Variable *)AllocRecords(file, count, sizeof(Variable), MIN_VARIABLE_SIZE);
        if (!Package.Variables)
            return LoadOutOfMemory;
        Package.VariableCount = count;
        for (uint32_t i = 0; i < count; ++i) {
            Package.Variables[i].Name = ReadBlock(file);
            if (!Package.Variables[i].Name)
                return LoadOutOfMemory;
            Package.Variables[i].Value = ReadBlock(file);
            if (!Package.Variables[i].Value)
                return LoadOutOfMemory;
        }
    }

    if (!ReadU32(file, &count))
        return LoadOutOfMemory;
    if (count) {
        Package.Components = (Component *)AllocRecords(file, count, sizeof(Component), MIN_COMPONENT_SIZE);
        if (!Package.Components)
            return LoadOutOfMemory;
        Package.ComponentCount = count;
        for (uint32_t i = 0; i < count; ++i) {
            Component *c = &Package.Components[i];
            if (!ReadU8(file, &c->AcceptsDestination) || !ReadU8(file, &c->Selected) ||
                !ReadU32(file, &c->PayloadOffset) || !ReadU32(file, &c->UnpackedSize))
                return LoadOutOfMemory;
            c->Name = ReadBlock(file);
            if (!c->Name)
                return LoadOutOfMemory;
        }
    }

    if (!ReadU32(file, &count))
        return LoadOutOfMemory;
    /* Every screen reads all thirty texts; a shorter table is not a package
     * this program can show. */
    if (count < TextCount)
        return LoadNotAPackage;
    Package.TextTable = (VCHAR **)AllocRecords(file, count, sizeof(VCHAR *), MIN_BLOCK_SIZE);
    if (!Package.TextTable)
        return LoadOutOfMemory;
    Package.TextCount = count;
    for (uint32_t i = 0; i < count; ++i) {
        VCHAR *raw = ReadBlock(file);
        if (!raw)
            return LoadOutOfMemory;
        Package.TextTable[i] = ExpandText(raw);
        VFree(raw);
        if (!Package.TextTable[i])
            return LoadOutOfMemory;
    }
    return LoadSucceeded;
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

    LoadResult result = LoadOutOfMemory;
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
