// Replacing an existing output on real files, as the tests run in CI: as root.
// Where a case needs an ordinary caller, the job runs in a forked child that
// has given up root first; where it needs a full file system, a small tmpfs is
// mounted. Such a case, and those needing a bind mount or an append-only
// directory, is skipped with its reason where the machine refuses it. Signals
// a failed write raises are checked in a child with their default
// dispositions, so that a signal that escaped would kill the child, not the
// test.
#include "bmp_files.h"
#include "job_invariants.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace {

using std::filesystem::path;

constexpr uid_t kCaller = 65534;     // the ordinary user a child runs as
constexpr uid_t kOtherUser = 65533;  // owns files that are not the caller's
constexpr gid_t kOtherGroup = 65533; // a group the caller is not in

bool RunningAsRoot() {
    return geteuid() == 0;
}

// What a job run in a child process did.
struct ChildRun {
    bool exited = false; // false: a signal ended it
    int signal = 0;
    int32_t result = 0;
    std::string output;
};

// Runs `job` in a forked child, as the ordinary caller when `dropRoot` and the
// tests run as root, with SIGPIPE and SIGXFSZ at their defaults.
ChildRun RunInChild(const std::function<int32_t()>& job, bool dropRoot) {
    int channel[2];
    if (pipe(channel) != 0) {
        ADD_FAILURE() << "no pipe";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGXFSZ, SIG_DFL);
        if (dropRoot && RunningAsRoot() &&
            (setgroups(0, nullptr) != 0 || setresgid(kCaller, kCaller, kCaller) != 0 ||
             setresuid(kCaller, kCaller, kCaller) != 0)) {
            _exit(3);
        }
        ResetTestShell();
        const int32_t result = job();
        const std::string report = std::to_string(result) + "\n" + TestShell().output;
        const ssize_t written = write(channel[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 4);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        report.append(buffer, static_cast<size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ChildRun run;
    run.exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const size_t lineEnd = report.find('\n');
    if (lineEnd != std::string::npos) {
        run.result = std::stoi(report.substr(0, lineEnd));
        run.output = report.substr(lineEnd + 1);
    }
    return run;
}

struct stat StatOf(const path& file) {
    struct stat status {};
    EXPECT_EQ(lstat(file.c_str(), &status), 0) << file;
    return status;
}

// --- Which targets keep their identity, and how -----------------------------

enum class Outcome {
    kReplaced, // by a new file with the same owner, group and mode
    kInPlace,  // written in place, as a plain open for writing would
    kRefused,  // such an open would be refused: nothing changes
};

struct IdentityCase {
    const char* name;
    bool asCaller; // the job runs as the ordinary caller (else as root)
    uid_t owner;   // the target's owner and group; kCaller stands for the caller
    gid_t group;
    mode_t mode;      // the target's permission bits
    mode_t directory; // the directory's mode (owned by root)
    bool hardLink;    // the target has a second name
    Outcome outcome;
    bool accessList = false;       // the target also lets the caller's user write it
    bool directoryDefault = false; // new files in the directory get such a list
};

constexpr char kAccessList[] = "system.posix_acl_access";
constexpr char kDefaultAccessList[] = "system.posix_acl_default";

// Gives `file` a POSIX access list (or a directory a default one): its
// permission bits plus read and write for one more user. False where the file
// system keeps none.
bool AddAccessList(const path& file, uid_t user, const char* attribute = kAccessList) {
    struct Entry {
        uint16_t tag;
        uint16_t permissions;
        uint32_t id;
    };
    const uint32_t version = 2;
    const Entry entries[] = {{0x01, 6, 0xFFFFFFFF},
                             {0x02, 6, user},
                             {0x04, 4, 0xFFFFFFFF},
                             {0x10, 6, 0xFFFFFFFF},
                             {0x20, 4, 0xFFFFFFFF}};
    Bytes blob(sizeof version + sizeof entries);
    std::memcpy(blob.data(), &version, sizeof version);
    std::memcpy(blob.data() + sizeof version, entries, sizeof entries);
    return lsetxattr(file.c_str(), attribute, blob.data(), blob.size(), 0) == 0;
}

void PrintTo(const IdentityCase& identity, std::ostream* out) {
    *out << identity.name;
}

class IdentityTest : public testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityTest, OwnerGroupModeAndNamesStayOrNothingChanges) {
    const IdentityCase& c = GetParam();
    if (!RunningAsRoot()) {
        GTEST_SKIP() << "giving files to other users needs root";
    }
    ScratchDirectory scratch;
    ASSERT_EQ(chmod(scratch.path.c_str(), c.directory), 0);
    if (c.asCaller && (c.directory & 0002) == 0) {
        ASSERT_EQ(chown(scratch.path.c_str(), kCaller, kCaller), 0);
    }
    BmpSpec spec;
    spec.width = 40;
    spec.height = 30;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    chmod((scratch / "in.bmp").c_str(), 0644);
    WriteFileBytes(scratch / "out.bmp", Bytes{'o', 'l', 'd'});
    ASSERT_EQ(chown((scratch / "out.bmp").c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod((scratch / "out.bmp").c_str(), c.mode), 0);
    if ((c.accessList && !AddAccessList(scratch / "out.bmp", kCaller)) ||
        (c.directoryDefault && !AddAccessList(scratch.path, kCaller, kDefaultAccessList))) {
        GTEST_SKIP() << "no access lists on this file system";
    }
    std::vector<std::string> names{"in.bmp", "out.bmp"};
    if (c.hardLink) {
        ASSERT_EQ(link((scratch / "out.bmp").c_str(), (scratch / "other.bmp").c_str()), 0);
        names.insert(names.begin() + 1, "other.bmp");
    }
    const struct stat before = StatOf(scratch / "out.bmp");

    const ChildRun run = RunInChild(
        [&scratch] { return RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0); }, c.asCaller);
    ASSERT_TRUE(run.exited) << "signal " << run.signal;
    const bool refused = c.outcome == Outcome::kRefused;
    if (refused) {
        EXPECT_EQ(run.result, PELINDRA_RESULT_FAILED);
        EXPECT_EQ(run.output, std::string(kBanner) +
                                  "Image size: 40 x 30 pixels\nAdding 0 stars to the image...\n"
                                  "Error: Cannot create output file '" +
                                  (scratch / "out.bmp").string() + "'\n");
    } else {
        EXPECT_EQ(run.result, PELINDRA_RESULT_WRITTEN) << run.output;
    }
    const Bytes expected = refused ? Bytes{'o', 'l', 'd'} : PassThroughOf(spec);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), expected);
    EXPECT_EQ(scratch.Entries(), names);
    if (c.hardLink) {
        EXPECT_EQ(ReadFileBytes(scratch / "other.bmp"), expected);
    }
    const struct stat after = StatOf(scratch / "out.bmp");
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino == before.st_ino, c.outcome != Outcome::kReplaced);
    const ssize_t accessList = lgetxattr((scratch / "out.bmp").c_str(), kAccessList, nullptr, 0);
    EXPECT_EQ(accessList > 0, c.accessList) << "the access list came or went";
}

INSTANTIATE_TEST_SUITE_P(
    Targets, IdentityTest,
    testing::Values(
        // Root restores another user's file exactly, through a new file.
        IdentityCase{"RootReplacesAnotherUsersFile", false, kOtherUser, kOtherGroup, 0640, 0755,
                     false, Outcome::kReplaced},
        IdentityCase{"SetGroupBitKept", false, kOtherUser, kOtherGroup, 02750, 0755, false,
                     Outcome::kReplaced},
        // Without CAP_FSETID a write clears the set-ID bits: the mode comes
        // after the last write.
        IdentityCase{"OwnSetUserIdFileKept", true, kCaller, kCaller, 04755, 0755, false,
                     Outcome::kReplaced},
        IdentityCase{"OwnSetGroupIdFileKept", true, kCaller, kCaller, 02775, 0755, false,
                     Outcome::kReplaced},
        // The new file must not keep what the directory's default access
        // list gives it: the old file had no list.
        IdentityCase{"DirectoryDefaultAccessListNotTaken", false, kOtherUser, kOtherGroup, 0640,
                     0755, false, Outcome::kReplaced, false, true},
        IdentityCase{"OwnFileReplaced", true, kCaller, kCaller, 0604, 0755, false,
                     Outcome::kReplaced},
        // Only the group differs from what a new file gets: still a new file.
        IdentityCase{"OnlyTheGroupDiffers", false, 0, kOtherGroup, 0644, 0755, false,
                     Outcome::kReplaced},
        // A group the caller is not in cannot be given to a new file.
        IdentityCase{"GroupCallerIsNotIn", true, kCaller, kOtherGroup, 0664, 0755, false,
                     Outcome::kInPlace},
        // In a sticky world-writable directory, another user's writable file
        // can be written but neither given away nor replaced.
        IdentityCase{"AnotherUsersFileInStickyDirectory", true, kOtherUser, kOtherGroup, 0666,
                     01777, false, Outcome::kInPlace},
        // Every name of the file must show the new picture.
        IdentityCase{"HardLinkedFile", false, kOtherUser, kOtherGroup, 0644, 0755, true,
                     Outcome::kInPlace},
        // A new file would not get the access list.
        IdentityCase{"FileWithAccessList", false, kOtherUser, kOtherGroup, 0664, 0755, false,
                     Outcome::kInPlace, true},
        // In the caller's own directory the name could be replaced, but the
        // file itself may not be written.
        IdentityCase{"OwnReadOnlyFile", true, kCaller, kCaller, 0444, 0755, false,
                     Outcome::kRefused},
        IdentityCase{"RootsFileInOwnDirectory", true, 0, 0, 0644, 0755, false, Outcome::kRefused}),
    [](const auto& info) { return std::string(info.param.name); });

// --- New outputs: what a plain create gives them there ----------------------

struct NewOutputCase {
    const char* name;
    mode_t umask;
    uint16_t otherUserPermissions; // with a default access list: what it gives
                                   // another user (0: no such entry), else -1
    bool withDefault;
    bool hideProc; // /proc is not mounted (a container, a chroot)
};

void PrintTo(const NewOutputCase& c, std::ostream* out) {
    *out << c.name;
}

// Gives a directory a default access list: read and write for its owner,
// nothing for the group and others, and where asked an entry for another user
// under a mask that shuts it out.
bool AddRestrictiveDefault(const path& directory, uint16_t otherUser) {
    struct Entry {
        uint16_t tag;
        uint16_t permissions;
        uint32_t id;
    };
    // Entries in the order of their tags: owner, user, group, mask, others.
    std::vector<Entry> entries{{0x01, 6, 0xFFFFFFFF}};
    if (otherUser != 0) {
        entries.push_back({0x02, otherUser, kOtherUser});
    }
    entries.push_back({0x04, 0, 0xFFFFFFFF});
    if (otherUser != 0) {
        entries.push_back({0x10, 0, 0xFFFFFFFF});
    }
    entries.push_back({0x20, 0, 0xFFFFFFFF});
    const uint32_t version = 2;
    Bytes blob(sizeof version + entries.size() * sizeof(Entry));
    std::memcpy(blob.data(), &version, sizeof version);
    std::memcpy(blob.data() + sizeof version, entries.data(), entries.size() * sizeof(Entry));
    return lsetxattr(directory.c_str(), kDefaultAccessList, blob.data(), blob.size(), 0) == 0;
}

// A file's mode and access list, as one string to compare.
std::string AccessOf(const path& file) {
    char list[256];
    const ssize_t length = lgetxattr(file.c_str(), kAccessList, list, sizeof list);
    return std::to_string(StatOf(file).st_mode & 07777) + "/" +
           (length > 0 ? std::string(list, static_cast<size_t>(length)) : std::string());
}

class NewOutputTest : public testing::TestWithParam<NewOutputCase> {};

TEST_P(NewOutputTest, GetsWhatAPlainCreateGets) {
    const NewOutputCase& c = GetParam();
    ScratchDirectory scratch;
    if (c.withDefault && !AddRestrictiveDefault(scratch.path, c.otherUserPermissions)) {
        GTEST_SKIP() << "no access lists on this file system";
    }
    BmpSpec spec;
    spec.width = 20;
    spec.height = 10;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    // In a child: its umask, and its own view of the mounts.
    const ChildRun run = RunInChild(
        [&] {
            if (c.hideProc && (unshare(CLONE_NEWNS) != 0 ||
                               mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
                               mount("none", "/proc", "tmpfs", 0, nullptr) != 0)) {
                return 77;
            }
            umask(c.umask);
            const int plain = open((scratch / "plain").c_str(), O_WRONLY | O_CREAT, 0666);
            close(plain);
            return RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 1);
        },
        false);
    ASSERT_TRUE(run.exited) << "signal " << run.signal;
    if (run.result == 77) {
        GTEST_SKIP() << "cannot hide /proc here";
    }
    EXPECT_EQ(run.result, PELINDRA_RESULT_WRITTEN) << run.output;
    EXPECT_EQ(AccessOf(scratch / "out.bmp"), AccessOf(scratch / "plain"));
}

INSTANTIATE_TEST_SUITE_P(
    Directories, NewOutputTest,
    testing::Values(NewOutputCase{"Umask022", 022, 0, false, false},
                    NewOutputCase{"Umask077", 077, 0, false, false},
                    NewOutputCase{"Umask002", 002, 0, false, false},
                    NewOutputCase{"RestrictiveDefaultList", 022, 0, true, false},
                    NewOutputCase{"DefaultListNamingAnotherUser", 022, 6, true, false},
                    NewOutputCase{"WithoutProc", 022, 0, false, true},
                    NewOutputCase{"WithoutProcRestrictiveDefault", 002, 6, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Directories and mounts that keep the name ---------------------------------

// Sets or clears the append-only flag of a directory. False where the file
// system has no such flag or the caller may not set it.
bool SetAppendOnly(const path& directory, bool on) {
    const int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool set = descriptor >= 0 && ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    set = set && ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    if (descriptor >= 0) {
        close(descriptor);
    }
    return set;
}

enum class Keeper {
    kAppendOnlyDirectory, // names are added, never removed or replaced (chattr +a)
    kBindMount,           // the output is another file mounted over its name
};

struct PlacementCase {
    const char* name;
    Keeper keeper;
    bool outputExists;
    bool unnamedFiles = true;
    bool queryMissesMount = false; // only the refused rename shows the mount
};

void PrintTo(const PlacementCase& placement, std::ostream* out) {
    *out << placement.name;
}

class PlacementTest : public testing::TestWithParam<PlacementCase> {};

// The output is written (an existing one in place, keeping its file) and no
// temporary is left behind, where a plain open would write it.
TEST_P(PlacementTest, WritesWhereAPlainOpenWouldAndLeavesNothing) {
    const PlacementCase& c = GetParam();
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 40;
    spec.height = 30;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::vector<std::string> names{"in.bmp", "out.bmp"};
    if (c.outputExists) {
        WriteFileBytes(scratch / "out.bmp", Bytes{'o', 'l', 'd'});
    }
    bool mounted = false;
    if (c.keeper == Keeper::kBindMount) {
        WriteFileBytes(scratch / "source.bmp", Bytes{'o', 'l', 'd'});
        names.push_back("source.bmp");
        // A bind mount ignores the type; one is named all the same, since
        // valgrind takes a null type for a bad pointer.
        mounted = mount((scratch / "source.bmp").c_str(), (scratch / "out.bmp").c_str(), "none",
                        MS_BIND, nullptr) == 0;
        if (!mounted) {
            GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
        }
    } else if (!SetAppendOnly(scratch.path, true)) {
        GTEST_SKIP() << "no append-only directories here: " << std::strerror(errno);
    }
    const ino_t before = c.outputExists ? StatOf(scratch / "out.bmp").st_ino : 0;
    TestShell().unnamedUnsupported = !c.unnamedFiles;
    TestShell().hideMountPoints = c.queryMissesMount;

    const int32_t result = RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 3);
    const std::vector<std::string> entries = scratch.Entries();
    const bool stayed = !c.outputExists || StatOf(scratch / "out.bmp").st_ino == before;
    const Bytes written = ReadFileBytes(scratch / "out.bmp");
    const Bytes source = mounted ? ReadFileBytes(scratch / "source.bmp") : Bytes{};
    if (mounted) {
        umount2((scratch / "out.bmp").c_str(), MNT_DETACH);
    } else {
        ASSERT_TRUE(SetAppendOnly(scratch.path, false));
    }
    EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN) << TestShell().output;
    EXPECT_EQ(written.size(), PassThroughOf(spec).size());
    EXPECT_EQ(entries, names);
    EXPECT_TRUE(stayed) << "the output was replaced, not written in place";
    if (mounted) {
        EXPECT_EQ(source, written);
    }
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Keepers, PlacementTest,
    testing::Values(PlacementCase{"AppendOnlyNewOutput", Keeper::kAppendOnlyDirectory, false},
                    PlacementCase{"AppendOnlyNewOutputWithoutUnnamedFiles",
                                  Keeper::kAppendOnlyDirectory, false, false},
                    PlacementCase{"AppendOnlyExistingOutput", Keeper::kAppendOnlyDirectory, true},
                    PlacementCase{"AppendOnlyExistingOutputWithoutUnnamedFiles",
                                  Keeper::kAppendOnlyDirectory, true, false},
                    PlacementCase{"BindMountedOutput", Keeper::kBindMount, true},
                    PlacementCase{"BindMountSeenOnlyByTheRename", Keeper::kBindMount, true, true,
                                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- A file system out of room ------------------------------------------------

// A small tmpfs mounted inside a scratch directory for the object's lifetime.
class SmallFileSystem {
  public:
    SmallFileSystem(const ScratchDirectory& scratch, const char* options)
        : mountPoint_(scratch / "small") {
        std::filesystem::create_directory(mountPoint_);
        mounted_ = mount("pelindra-test", mountPoint_.c_str(), "tmpfs", 0, options) == 0;
        why_ = mounted_ ? "" : std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_) {
            umount2(mountPoint_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const {
        return mounted_;
    }
    const std::string& why() const {
        return why_;
    }
    path operator/(const std::string& name) const {
        return mountPoint_ / name;
    }
    // Creates empty files until the file system refuses another one.
    void UseUpInodes() const {
        for (int i = 0; i < 1000; ++i) {
            const path filler = mountPoint_ / ("filler-" + std::to_string(i));
            const int made = open(filler.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            if (made < 0) {
                ASSERT_EQ(errno, ENOSPC);
                return;
            }
            close(made);
        }
        FAIL() << "the file system never ran out of inodes";
    }

  private:
    path mountPoint_;
    bool mounted_ = false;
    std::string why_;
};

std::vector<std::string> EntriesOf(const path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct FullCase {
    const char* name;
    const char* options; // mount options of the tmpfs
    bool inodesUsedUp;
    const char* line; // "create" or "write"
};

void PrintTo(const FullCase& full, std::ostream* out) {
    *out << full.name;
}

class FullFileSystemTest : public testing::TestWithParam<FullCase> {};

TEST_P(FullFileSystemTest, KeepsTheOldOutput) {
    ScratchDirectory scratch;
    SmallFileSystem small(scratch, GetParam().options);
    if (!small.mounted()) {
        GTEST_SKIP() << small.why();
    }
    BmpSpec spec;
    spec.width = 300;
    spec.height = 300; // 270 KB: more than the small file system holds
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const Bytes previous(1000, 'o');
    WriteFileBytes(small / "out.bmp", previous);
    if (GetParam().inodesUsedUp) {
        small.UseUpInodes();
    }
    const std::vector<std::string> entries = EntriesOf(small / "");

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", small / "out.bmp", 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 300 x 300 pixels\nAdding 3 stars to the image...\n" +
                  "Error: Cannot " + GetParam().line + " output file '" +
                  (small / "out.bmp").string() + "'\n");
    EXPECT_EQ(ReadFileBytes(small / "out.bmp"), previous);
    EXPECT_EQ(EntriesOf(small / ""), entries);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, FullFileSystemTest,
    testing::Values(FullCase{"NoInodes", "size=1m,nr_inodes=16", true, "create"},
                    FullCase{"NoSpace", "size=64k,nr_inodes=64", false, "write"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Signals a failed write raises ----------------------------------------------

// With SIGPIPE at its default, or blocked by the caller beforehand: either way
// the signal the write raised is consumed, and the caller's mask is as it was.
TEST(WriteSignals, ReaderLeavingAPipeFailsTheWrite) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 600;
    spec.height = 600; // about 1 MB, many times what a pipe holds
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const path fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    for (const bool callerBlocks : {false, true}) {
        SCOPED_TRACE(callerBlocks ? "caller blocks SIGPIPE" : "SIGPIPE at its default");
        const ChildRun run = RunInChild(
            [&] {
                sigset_t pipeOnly;
                sigemptyset(&pipeOnly);
                sigaddset(&pipeOnly, SIGPIPE);
                pthread_sigmask(callerBlocks ? SIG_BLOCK : SIG_UNBLOCK, &pipeOnly, nullptr);
                // The reader takes a little and goes away while the job still writes.
                std::thread reader([&fifo] {
                    const int end = open(fifo.c_str(), O_RDONLY);
                    char first[100];
                    const ssize_t got = read(end, first, sizeof first);
                    (void)got;
                    close(end);
                });
                const int32_t result = RunPelindra(scratch / "in.bmp", fifo, 1);
                reader.join();
                sigset_t pending;
                sigset_t blocked;
                sigpending(&pending);
                pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
                if (sigismember(&pending, SIGPIPE) == 1) {
                    return -1;
                }
                return sigismember(&blocked, SIGPIPE) == (callerBlocks ? 1 : 0) ? result : -2;
            },
            false);
        ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
        EXPECT_EQ(run.result, PELINDRA_RESULT_FAILED)
            << "-1: SIGPIPE was left pending; -2: the mask changed";
        EXPECT_EQ(run.output, std::string(kBanner) +
                                  "Image size: 600 x 600 pixels\nAdding 1 stars to the image...\n"
                                  "Error: Cannot write output file '" +
                                  fifo.string() + "'\n");
    }
}

// The report is written under the same hold as the image: a caller whose
// standard output has lost its reader is not killed after its image was
// saved, and a signal it had pending before the call is still pending after.
TEST(WriteSignals, ReportToAPipeWithoutReaderFailsQuietly) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 20;
    spec.height = 10;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    for (const bool pendingBefore : {false, true}) {
        SCOPED_TRACE(pendingBefore ? "SIGPIPE pending before the call" : "no signal pending");
        const ChildRun run = RunInChild(
            [&] {
                int broken[2];
                if (pipe(broken) != 0 || dup2(broken[1], STDOUT_FILENO) < 0) {
                    return -3;
                }
                close(broken[0]);
                sigset_t pipeOnly;
                sigemptyset(&pipeOnly);
                sigaddset(&pipeOnly, SIGPIPE);
                if (pendingBefore) {
                    pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
                    raise(SIGPIPE);
                }
                shell.Print = RealShell().Print;
                const int32_t result = RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0);
                sigset_t pending;
                sigpending(&pending);
                return (sigismember(&pending, SIGPIPE) == 1) == pendingBefore ? result : -1;
            },
            false);
        ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
        EXPECT_EQ(run.result, PELINDRA_RESULT_WRITTEN) << "-1: a pending SIGPIPE came or went";
        EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf(spec));
    }
}

struct LimitCase {
    const char* name;
    bool outputExists;
    rlim_t limit;
};

void PrintTo(const LimitCase& limit, std::ostream* out) {
    *out << limit.name;
}

class FileSizeSignalTest : public testing::TestWithParam<LimitCase> {};

TEST_P(FileSizeSignalTest, FailsTheWriteAndLeavesNothing) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 100;
    spec.height = 60;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    if (GetParam().outputExists) {
        WriteFileBytes(scratch / "out.bmp", Bytes(40, 'o'));
    }
    const DirectorySnapshot before = Snapshot(scratch);

    const rlim_t limit = GetParam().limit;
    const ChildRun run = RunInChild(
        [&] {
            const rlimit lowered{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) {
                return -2;
            }
            const int32_t result = RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 2);
            sigset_t blocked;
            pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
            return sigismember(&blocked, SIGXFSZ) == 1 ? -1 : result;
        },
        false);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_EQ(run.result, PELINDRA_RESULT_FAILED) << "-1: SIGXFSZ left blocked";
    EXPECT_EQ(run.output, std::string(kBanner) +
                              "Image size: 100 x 60 pixels\nAdding 2 stars to the image...\n"
                              "Error: Cannot write output file '" +
                              (scratch / "out.bmp").string() + "'\n");
    EXPECT_EQ(Snapshot(scratch), before);
}

INSTANTIATE_TEST_SUITE_P(Limits, FileSizeSignalTest,
                         testing::Values(LimitCase{"NewOutput", false, 1000},
                                         LimitCase{"ExistingOutput", true, 9000}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A save killed part way -------------------------------------------------------

// A child saving a large image is killed at several moments of the save. Each
// time the output is the old file or the whole new one, and nothing else is
// left in the directory but, at most, the complete new file under its
// temporary name: it has no name until it is complete.
TEST(KilledSave, LeavesTheOldOrTheNewFileAndNothingElse) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 4096;
    spec.height = 4096; // 48 MiB of pixels
    spec.fill = 0;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const Bytes previous{'o', 'l', 'd'};
    const auto job = [&scratch] {
        TestShell().draws = {1234567, 7654321, 7, 1};
        TestShell().repeatDraws = true;
        return RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 50);
    };
    WriteFileBytes(scratch / "out.bmp", previous);
    ASSERT_EQ(RunInChild(job, false).result, PELINDRA_RESULT_WRITTEN);
    const Bytes written = ReadFileBytes(scratch / "out.bmp");

    int killedBeforeTheEnd = 0;
    for (const int delayMs : {0, 5, 20, 60, 150, 400}) {
        SCOPED_TRACE("killed after " + std::to_string(delayMs) + " ms");
        WriteFileBytes(scratch / "out.bmp", previous);
        const pid_t child = fork();
        if (child == 0) {
            ResetTestShell();
            _exit(job() == PELINDRA_RESULT_WRITTEN ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        killedBeforeTheEnd += WIFSIGNALED(status) ? 1 : 0;
        // Linux cannot put an unnamed file over a name: the finished file is
        // named just before the rename, and a kill between the two leaves
        // that name on a complete copy.
        std::vector<std::string> entries = scratch.Entries();
        if (entries.size() == 3 && entries[0].rfind(".pelindra-", 0) == 0) {
            EXPECT_EQ(ReadFileBytes(scratch / entries[0]), written);
            std::filesystem::remove(scratch / entries[0]);
            entries.erase(entries.begin());
        }
        EXPECT_EQ(entries, (std::vector<std::string>{"in.bmp", "out.bmp"}));
        const Bytes now = ReadFileBytes(scratch / "out.bmp");
        EXPECT_TRUE(now == previous || now == written) << "output of " << now.size() << " bytes";
    }
    EXPECT_GT(killedBeforeTheEnd, 0) << "no child was killed before it finished";
}

} // namespace
