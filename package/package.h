/*
 * package.h -- the loaded setup package, process-wide from LoadPackage to
 * ReleasePackage.  The wizard pages change only Selected,
 * UseDefaultLocation and DestinationPath; everything else is read-only.
 */
#ifndef VELKOR_PACKAGE_H
#define VELKOR_PACKAGE_H

#include "base.h"
#include "format.h"

#define MODULE_PATH_UNITS 260

typedef struct {
    VCHAR *Name;      /* the literal pattern, delimiters included */
    VCHAR *Value;
} Variable;

typedef struct {
    uint32_t PayloadOffset;
    uint32_t UnpackedSize;
    VCHAR *Name;
    uint8_t AcceptsDestination;
    uint8_t Selected;
} Component;

typedef struct {
    VCHAR *SoftwareName;
    VCHAR *CompanyName;
    VCHAR *DestinationPath;
    uint8_t UseDefaultLocation;
    uint8_t RequireInstallArgument;
    uint8_t PageFlags;
    uint8_t FirstPage;
    uint8_t LastPage;
    Variable *Variables;
    uint32_t VariableCount;
    Component *Components;
    uint32_t ComponentCount;
    VCHAR **TextTable;
    uint32_t TextCount;
} SetupPackage;

typedef enum {
    LoadSucceeded = 1,
    LoadCannotOpen = 2,
    LoadNotAPackage = 3,
    LoadOutOfMemory = 4,
    LoadDamaged = 5
} LoadResult;

/* ---- the process-wide state of the package (loader.cpp) ----
 * Package: the loaded package; the pages write the user's choices into it.
 * ModulePath: this program's own file, set at start-up; the package and
 *   every component's payload are read from it. */
extern SetupPackage Package;
extern VCHAR ModulePath[MODULE_PATH_UNITS];

/* The messages that must work when the package cannot be read, so they are
 * built in rather than taken from it; their caption is "Velkor". */
extern const VCHAR TextBuiltInCaption[];
extern const VCHAR TextBuiltInCannotOpen[];
extern const VCHAR TextBuiltInNotAPackage[];
extern const VCHAR TextBuiltInOutOfMemory[];

/* Reads the package appended to the file named by ModulePath.
 *   LoadCannotOpen   the file cannot be opened
 *   LoadNotAPackage  no "VKR1" trailer (at the end, or before the
 *                    certificate table of a signed file), or fewer
 *                    than 30 texts
 *   LoadDamaged      after the trailer: a read that failed or ended early
 *                    (a header offset that leads nowhere, a header cut
 *                    short), a stream that does not decode, or a count or
 *                    size the file cannot hold; shown with the same text
 *                    as LoadNotAPackage, since a new copy is the remedy
 *   LoadOutOfMemory  an allocation was refused: for an item, an array, the
 *                    decoder or a placeholder expansion */
LoadResult LoadPackage(void);
void ReleasePackage(void);

#endif
