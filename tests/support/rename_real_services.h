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
#define ShellGiveBackStorePages RealShellGiveBackStorePages
#define ShellQueryPath RealShellQueryPath
#define ShellAllocate RealShellAllocate
#define ShellRelease RealShellRelease
#define ShellRandomDraws RealShellRandomDraws
#define ShellWideToNarrow RealShellWideToNarrow
#define ShellFileCreateBeside RealShellFileCreateBeside
#define ShellFilePutInPlace RealShellFilePutInPlace
#define ShellFileDiscard RealShellFileDiscard
#define ShellHoldWriteSignals RealShellHoldWriteSignals
#define ShellReleaseWriteSignals RealShellReleaseWriteSignals
