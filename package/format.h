/*
 * format.h -- the byte layout of a Velkor setup package.
 *
 * Shared by the setup program, which only reads packages, and by the
 * authoring tool, which writes them, so the two cannot drift apart.
 *
 * All integers are unsigned little-endian; every offset is absolute from the
 * start of the executable file.  Text is UTF-16LE.
 *
 *   +--------------------+ 0
 *   | executable image   |
 *   +--------------------+ HeaderOffset
 *   | PackageHeader      |
 *   +--------------------+ Component[0].PayloadOffset
 *   | Payload 0 .. n-1   |   (the reader never assumes this order)
 *   +--------------------+ file length - 8
 *   | PackageTrailer     |   u32 HeaderOffset, "VKR1"
 *   +--------------------+
 *
 * PackageString: u32 count, count UTF-16 code units, no terminator.
 *
 * Block:  u8  compressed    0 = stored, anything else = one zlib stream
 *         u32 stored size   bytes of data after this prefix
 *         u32 decoded size  only when compressed; 0 = not stated
 *         data
 *   A text Block holds UTF-16LE text including its zero terminator.
 *
 * PackageHeader:
 *   PackageString SoftwareName
 *   PackageString CompanyName
 *   Block         DestinationPath (text, placeholders unexpanded)
 *   u8            UseDefaultLocation
 *   u8            RequireInstallArgument
 *   u8            PageFlags
 *   u32           variable count, then per variable: Block Name, Block Value
 *   u32           component count, then per component:
 *                   u8 AcceptsDestination, u8 Selected,
 *                   u32 PayloadOffset, u32 UnpackedSize, Block Name
 *   u32           text count (30), then one text Block per text
 *
 * Payload: u32 chunk count, then one binary Block per chunk.  The decoded
 * chunks, concatenated, are the component's CAB file.
 */
#ifndef VELKOR_FORMAT_H
#define VELKOR_FORMAT_H

#define TRAILER_SIZE          8
#define TRAILER_MAGIC         "VKR1"
#define TRAILER_MAGIC_SIZE    4

#define BLOCK_STORED          0
#define BLOCK_COMPRESSED      1   /* what the authoring tool writes */
#define BLOCK_PREFIX_STORED   5   /* compressed byte + stored size */
#define BLOCK_PREFIX_COMPRESSED 9 /* ... + decoded size */

#define COMPONENT_FIXED_SIZE  10  /* flags and the two u32 before the name */
#define CHUNK_SIZE            65536

/* Deflate never expands more than 1032:1; a stream cannot decode to more. */
#define DEFLATE_MAX_RATIO     1032

/* Page flags, in the order the pages follow each other. */
enum {
    PageWelcome     = 1,
    PageAgreement   = 2,
    PageComponents  = 4,
    PageLocation    = 8,
    PageDestination = 16,
    PageReady       = 32,
    PageAll         = 63
};

/* Indices of the text table. */
enum {
    TextWindowTitle = 0,
    TextNextButton,
    TextInstallButton,
    TextBackButton,
    TextCancelButton,
    TextWelcomeTitle,
    TextWelcomeBody,
    TextAgreementTitle,
    TextAgreementBody,
    TextAcceptChoice,
    TextDeclineChoice,
    TextLocationTitle,
    TextLocationBody,
    TextDefaultLocationChoice,
    TextChooseFolderChoice,
    TextDestinationTitle,
    TextSpaceRequired,
    TextComponentsTitle,
    TextComponentsBody,
    TextReadyTitle,
    TextReadyBody,
    TextProgressTitle,
    TextProgressLabel,
    TextNoComponentSelected,
    TextNotEnoughSpace,
    TextInstallIncomplete,
    TextCannotInstall,
    TextPackageCorrupted,
    TextInstallerFailed,
    TextConfirmCancel,
    TextCount            /* 30: a complete package holds exactly these */
};

#endif
