/*
 * The RAR extraction library's C ABI (libunrar.so).
 *
 * Who calls what: a caller opens an archive with RAROpenArchive, installs its callbacks, then
 * alternates RARReadHeader (or RARReadHeaderEx) and RARProcessFile until the read stops giving
 * 0 (or 12), and closes the handle with RARCloseArchive. Every call for one handle comes from
 * the thread that opened it; the callbacks run on that same thread, inside a read or
 * RARProcessFile.
 * Handles are independent: any number may be open at once, in any threads.
 *
 * Callbacks:
 *  - CHANGEVOLPROC(ArcName, Mode). Mode RAR_VOL_ASK: the next volume was not found; ArcName
 *    holds the expected name in a buffer of RAR_VOL_NAME_SIZE bytes, which the callback may
 *    overwrite with another zero-terminated name. Mode RAR_VOL_NOTIFY: the named volume was
 *    opened. Returning 0 (or less) in either mode stops the operation with result 15.
 *  - PROCESSDATAPROC(Addr, Size) receives every block of unpacked data while an entry is tested
 *    or extracted; returning 0 (or less) cancels the entry.
 *  A callback must not call back into the library with the same handle.
 *
 * Volumes are asked for when reading reaches them: inside RARProcessFile for a file that
 * continues in the next volume, inside RARReadHeader for a boundary between files; solid
 * sets too. A solid set is read as it goes: entries the caller skips are unpacked (into
 * nothing) when a later one needs them, so any of them may be skipped; after one of them
 * failed, the later ones of its solid stream fail too (12).
 *
 * Encrypted data (RAR 1.5 and RAR 2.9-4.x ciphers) is decrypted as it is read, with the
 * password set through RARSetPassword. Without a password RARProcessFile answers 22; with a
 * wrong one 12, once the decoder or the data's CRC finds the garbage (these formats have no
 * password check), and nothing is left of the file. An entry whose cipher is not supported
 * (RAR 2.0's, unpack versions 20 and 26) answers 14 whatever the password. After a failed
 * attempt on an encrypted entry (22, or 12 with a password set) the same entry may be
 * processed again, after RARSetPassword, until RARReadHeader moves on; after 12, not an entry
 * that continues a solid stream, which has moved past it. Each entry of a solid set is
 * decrypted on its own, so encrypted and plain entries may follow each other in any order.
 *
 * An archive whose headers are encrypted needs RARSetPassword before its first RARReadHeader.
 * Without a password, or with one that does not open the headers, RARReadHeader answers 22 (24
 * when a RAR 5 archive's password check value says the password is wrong) and reports nothing.
 * A RAR 1.5-4.x archive then reads the same header again after RARSetPassword; a RAR 5 archive
 * is opened again to try another password. Headers that opened keep opening with the key that
 * opened them, whatever password is set later for an entry's data.
 *
 * RAR 5 file data: without a password 22, with one its check value refuses 24 (at once, before
 * any data), with a wrong one and no check value 12; the entry may then be tried again, unless
 * it is part of a solid stream, which has moved past it.
 *
 * Records: RARReadHeaderEx fills the extended record, with the whole name in FileNameW (and in
 * FileName as UTF-8) and 64-bit sizes; RARReadHeader fills the legacy one, whose sizes above
 * 4 GiB are their low 32 bits. Names are UTF-8 with '/' between folders. A name is never cut:
 * one that does not fit its field leaves the field empty (RARProcessFile with DestPath alone
 * still uses the whole name). FileNameW stays empty for a stored name that is not valid UTF-8;
 * FileName then holds its bytes.
 *
 * Attributes: entries made on Unix (HostOS 3) carry a mode in the archive; the records report
 * it as attributes, 0x10 for a folder (S_IFDIR), else 0x20, plus 0x01 when the owner may not
 * write. Extraction keeps the mode's permission bits.
 *
 * Checks: the library checks every file it unpacks against the CRC-32 or BLAKE2sp its header
 * records (12 when it fails; the complete file is kept). HashType tells what a caller may check
 * itself: RAR_HASH_CRC32 when FileCRC is the CRC-32 of the data the callback receives; for
 * RAR_HASH_BLAKE2 and RAR_HASH_NONE (no checksum, a link or copy, or a checksum keyed with the
 * password) only the library's result says whether the data is right.
 *
 * Links (RAR 5 redirection records, RAR 1.5-4.x Unix links): a symbolic link is made only when
 * its target, resolved inside the destination, stays inside it (relative, no ".." above it, no
 * link already there that leads out); hard links and file copies become copies of a file this
 * handle extracted before (23 when there is none). Junctions, Windows links and unsafe targets
 * are not made: ERAR_SKIPPED_LINK. Nothing is ever written through a link: a folder of the
 * entry's own path that is a link refuses the entry (16, errno ELOOP), and a link in the place
 * of a file is replaced. The destination's root is the caller's: DestPath, or what is left of
 * DestName once the entry's own path is taken off its end (its folder when it does not end so).
 *
 * Archives and volumes are only ever opened for reading. After 16 (create error) or 19 (write
 * error) from RARProcessFile, errno holds the system's reason.
 */
#ifndef TALLYRA_UNRAR_H
#define TALLYRA_UNRAR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define UNRAR_CALL __stdcall
#else
#define UNRAR_CALL
#endif

#if defined(UNRAR_BUILDING) && !defined(_WIN32)
#define UNRAR_API __attribute__((visibility("default")))
#elif defined(UNRAR_BUILDING)
#define UNRAR_API __declspec(dllexport)
#else
#define UNRAR_API
#endif

#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12
#define ERAR_BAD_ARCHIVE 13
#define ERAR_UNKNOWN_FORMAT 14
#define ERAR_EOPEN 15
#define ERAR_ECREATE 16
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22
#define ERAR_EREFERENCE 23
#define ERAR_BAD_PASSWORD 24
/* Ours: a link that is not made (a target that leads out of the destination, a junction, a
   Windows link). Nothing was written for it. */
#define ERAR_SKIPPED_LINK 30

/* RARGetDllVersion: this ABI's version. 6 and above mean that the library unpacks RAR 5 data. */
#define RAR_DLL_VERSION 6

#define RAR_HASH_NONE 0
#define RAR_HASH_CRC32 1
#define RAR_HASH_BLAKE2 2

#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1

#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

#define RAR_VOL_ASK 0
#define RAR_VOL_NOTIFY 1

/* Size of the buffer the change-volume callback receives, terminating zero included. */
#define RAR_VOL_NAME_SIZE 1024

struct RAROpenArchiveData {
  char *ArcName;
  unsigned OpenMode;
  unsigned OpenResult;
  char *CmtBuf;
  unsigned CmtBufSize;
  unsigned CmtSize;
  unsigned CmtState;
};

struct RARHeaderData {
  char ArcName[260];
  char FileName[260];
  unsigned Flags;
  unsigned PackSize;
  unsigned UnpSize;
  unsigned HostOS;
  unsigned FileCRC;
  unsigned FileTime;
  unsigned UnpVer;
  unsigned Method;
  unsigned FileAttr;
  char *CmtBuf;
  unsigned CmtBufSize;
  unsigned CmtSize;
  unsigned CmtState;
};

struct RARHeaderDataEx {
  char ArcName[1024];
  wchar_t ArcNameW[1024];
  char FileName[1024];
  wchar_t FileNameW[1024];
  unsigned Flags;
  unsigned PackSize;
  unsigned PackSizeHigh;
  unsigned UnpSize;
  unsigned UnpSizeHigh;
  unsigned HostOS;
  unsigned FileCRC;
  unsigned FileTime;
  unsigned UnpVer;
  unsigned Method;
  unsigned FileAttr;
  char *CmtBuf;
  unsigned CmtBufSize;
  unsigned CmtSize;
  unsigned CmtState;
  unsigned DictSize;  /* kilobytes */
  unsigned HashType;  /* RAR_HASH_; see "Checks" above */
  char Hash[32];
  unsigned RedirType;  /* RAR 5 links and copies: 1 Unix link, 2 Windows link, 3 junction, 4 hard link,
                          5 file copy, 255 a kind this library does not know; 0 for anything else */
  wchar_t *RedirName;  /* the caller's buffer of RedirNameSize wide characters, or null: gets the
                          target whole (zero-terminated) or stays empty */
  unsigned RedirNameSize;
  unsigned DirTarget;  /* the link points to a folder */
  unsigned MtimeLow;  /* 100 ns units since 1601 (Windows file time) */
  unsigned MtimeHigh;
  unsigned CtimeLow;
  unsigned CtimeHigh;
  unsigned AtimeLow;
  unsigned AtimeHigh;
  unsigned Reserved[988];
};

typedef int(UNRAR_CALL *CHANGEVOLPROC)(char *ArcName, int Mode);
typedef int(UNRAR_CALL *PROCESSDATAPROC)(unsigned char *Addr, int Size);

UNRAR_API void *UNRAR_CALL RAROpenArchive(struct RAROpenArchiveData *ArchiveData);
UNRAR_API int UNRAR_CALL RARCloseArchive(void *hArcData);
UNRAR_API int UNRAR_CALL RARReadHeader(void *hArcData, struct RARHeaderData *HeaderData);
UNRAR_API int UNRAR_CALL RARReadHeaderEx(void *hArcData, struct RARHeaderDataEx *HeaderData);
UNRAR_API int UNRAR_CALL RARProcessFile(void *hArcData, int Operation, char *DestPath, char *DestName);
UNRAR_API void UNRAR_CALL RARSetChangeVolProc(void *hArcData, CHANGEVOLPROC ChangeVolProc);
UNRAR_API void UNRAR_CALL RARSetProcessDataProc(void *hArcData, PROCESSDATAPROC ProcessDataProc);
UNRAR_API void UNRAR_CALL RARSetPassword(void *hArcData, char *Password);
UNRAR_API int UNRAR_CALL RARGetDllVersion(void);

#ifdef __cplusplus
}
#endif

#endif
