// Forced into a second compile of the real runtime services for the test
// build, so they link beside the substitute (test_shell.cpp) under other names.
#pragma once

#define ShellPrint RealShellPrint
#define ShellFlushOutput RealShellFlushOutput
#define ShellFileOpen RealShellFileOpen
#define ShellFileCreateExclusive RealShellFileCreateExclusive
#define ShellFileRead RealShellFileRead
#define ShellFileWrite RealShellFileWrite
#define ShellFileClose RealShellFileClose
#define ShellFileRemaining RealShellFileRemaining
#define ShellFileSetPermissions RealShellFileSetPermissions
#define ShellFileReadAt RealShellFileReadAt
#define ShellFileCopyRange RealShellFileCopyRange
#define ShellFileWriteAt RealShellFileWriteAt
#define ShellReserveStore RealShellReserveStore
#define ShellReleaseStore RealShellReleaseStore
#define ShellQueryPath RealShellQueryPath
#define ShellRenameFile RealShellRenameFile
#define ShellRemoveFile RealShellRemoveFile
#define ShellUniqueToken RealShellUniqueToken
#define ShellAllocate RealShellAllocate
#define ShellRelease RealShellRelease
#define ShellRandom RealShellRandom
#define ShellWideLength RealShellWideLength
#define ShellWideToNarrow RealShellWideToNarrow
