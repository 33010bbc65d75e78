// pelindra: the command-line host. It seeds the C runtime's generator, hands
// the paths to the library as UTF-16 and turns its result into an exit status.
// Around the call it routes the standard streams: the library prints its report
// on descriptor 1, which the host points at a pipe and copies out after the
// call, and '-' reaches the library as pipes that child processes pump.
#include "host/host_arguments.h"
#include "host/host_command_line.h"
#include "morvane_pelindra.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#endif

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kVersion[] = PELINDRA_VERSION;

void PrintUsage(FILE* stream) {
    std::fprintf(stream,
                 "Usage: pelindra [--seed N] [--quiet] INPUT.bmp OUTPUT.bmp [STARS]\n"
                 "\n"
                 "Draws STARS stars (default %d) at random places, sizes and colours into\n"
                 "an uncompressed 24-bit BMP image and writes the result to OUTPUT.bmp.\n"
                 "OUTPUT.bmp may be INPUT.bmp itself.\n"
#if !defined(_WIN32)
                 "INPUT.bmp '-' reads standard input; OUTPUT.bmp '-' writes standard\n"
                 "output, and the report then goes to standard error.\n"
#endif
                 "\n"
                 "  --seed N    seed the random generator with N (0 to 4294967295), so the\n"
                 "              same seed, input and count give the same picture; without\n"
                 "              it every run differs\n"
                 "  -q, --quiet print nothing when the image is written; on failure only\n"
                 "              the error line, on standard error\n"
                 "  -h, --help  show this help\n"
                 "  --version   show the version\n"
                 "\n"
                 "Exit status: 0 written, 1 failed (the reason is printed), 2 usage error.\n",
                 kDefaultStarCount);
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "pelindra: %s\n", why.c_str());
    std::fprintf(stderr, "Try 'pelindra --help' for more information.\n");
    return kExitUsage;
}

// Like the coreutils: text that could not all be written (a full disk, a
// closed stream) is a failure, even for --help and --version.
int FinishOutput() {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "pelindra: write error\n");
        return kExitFailed;
    }
    return kExitWritten;
}

// A failure of the host's own around the call, with the system's reason.
int HostFailure(const char* what) {
    std::fprintf(stderr, "pelindra: %s: %s\n", what, std::strerror(errno));
    return kExitFailed;
}

// Clock and process id, so runs started within the same second still differ.
unsigned ClockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds);
    return static_cast<unsigned>(seconds.count()) ^ static_cast<unsigned>(nanoseconds.count()) ^
           (static_cast<unsigned>(getpid()) << 16);
}

// Where the library's report goes: its lines are taken through a pipe during
// the call and copied after it, the "Error: " line to standard error in every
// mode, where scripts look for diagnostics, and the other lines as below.
enum ReportTo {
    kReportOnStandardOutput,
    kReportOnStandardError, // the image goes to standard output
    kReportFiltered,        // --quiet: only the error line
};

ReportTo ReportDestination(const HostArguments& arguments) {
    if (arguments.quiet) {
        return kReportFiltered;
    }
    return arguments.outputIsStandardOutput ? kReportOnStandardError : kReportOnStandardOutput;
}

// Descriptor 1 as it was before the call, and the read end of the report's
// pipe.
struct ReportRoute {
    int held = -1;
    int reader = -1;
};

// The pipe holds the whole report while the call runs: a few short lines, far
// below any pipe's capacity, so the library never waits on it.
bool OpenReportPipe(int ends[2]) {
#if defined(_WIN32)
    return _pipe(ends, 65536, _O_BINARY) == 0;
#else
    return pipe(ends) == 0;
#endif
}

// Points descriptor 1, where the library prints, at the report's pipe.
bool RouteReport(ReportRoute* route) {
    std::fflush(stdout);
    route->held = dup(1);
    if (route->held < 0) {
        return false;
    }
    int ends[2];
    if (!OpenReportPipe(ends)) {
        return false;
    }
    route->reader = ends[0];
    const bool routed = dup2(ends[1], 1) >= 0;
    close(ends[1]);
    return routed;
}

void RestoreReport(ReportRoute* route) {
    std::fflush(stdout);
    // An error the stream met while it was the report's pipe (a line the
    // library could not write there) is not standard output's.
    std::clearerr(stdout);
    if (route->held >= 0) {
        dup2(route->held, 1);
        close(route->held);
        route->held = -1;
    }
}

// Copies the report's lines to where they belong (see ReportTo) and closes its
// pipe. False, with errno set, when standard output did not take its lines; a
// standard error that fails leaves nowhere to say so.
bool ForwardReport(ReportRoute* route, ReportTo report) {
    std::string text;
    char buffer[4096];
    for (int got = 0; (got = static_cast<int>(read(route->reader, buffer, sizeof buffer))) > 0;) {
        text.append(buffer, static_cast<size_t>(got));
    }
    close(route->reader);
    route->reader = -1;
    FILE* const others = report == kReportOnStandardOutput  ? stdout
                         : report == kReportOnStandardError ? stderr
                                                            : nullptr;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        // The library's runtime may print its line ends as CR LF; the stream
        // the line is copied to adds its own.
        const size_t length = end - start - (end > start && text[end - 1] == '\r' ? 1 : 0);
        FILE* const to = text.compare(start, 7, "Error: ") == 0 ? stderr : others;
        if (to != nullptr) {
            std::fwrite(text.data() + start, 1, length, to);
            std::fputc('\n', to);
        }
        start = end + 1;
    }
    std::fflush(stderr);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

#if defined(_WIN32)

// What tells an open file from every other: its volume and 128-bit file ID,
// and for the case SameFile explains, its change time and size. FileIdInfo
// rather than GetFileInformationByHandle, which Wine fails with
// ERROR_INVALID_HANDLE on the standard handles it makes of a Unix shell's
// descriptors; the 128-bit ID also tells files apart on ReFS, where the older
// 64-bit index may not.
struct FileIdentity {
    FILE_ID_INFO id;
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
};

bool IdentityOf(HANDLE file, FileIdentity* identity) {
    return GetFileInformationByHandleEx(file, FileIdInfo, &identity->id, sizeof identity->id) &&
           GetFileInformationByHandleEx(file, FileBasicInfo, &identity->basic,
                                        sizeof identity->basic) &&
           GetFileInformationByHandleEx(file, FileStandardInfo, &identity->standard,
                                        sizeof identity->standard);
}

// Wine knows no volume for a handle made of a Unix descriptor, and says 0; the
// same file ID with the same change time and size is then the same file.
bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (std::memcmp(&a.id.FileId, &b.id.FileId, sizeof a.id.FileId) != 0) {
        return false;
    }
    if (a.id.VolumeSerialNumber == b.id.VolumeSerialNumber) {
        return true;
    }
    return (a.id.VolumeSerialNumber == 0 || b.id.VolumeSerialNumber == 0) &&
           a.basic.ChangeTime.QuadPart == b.basic.ChangeTime.QuadPart &&
           a.standard.EndOfFile.QuadPart == b.standard.EndOfFile.QuadPart;
}

// True when `path` names the disk file that descriptor 1 is open on; the null
// device and consoles are no one's file.
bool IsStandardOutputsFile(const std::u16string& path) {
    const HANDLE output = reinterpret_cast<HANDLE>(_get_osfhandle(1));
    if (output == INVALID_HANDLE_VALUE || GetFileType(output) != FILE_TYPE_DISK) {
        return false;
    }
    const HANDLE named = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    FileIdentity a;
    FileIdentity b;
    const bool same = IdentityOf(output, &a) && IdentityOf(named, &b) && SameFile(a, b);
    CloseHandle(named);
    return same;
}

// Windows has no path that names a standard stream as a binary file.
int RefuseUnusableStreams(const HostArguments& arguments, ReportTo report) {
    if (arguments.inputIsStandardInput || arguments.outputIsStandardOutput) {
        return UsageError("'-' for standard input or output is not supported on Windows");
    }
    if (report == kReportOnStandardOutput && IsStandardOutputsFile(arguments.outputPath)) {
        return UsageError("OUTPUT is standard output, where the report goes");
    }
    return kExitWritten;
}

struct StreamPumps {};

int StartStreams(HostArguments*, StreamPumps*) {
    return kExitWritten;
}

void StopStreams(StreamPumps*) {}

int FinishStreams(const StreamPumps&, int status) {
    return status;
}

#else

constexpr char kDescriptorPaths[] = "/proc/self/fd/";

std::string DescriptorPath(int descriptor) {
    return kDescriptorPaths + std::to_string(descriptor);
}

// Opens the null device on any of descriptors 0 to 2 that is closed, so that
// no descriptor the host opens later (a pipe's, say) takes a standard
// stream's number. Each one closed sets its bit (1 << descriptor) in *closed:
// the null device stands in for it, but no image or report may vanish there
// unseen. False if one stays closed.
bool OpenClosedStandardDescriptors(int* closed) {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) >= 0) {
            continue;
        }
        *closed |= 1 << descriptor;
        if (open("/dev/null", O_RDWR) != descriptor) {
            return false;
        }
    }
    return true;
}

// True when both stat results are the same file, and it is not the null device
// (where an image and a report may well both be thrown away).
bool SameStream(const struct stat& a, const struct stat& b) {
    struct stat null;
    const bool isNull = S_ISCHR(a.st_mode) && stat("/dev/null", &null) == 0 &&
                        S_ISCHR(null.st_mode) && a.st_rdev == null.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && !isNull;
}

// The report never shares a stream with the image; nothing runs otherwise.
// '-' needs /proc, whose paths hand the streams to the library.
int RefuseUnusableStreams(const HostArguments& arguments, ReportTo report) {
    struct stat output;
    struct stat other;
    if (report == kReportOnStandardError && fstat(STDOUT_FILENO, &output) == 0 &&
        fstat(STDERR_FILENO, &other) == 0 && SameStream(output, other)) {
        return UsageError("with OUTPUT '-' the report goes to standard error, which is "
                          "standard output here");
    }
    if (report == kReportOnStandardOutput && fstat(STDOUT_FILENO, &output) == 0 &&
        stat(arguments.outputName.c_str(), &other) == 0 && SameStream(output, other)) {
        return UsageError("OUTPUT is standard output, where the report goes; use '-' to write "
                          "the image there");
    }
    if ((arguments.inputIsStandardInput || arguments.outputIsStandardOutput) &&
        access(kDescriptorPaths, F_OK) != 0) {
        return UsageError("'-' needs /proc mounted, to hand standard input or output to the "
                          "library");
    }
    return kExitWritten;
}

// Pipes are made this large where the system allows it: the image crosses in
// fewer, larger steps.
constexpr int kPumpPipeBytes = 1024 * 1024;

// True for a file with a position (a regular file or a block device), which
// another process may share.
bool HasPosition(int descriptor) {
    struct stat status;
    return fstat(descriptor, &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

// Moves what arrives on `from` to `to` until `from` ends, as cat would: from
// and to each descriptor's own position, in append mode where it is set.
// Between a pipe and another pipe, a socket or a device, splice moves the pages
// without copying them through this process. A file with a position gets read
// and write, which take and advance the position at once under its lock:
// splice takes it before it waits for the pipe, and would write over what
// another writer of the file added meanwhile. Returns 0, or the errno of the
// failure that stopped it.
int Pump(int from, int to) {
    static char buffer[kPumpPipeBytes];
    bool splicing = !HasPosition(from) && !HasPosition(to);
    for (;;) {
        ssize_t got = 0;
        if (splicing) {
            got = splice(from, nullptr, to, nullptr, kPumpPipeBytes, SPLICE_F_MOVE);
            if (got < 0 && errno == EINVAL) { // a terminal, say
                splicing = false;
                continue;
            }
        } else {
            got = read(from, buffer, sizeof buffer);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0 ? 0 : errno;
        }
        for (ssize_t put = 0; !splicing && put < got;) {
            const ssize_t wrote = write(to, buffer + put, static_cast<size_t>(got - put));
            if (wrote < 0 && errno != EINTR) {
                return errno;
            }
            put += wrote < 0 ? 0 : wrote;
        }
    }
}

// One direction of a standard stream through a pipe: the child process that
// pumps it, and the parent's end of the pipe, which the library is handed.
struct StreamPump {
    pid_t child = -1;
    int end = -1;
};

struct StreamPumps {
    bool inputTaken = false; // '-' as input, by name or pumped
    StreamPump input;
    StreamPump output;
    int inputError = 0;  // why standard input could not be read
    int outputError = 0; // why standard output did not take the image
};

// Starts a pipe pumped by a child process, from standard input into the pipe
// (`toLibrary`) or from the pipe to standard output. A process, not a thread:
// the library takes its random draws through the generator's lock, much more
// slowly, once the process has ever had a second thread. The child closes
// `inherited`, the other pump's end, so that pipe ends where the parent closes
// it. The child exits with 0 or the errno of a failure on standard input or
// output; a library that stops reading is no failure.
bool StartPump(bool toLibrary, int inherited, StreamPump* pump) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    fcntl(ends[0], F_SETPIPE_SZ, kPumpPipeBytes);
    const int childEnd = toLibrary ? ends[1] : ends[0];
    pump->end = toLibrary ? ends[0] : ends[1];
    pump->child = fork();
    if (pump->child == 0) {
        close(pump->end);
        if (inherited >= 0) {
            close(inherited);
        }
        const int error = toLibrary ? Pump(STDIN_FILENO, childEnd) : Pump(childEnd, STDOUT_FILENO);
        _exit(toLibrary && error == EPIPE ? 0 : error > 0 && error < 256 ? error : 0);
    }
    close(childEnd);
    return pump->child > 0;
}

// True for a regular file at offset 0 that this process may open by name for
// reading (one handed over by a more privileged process may not be): the
// library then reads it as a file, in flat memory.
bool ReadsByName(int descriptor) {
    struct stat status;
    const int mode = fcntl(descriptor, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) == O_WRONLY || fstat(descriptor, &status) != 0 ||
        !S_ISREG(status.st_mode) || lseek(descriptor, 0, SEEK_CUR) != 0) {
        return false;
    }
    const int probe = open(DescriptorPath(descriptor).c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (probe < 0) {
        return false;
    }
    close(probe);
    return true;
}

std::u16string WidePath(const std::string& path) {
    return std::u16string(path.begin(), path.end());
}

// Hands the library each '-' as a path: standard input's own file where it
// reads by name, else a pipe pumped from where the stream stands; for the
// image always a pipe pumped to standard output, written with write() on
// descriptor 1 itself, so its position, append mode and other writers hold.
int StartStreams(HostArguments* arguments, StreamPumps* pumps) {
    if (arguments->inputIsStandardInput) {
        pumps->inputTaken = true;
        if (ReadsByName(STDIN_FILENO)) {
            arguments->inputPath = WidePath(DescriptorPath(STDIN_FILENO));
        } else if (StartPump(true, -1, &pumps->input)) {
            arguments->inputPath = WidePath(DescriptorPath(pumps->input.end));
        } else {
            return HostFailure("cannot read standard input");
        }
    }
    if (arguments->outputIsStandardOutput) {
        if (!StartPump(false, pumps->input.end, &pumps->output)) {
            return HostFailure("cannot write standard output");
        }
        arguments->outputPath = WidePath(DescriptorPath(pumps->output.end));
    }
    return kExitWritten;
}

// The child's errno, or 0 when it ended well or was stopped.
int WaitPump(StreamPump* pump) {
    if (pump->end >= 0) {
        close(pump->end);
        pump->end = -1;
    }
    int status = 0;
    if (pump->child <= 0) {
        return 0;
    }
    while (waitpid(pump->child, &status, 0) < 0 && errno == EINTR) {
    }
    pump->child = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 0;
}

// After the call: the input's pump is stopped wherever it stands (the library
// has all it takes; a terminal or a stalled pipe would hold it for ever), the
// image's runs until the library's end closes. Standard input is left at its
// end where it can seek, as when it is read whole.
void StopStreams(StreamPumps* pumps) {
    if (pumps->input.child > 0) {
        kill(pumps->input.child, SIGKILL);
    }
    pumps->inputError = WaitPump(&pumps->input);
    pumps->outputError = WaitPump(&pumps->output);
    if (pumps->inputTaken) {
        lseek(STDIN_FILENO, 0, SEEK_END);
    }
}

// Says, after the report, why a standard stream failed; the job has failed
// with it.
int FinishStreams(const StreamPumps& pumps, int status) {
    for (const auto& [error, what] :
         {std::pair{pumps.inputError, "cannot read standard input"},
          std::pair{pumps.outputError, "cannot write standard output"}}) {
        if (error != 0) {
            errno = error;
            status = HostFailure(what);
        }
    }
    return status;
}

#endif

// Bits of the standard descriptors that were closed when the host started.
constexpr int kInputClosed = 1 << 0;
constexpr int kOutputClosed = 1 << 1;

// A closed standard stream the job would need (for the image, or without
// --quiet for the report) is said before anything runs, so that no image is
// written whose report or copy would vanish.
int RefuseClosedStreams(const HostArguments& arguments, ReportTo report, int closed) {
    errno = EBADF;
    if (arguments.inputIsStandardInput && (closed & kInputClosed) != 0) {
        return HostFailure("cannot read standard input");
    }
    if ((arguments.outputIsStandardOutput || report == kReportOnStandardOutput) &&
        (closed & kOutputClosed) != 0) {
        return HostFailure("cannot write standard output");
    }
    return kExitWritten;
}

// Help and version text on standard output, which must take it all.
int PrintText(HostAction action, int closed) {
    if ((closed & kOutputClosed) != 0) {
        std::fprintf(stderr, "pelindra: write error\n");
        return kExitFailed;
    }
    if (action == kHostHelp) {
        PrintUsage(stdout);
    } else {
        std::printf("pelindra %s\n", kVersion);
    }
    return FinishOutput();
}

} // namespace

// The whole host on UTF-8 arguments, with the standard descriptors that were
// closed at start (bits of kInputClosed and kOutputClosed); main() only hands
// them over.
int RunHost(int argc, const char* const* argv, int closed) {
    HostArguments arguments = ParseHostArguments(argc, argv);
    switch (arguments.action) {
    case kHostHelp:
    case kHostVersion:
        return PrintText(arguments.action, closed);
    case kHostUsageError:
        return UsageError(arguments.error);
    case kHostRun:
        break;
    }
#if !defined(_WIN32)
    // Like any filter: a reader that goes away, or a file that reaches the
    // size limit, ends the output with an error, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const ReportTo report = ReportDestination(arguments);
    int status = RefuseClosedStreams(arguments, report, closed);
    if (status == kExitWritten) {
        status = RefuseUnusableStreams(arguments, report);
    }
    if (status != kExitWritten) {
        return status;
    }
    // The pumps start before the report's pipe exists, so they hold no end
    // of it.
    StreamPumps pumps;
    status = StartStreams(&arguments, &pumps);
    ReportRoute route;
    if (status == kExitWritten && !RouteReport(&route)) {
        status = HostFailure("cannot route the report");
    }
    if (status == kExitWritten) {
        std::srand(arguments.seeded ? arguments.seed : ClockSeed());
        const int32_t result = Pelindra(arguments.inputPath.c_str(), arguments.outputPath.c_str(),
                                        arguments.starCount);
        status = result == PELINDRA_RESULT_WRITTEN ? kExitWritten : kExitFailed;
    }
    RestoreReport(&route);
    StopStreams(&pumps);
    if (route.reader >= 0 && !ForwardReport(&route, report)) {
        status = HostFailure("cannot write the report");
    }
    return FinishStreams(pumps, status);
}

int main(int argc, char** argv) {
    int closed = 0;
#if !defined(_WIN32)
    // Before anything opens a descriptor; with none to print on, just fail.
    if (!OpenClosedStandardDescriptors(&closed)) {
        return kExitFailed;
    }
#endif
    argv = HostUtf8Arguments(&argc, argv);
    return RunHost(argc, argv, closed);
}
