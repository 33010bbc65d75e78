// Forced into a second compile of the real runtime services for the test
// build, so they link beside the substitute (test_shell.cpp) under other names.
#pragma once

#define ShellPrint RealShellPrint
#define ShellFlushOutput RealShellFlushOutput
#define ShellFileOpen RealShellFileOpen
#define ShellFileRead RealShellFileRead
#define ShellFileWrite RealShellFileWrite
#define ShellFileClose RealShellFileClose
#define ShellFileRemaining RealShellFileRemaining
#define ShellFileReadAt RealShellFileReadAt
#define ShellFileCopyRange RealShellFileCopyRange
#define ShellFileWriteAt RealShellFileWriteAt
#define ShellFileStartWriteback RealShellFileStartWriteback
#define ShellReserveStore RealShellReserveStore
#define ShellReleaseStore RealShellReleaseStore
#define ShellQueryPath RealShellQueryPath
#define ShellRenameFile RealShellRenameFile
#define ShellRemoveFile RealShellRemoveFile
#define ShellCharacterBytes RealShellCharacterBytes
#define ShellUniqueToken RealShellUniqueToken
#define ShellAllocate RealShellAllocate
#define ShellRelease RealShellRelease
#define ShellRandom RealShellRandom
#define ShellRandomDraws RealShellRandomDraws
#define ShellWideLength RealShellWideLength
#define ShellWideToNarrow RealShellWideToNarrow
#define ShellFileCreateUnnamed RealShellFileCreateUnnamed
#define ShellFileCreatePrivate RealShellFileCreatePrivate
#define ShellFileLinkName RealShellFileLinkName
#define ShellFileTakeIdentity RealShellFileTakeIdentity
#define ShellCheckWritable RealShellCheckWritable
#define ShellHoldWriteSignals RealShellHoldWriteSignals
#define ShellReleaseWriteSignals RealShellReleaseWriteSignals
