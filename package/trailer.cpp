/*
 * trailer.cpp -- finds the trailer at the end of the file or, in a signed
 * file, before the certificate table.  Every field of the PE headers is
 * checked against the file's length before it is used: a hostile header
 * leads to "no trailer", never to a read outside the file.
 */
#include "trailer.h"
#include "codec.h"
#include "format.h"

#include <string.h>

#define DOS_HEADER_SIZE     64
#define DOS_LFANEW_AT       0x3C
#define PE_SIGNATURE_SIZE   4
#define COFF_HEADER_SIZE    20
#define COFF_OPTIONAL_SIZE_AT 16
#define PE32_MAGIC          0x10B
#define PE32PLUS_MAGIC      0x20B
#define PE32_DIRECTORIES    96      /* offset of the data directories */
#define PE32PLUS_DIRECTORIES 112
#define SECURITY_ENTRY      4
#define DIRECTORY_SIZE      8
#define WIN_CERTIFICATE_HEADER 8    /* the smallest table: one entry's header */
#define MAX_ALIGNMENT       7

/* Exactly size bytes at offset, which the file must hold. */
static int ReadAt(PackageReader *file, uint32_t offset, void *buffer, uint32_t size)
{
    if (offset > file->Size || size > file->Size - offset)
        return 0;
    return SeekPackageReader(file, offset) && ReadExact(file, buffer, size);
}

int FindCertificateTable(PackageReader *file, CertificateTable *table)
{
    uint8_t dos[DOS_HEADER_SIZE];
    if (!ReadAt(file, 0, dos, DOS_HEADER_SIZE) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    uint32_t pe = ReadLittle32(dos + DOS_LFANEW_AT);
    uint8_t head[PE_SIGNATURE_SIZE + COFF_HEADER_SIZE];
    if (pe < DOS_HEADER_SIZE || !ReadAt(file, pe, head, sizeof head) || memcmp(head, "PE\0\0", 4) != 0)
        return 0;
    uint32_t optionalAt = pe + (uint32_t)sizeof head;   /* ReadAt proved it lies inside the file */
    uint32_t optionalSize = ReadLittle16(head + PE_SIGNATURE_SIZE + COFF_OPTIONAL_SIZE_AT);

    /* Enough of the optional header for either kind's security entry. */
    uint8_t optional[PE32PLUS_DIRECTORIES + (SECURITY_ENTRY + 1) * DIRECTORY_SIZE];
    uint32_t have = optionalSize < sizeof optional ? optionalSize : (uint32_t)sizeof optional;
    if (have < 2 || !ReadAt(file, optionalAt, optional, have))
        return 0;
    uint32_t directories;
    switch (ReadLittle16(optional)) {
    case PE32_MAGIC: directories = PE32_DIRECTORIES; break;
    case PE32PLUS_MAGIC: directories = PE32PLUS_DIRECTORIES; break;
    default: return 0;
    }
    uint32_t entry = directories + SECURITY_ENTRY * DIRECTORY_SIZE;
    if (have < entry + DIRECTORY_SIZE || ReadLittle32(optional + directories - 4) <= SECURITY_ENTRY)
        return 0;

    uint64_t headersEnd = (uint64_t)optionalAt + optionalSize;
    uint32_t at = ReadLittle32(optional + entry), size = ReadLittle32(optional + entry + 4);
    if (size < WIN_CERTIFICATE_HEADER || at < headersEnd || at > file->Size || size != file->Size - at)
        return 0;
    table->HeadersEnd = (uint32_t)headersEnd;
    table->TableOffset = at;
    table->TableSize = size;
    return 1;
}

int FindTrailer(PackageReader *file, uint32_t *trailerAt)
{
    uint8_t tail[TRAILER_SIZE + MAX_ALIGNMENT];
    if (file->Size >= TRAILER_SIZE && ReadAt(file, file->Size - TRAILER_SIZE, tail, TRAILER_SIZE) &&
        memcmp(tail + TRAILER_SIZE - TRAILER_MAGIC_SIZE, TRAILER_MAGIC, TRAILER_MAGIC_SIZE) == 0) {
        *trailerAt = file->Size - TRAILER_SIZE;
        return TrailerAtEnd;
    }

    CertificateTable table;
    if (!FindCertificateTable(file, &table))
        return TrailerNone;
    /* The trailer and its alignment lie between the headers and the table. */
    uint32_t room = table.TableOffset - table.HeadersEnd;
    uint32_t n = room < sizeof tail ? room : (uint32_t)sizeof tail;
    if (n < TRAILER_SIZE || !ReadAt(file, table.TableOffset - n, tail, n))
        return TrailerNone;
    /* The magic ends in a nonzero byte, so at most one padding fits. */
    for (uint32_t pad = 0; pad <= MAX_ALIGNMENT && pad + TRAILER_SIZE <= n; ++pad) {
        const uint8_t *end = tail + n - pad;
        if (pad && end[0] != 0)
            break;
        if (memcmp(end - TRAILER_MAGIC_SIZE, TRAILER_MAGIC, TRAILER_MAGIC_SIZE) == 0) {
            *trailerAt = table.TableOffset - pad - TRAILER_SIZE;
            return TrailerBeforeCertificates;
        }
    }
    return TrailerNone;
}
