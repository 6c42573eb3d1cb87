/*
 * handoff.cpp -- installs one component: unpacks its chunks from the
 * package into "\kCABFILE.cab", hands that file to "\windows\wceload.exe",
 * waits for it and deletes the file.  A chosen destination folder reaches
 * the installer through its registry values, and its own "fAskDest" setting
 * is put back on every path once it has been changed.
 *
 * Nothing is retried but the installer's start, and that only when it
 * failed for a passing reason.  Every read must deliver the whole field and
 * every write the whole buffer: a truncated CAB is never handed over as if
 * it were complete.  The queue is drained after reading and after writing
 * every chunk, so the window stays alive; DrainInterval can pace that.
 */
#include "install.h"
#include "handoff_io.h"
#include "payload.h"
#include "format.h"

const WCHAR TemporaryCabPath[] = L"\\kCABFILE.cab";
const WCHAR InstallerPath[] = L"\\windows\\wceload.exe";
const WCHAR InstallerKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer";
const WCHAR InstallerInstallKey[] = L"SOFTWARE\\Apps\\Microsoft Application Installer\\Install";
const WCHAR AskDestValue[] = L"fAskDest";

DWORD DrainInterval = 0;
DWORD InstallerStartPause = 500;
static const int InstallerStartAttempts = 3;

/* Older headers lack these. */
#ifndef ERROR_INTERNAL_ERROR
#define ERROR_INTERNAL_ERROR 1359L
#endif
#ifndef ERROR_NO_SYSTEM_RESOURCES
#define ERROR_NO_SYSTEM_RESOURCES 1450L
#endif
#ifndef ERROR_COMMITMENT_LIMIT
#define ERROR_COMMITMENT_LIMIT 1455L
#endif

void DrainMessageQueue(void)
{
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
        /* A quit message found here is dropped: the installation goes on and
         * the program ends through the run's own result. */
        if (message.message == WM_QUIT)
            return;
        DispatchMessageW(&message);
    }
}

/* The package as the hand-off reads it: where the payload cursor is and how
 * much file lies behind it, so that no size from the file is trusted
 * beyond what the file can hold. */
typedef struct {
    const InstallHost *Host;
    HANDLE File;
    ULONGLONG Size;
    ULONGLONG Position;
    BOOL Broken;          /* a seek or read failed: nothing more is read */
    DWORD LastDrain;      /* tick count of the last drain */
    uint32_t Unwritten;   /* bytes of the CAB still to come (UnpackedSize) */
    HANDLE Temporary;     /* the CAB file being written */
} PayloadReader;

static BOOL DrainDue(PayloadReader *reader)
{
    if (DrainInterval == 0)
        return TRUE;
    DWORD now = GetTickCount();
    if (now - reader->LastDrain < DrainInterval)
        return FALSE;
    reader->LastDrain = now;
    return TRUE;
}

/* TRUE only when all size bytes arrived. */
static int ReadWhole(void *context, void *buffer, uint32_t size)
{
    PayloadReader *reader = (PayloadReader *)context;
    DWORD delivered = 0;
    if (reader->Broken)
        return FALSE;
    if (size == 0)
        return TRUE;
    if (!InstallOs.Read(reader->File, buffer, size, &delivered) || delivered != size) {
        reader->Broken = TRUE;
        return FALSE;
    }
    reader->Position += delivered;
    return TRUE;
}

static uint64_t Remaining(void *context)
{
    const PayloadReader *reader = (const PayloadReader *)context;
    return reader->Position < reader->Size ? reader->Size - reader->Position : 0;
}

/* Between reading a chunk and decoding it. */
static void DrainIfDue(void *context)
{
    if (DrainDue((PayloadReader *)context))
        DrainMessageQueue();
}

/* TRUE only when all size bytes were written; a full disk reports a
 * failure or a short count. */
static BOOL WriteWhole(HANDLE file, const void *data, DWORD size)
{
    DWORD written = 0;
    if (size == 0)
        return TRUE;
    return InstallOs.Write(file, data, size, &written) && written == size;
}

static int Discard(HANDLE temporary, int result)
{
    InstallOs.Close(temporary);
    InstallOs.Delete(TemporaryCabPath);
    return result;
}

/* One decoded chunk into the temporary file.  The chunks must add up to
 * exactly UnpackedSize.  Stored chunks and the compressed byte carry no
 * check of their own: a damaged package can decode cleanly into bytes that
 * are not the CAB (a zlib stream copied as stored data, a chunk count cut
 * short, another component's payload), and such a file must never reach
 * the installer as if it were complete. */
static int WriteChunk(void *context, const uint8_t *data, uint32_t length)
{
    PayloadReader *reader = (PayloadReader *)context;
    if (length > reader->Unwritten)
        return InstallCorrupt;
    reader->Unwritten -= length;
    return WriteWhole(reader->Temporary, data, length) ? (int)ChunkTaken : (int)InstallCannotCreate;
}

/* A chunk the decoder could not finish is the package's damaged-package
 * message whatever stopped it, a refused allocation inside the decoder
 * included; only the hand-off's own buffer for the stored data says that
 * memory ran out. */
static int ChunkResult(int result)
{
    if (result == ChunkTaken)
        return InstallDone;
    if (result == ChunkNoMemory)
        return InstallNoMemory;
    return result == ChunkDamaged || result == ChunkDecoderNoMemory ? InstallCorrupt : result;
}

/* Unpacks the payload into the open temporary file, which stays open. */
static int UnpackPayload(PayloadReader *reader)
{
    PayloadStream stream = {{ReadWhole, Remaining, reader}, DrainIfDue, WriteChunk, reader};
    uint32_t count;
    if (ReadChunkCount(&stream.Source, &count) != ChunkTaken)
        return InstallCorrupt;

    PostMessageW(ProgressBar, PBM_SETRANGE32, 0, (LPARAM)count);
    PostMessageW(ProgressBar, PBM_SETPOS, 0, 0);
    DrainMessageQueue();
    ShowWindow(reader->Host->Frame, SW_SHOW);
    UpdateWindow(reader->Host->Frame);
    DrainMessageQueue();
    reader->LastDrain = GetTickCount();

    for (uint32_t i = 0; i < count; ++i) {
        if (CancelRequested)
            return InstallCancelled;
        int result = ChunkResult(ReadChunk(&stream));
        if (result != InstallDone)
            return result;
        /* The last chunk always shows: the bar ends full, and a cancel
         * confirmed now reaches the next component. */
        if (i + 1 == count || DrainDue(reader)) {
            PostMessageW(ProgressBar, PBM_SETPOS, (WPARAM)(i + 1), 0);
            DrainMessageQueue();
        }
    }
    return reader->Unwritten == 0 ? InstallDone : InstallCorrupt;
}

static void RestoreAskDest(DWORD saved)
{
    HKEY key;
    if (InstallOs.OpenKey(InstallerKey, &key) != ERROR_SUCCESS)
        return;
    InstallOs.SetValue(key, AskDestValue, REG_DWORD, &saved, sizeof saved);
    InstallOs.CloseKey(key);
}

static void RemoveDestinationValue(void)
{
    HKEY key;
    if (InstallOs.OpenKey(InstallerInstallKey, &key) != ERROR_SUCCESS)
        return;
    InstallOs.DeleteValue(key, TemporaryCabPath);
    InstallOs.CloseKey(key);
}

/* Tells the installer the destination folder instead of letting it ask.
 * *saved gets "fAskDest" as it was (0 when it cannot be read).  FALSE when a
 * step failed; "fAskDest" is then as it was before. */
static BOOL PassDestination(const WCHAR *destination, DWORD *saved)
{
    HKEY key;
    *saved = 0;
    if (InstallOs.OpenKey(InstallerKey, &key) != ERROR_SUCCESS)
        return FALSE;
    DWORD value = 0, size = sizeof value;
    if (InstallOs.QueryValue(key, AskDestValue, &value, &size) == ERROR_SUCCESS)
        *saved = value;
    DWORD zero = 0;
    LONG set = InstallOs.SetValue(key, AskDestValue, REG_DWORD, &zero, sizeof zero);
    InstallOs.CloseKey(key);
    if (set != ERROR_SUCCESS)
        return FALSE;

    if (InstallOs.OpenKey(InstallerInstallKey, &key) != ERROR_SUCCESS) {
        RestoreAskDest(*saved);
        return FALSE;
    }
    DWORD bytes = (DWORD)((wcslen(destination) + 1) * sizeof(WCHAR));
    set = InstallOs.SetValue(key, TemporaryCabPath, REG_SZ, destination, bytes);
    InstallOs.CloseKey(key);
    if (set != ERROR_SUCCESS) {
        RestoreAskDest(*saved);
        return FALSE;
    }
    return TRUE;
}

/* A start that failed because the system was short of something for a
 * moment: memory on a busy device, or, under Wine on a loaded machine, a
 * new process that ended during its own start-up (ERROR_INTERNAL_ERROR).
 * An installer that is missing, is no program or may not be run fails for
 * good and is not in this list. */
static BOOL PassingStartFailure(DWORD error)
{
    switch (error) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_INTERNAL_ERROR:
        return TRUE;
    }
    return FALSE;
}

/* Starts the installer; a start that failed for a passing reason is tried
 * twice more, InstallerStartPause apart.  FALSE: it could not be started. */
static BOOL StartInstaller(WCHAR *commandLine, HANDLE *process)
{
    int attempt;
    for (attempt = 1;; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        if (InstallOs.StartProcess(InstallerPath, commandLine, process))
            return TRUE;
        if (attempt == InstallerStartAttempts || !PassingStartFailure(GetLastError()))
            return FALSE;
        Sleep(InstallerStartPause);
        DrainMessageQueue();
    }
}

int HandOffComponent(const InstallHost *host, HANDLE source, const Component *component)
{
    PayloadReader reader = {host, source, 0, component->PayloadOffset, FALSE, 0, component->UnpackedSize, NULL};
    if (!InstallOs.SourceSize(source, &reader.Size) || !InstallOs.Seek(source, component->PayloadOffset))
        reader.Broken = TRUE;

    HANDLE temporary = InstallOs.CreateTemporary(TemporaryCabPath);
    if (temporary == INVALID_HANDLE_VALUE)
        return InstallCannotCreate;
    reader.Temporary = temporary;
    int result = UnpackPayload(&reader);
    if (result != InstallDone)
        return Discard(temporary, result);
    InstallOs.Close(temporary);
    ShowWindow(host->Frame, SW_HIDE);

    const SetupPackage *package = host->Package;
    BOOL toDestination = !package->UseDefaultLocation && component->AcceptsDestination;
    DWORD savedAskDest = 0;
    WCHAR commandLine[sizeof TemporaryCabPath / sizeof TemporaryCabPath[0]];
    lstrcpyW(commandLine, TemporaryCabPath);
    if (toDestination && !PassDestination(package->DestinationPath ? package->DestinationPath : L"", &savedAskDest)) {
        InstallOs.Delete(TemporaryCabPath);
        return InstallLaunchFailed;
    }

    /* With a destination the installer gets no command line: it takes the
     * CAB and its folder from the Install value. */
    HANDLE process;
    if (!StartInstaller(toDestination ? NULL : commandLine, &process)) {
        if (toDestination) {
            RemoveDestinationValue();
            RestoreAskDest(savedAskDest);
        }
        InstallOs.Delete(TemporaryCabPath);
        return InstallLaunchFailed;
    }
    InstallOs.WaitProcess(process);
    if (toDestination)
        RestoreAskDest(savedAskDest);
    InstallOs.Delete(TemporaryCabPath);
    return InstallDone;
}
