/*
 * trailer.h -- where a package's 8-byte trailer lies.  Unsigned, it is the
 * file's last 8 bytes.  Signing appends an attribute certificate table that
 * the PE optional header's security entry names; the trailer then lies just
 * before that table and the up to 7 zero bytes that align it to 8.  Shared
 * by the setup program's loader and the authoring tool, so both find the
 * same package.  Nothing here checks a signature.
 */
#ifndef VELKOR_TRAILER_H
#define VELKOR_TRAILER_H

#include "base.h"

typedef struct {
    uint32_t HeadersEnd;     /* end of the optional header */
    uint32_t TableOffset;    /* the table, as the security entry names it */
    uint32_t TableSize;
} CertificateTable;

enum {
    TrailerNone = 0,
    TrailerAtEnd = 1,
    TrailerBeforeCertificates = 2
};

/* The certificate table of a PE file, when its security entry names one
 * that lies after the headers and ends exactly at the end of the file.
 * Returns 0 for a file that is no PE image, a header cut short, a PE32 or
 * PE32+ optional header too short for the entry, or an entry that names no
 * such table (absent, before the headers, past the end, not ending at the
 * end); 1 and *table otherwise.  Moves the reader. */
int FindCertificateTable(PackageReader *file, CertificateTable *table);

/* Where the trailer starts, in *trailerAt.  Returns TrailerAtEnd,
 * TrailerBeforeCertificates, or TrailerNone when neither place holds the
 * magic (a failed read counts as no magic).  Moves the reader. */
int FindTrailer(PackageReader *file, uint32_t *trailerAt);

#endif
