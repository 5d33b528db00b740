// SPDX-License-Identifier: GPL-3.0-or-later
// Emptying real processes' working sets: children that hold a known amount of file-backed
// memory, the processes that may not be touched, a whole release over the test's own
// processes (never the machine's others) measured from /proc, the release of an ordinary user
// on a kernel that lets it reach little, and a release that frees nothing beside a process
// that takes and gives back memory all the time.
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"
#include "platform/linux/releaseworkingsets.h"
#include "platform/platform.h"
#include "testprocs.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <grp.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

using vb::platform::MemoryStatus;
using vb::platform::linux_::PidfdWorkingSets;
using vb::platform::linux_::ReleaseWorkingSets;
using vbtest::Holder;
using vbtest::statusKb;

namespace {

// A file of mb mebibytes written, mapped and read by this very process.
class OwnMapping
{
public:
    OwnMapping(const QString& path, int mb) : m_bytes(size_t(mb) << 20)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadWrite | QIODevice::Truncate))
            return;
        const QByteArray block(1 << 16, 'm');
        for (size_t off = 0; off < m_bytes; off += size_t(block.size()))
            f.write(block);
        f.flush();
        ::fsync(f.handle());
        void* p = ::mmap(nullptr, m_bytes, PROT_READ, MAP_SHARED, f.handle(), 0);
        if (p == MAP_FAILED)
            return;
        m_map = static_cast<volatile char*>(p);
        long sum = 0;
        for (size_t i = 0; i < m_bytes; i += 4096)
            sum += m_map[i];
        m_sum = sum;
    }
    ~OwnMapping()
    {
        if (m_map)
            ::munmap(const_cast<char*>(m_map), m_bytes);
    }
    bool ok() const { return m_map != nullptr && m_sum > 0; }
    size_t residentPages() const
    {
        std::vector<unsigned char> in(m_bytes / 4096);
        if (::mincore(const_cast<char*>(m_map), m_bytes, in.data()) != 0)
            return 0;
        size_t n = 0;
        for (unsigned char c : in)
            n += c & 1;
        return n;
    }

private:
    size_t m_bytes;
    volatile char* m_map = nullptr;
    long m_sum = 0;
};

constexpr uid_t kNobody = 65534;

int asNobody(const std::function<int()>& fn)
{
    return vbtest::asUser<int>(kNobody, fn).value_or(99);
}

// What an ordinary user's release did, as its child process saw it.
struct UserRelease
{
    quint64 released = 0;
    uint32_t emptied = 0;
    bool toldWhatWasLeft = false;
    bool selfPaged = false;
};

// The release of an ordinary user over ids, with no filter service to ask (its folder has no
// sockets) and the user's control groups as this machine has them. selfMb: a mapping of this
// child's own, in dir, that the release may page out.
UserRelease releaseAsUser(const std::vector<vb::platform::ProcessId>& ids, const QString& dir,
                          int selfMb)
{
    OwnMapping mine(dir + QStringLiteral("/user-%1.dat").arg(::getpid()), selfMb);
    ReleaseWorkingSets::Ways ways = ReleaseWorkingSets::waysOfThisProcess();
    const std::string noService = dir.toStdString() + "/no-service";
    ways.service = [noService] { return vb::platform::linux_::ServiceRelease(noService).ask(); };
    std::vector<vb::platform::ProcessId> all = ids;
    all.push_back(static_cast<vb::platform::ProcessId>(::getpid()));
    const size_t resident0 = mine.residentPages();
    const auto r = ReleaseWorkingSets(ways).emptyWorkingSets(all);
    UserRelease u;
    u.released = r.releasedBytes;
    u.emptied = r.processesEmptied;
    u.toldWhatWasLeft = !r.notReached.empty();
    u.selfPaged = mine.ok() && resident0 > 0 && mine.residentPages() < resident0 / 10;
    return u;
}

// Whether an unprivileged process may page itself out on this kernel (Linux 6.13 on; before,
// Debian 12's 6.1 among them, it is refused like any other).
bool kernelLetsUserPageItselfOut()
{
    return asNobody([] {
               const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0));
               void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
               if (pidfd < 0 || page == MAP_FAILED)
                   return 2;
               static_cast<volatile char*>(page)[0] = 1;
               iovec iov{page, 4096};
               const long n =
                   ::syscall(SYS_process_madvise, pidfd, &iov, 1, 21 /* MADV_PAGEOUT */, 0u);
               return n == 4096 ? 1 : 0;
           }) == 1;
}

} // namespace

class TestWorkingSets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fileBackedPagesLeave_data();
    void fileBackedPagesLeave();
    void processesNotToTouchAreSkipped();
    void goneAndKernelProcesses();
    void mappingsBeyondOneCall();
    void releaseOverOwnProcesses();
    void anonymousPagesGoToSwap();
    void residentFigures_data();
    void residentFigures();
    void ordinaryUserReachesOnlyItself();
    void nothingPagedOutBesideAChurner();

private:
    QTemporaryDir m_dir;
};

void TestWorkingSets::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The files must live on a disk file system: tmpfs pages are anonymous memory.
    QCOMPARE(::geteuid(), 0u); // emptying other processes needs CAP_SYS_NICE
}

void TestWorkingSets::fileBackedPagesLeave_data()
{
    QTest::addColumn<int>("fileMb");
    QTest::addColumn<int>("anonMb");
    QTest::newRow("file only") << 64 << 0;
    QTest::newRow("file and anonymous") << 48 << 32;
}

void TestWorkingSets::fileBackedPagesLeave()
{
    QFETCH(int, fileMb);
    QFETCH(int, anonMb);
    Holder h(m_dir.filePath(QStringLiteral("hold.dat")), fileMb, anonMb);
    QVERIFY(h.ready());
    const qint64 file0 = statusKb(h.pid(), "RssFile");
    const qint64 anon0 = statusKb(h.pid(), "RssAnon");
    QVERIFY2(file0 >= fileMb * 1024, "the child holds its file");
    QVERIFY(anon0 >= anonMb * 1024);

    PidfdWorkingSets sets;
    const auto r = sets.pageOut(static_cast<vb::platform::ProcessId>(h.pid()));
    QVERIFY(r.opened);
    QVERIFY(r.advised > 0);
    QCOMPARE(r.failed, 0u); // the special mappings were never tried
    const qint64 file1 = statusKb(h.pid(), "RssFile");
    const qint64 anon1 = statusKb(h.pid(), "RssAnon");
    qInfo("RssFile %lld -> %lld kB, RssAnon %lld -> %lld kB", file0, file1, anon0, anon1);
    QVERIFY2(file0 - file1 >= fileMb * 1024 * 9 / 10, "at least 90% of the file left memory");
    if (vbtest::meminfoKb("SwapTotal") == 0) {
        // Without swap anonymous pages have nowhere to go.
        QVERIFY(anon1 >= anon0 * 95 / 100);
    }
    // The child goes on working with its memory: the pages come back on use.
    ::kill(static_cast<pid_t>(h.pid()), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT(statusKb(h.pid(), "RssFile") >= fileMb * 1024, 10000);
}

void TestWorkingSets::processesNotToTouchAreSkipped()
{
    Holder h(m_dir.filePath(QStringLiteral("root.dat")), 32, 0);
    QVERIFY(h.ready());
    const qint64 file0 = statusKb(h.pid(), "RssFile");
    const auto pid = static_cast<vb::platform::ProcessId>(h.pid());
    // A user without the right to touch root's processes: skipped, nothing changes.
    const int other = asNobody([pid] { return PidfdWorkingSets().emptyWorkingSet(pid) ? 1 : 0; });
    QCOMPARE(other, 0);
    QVERIFY(statusKb(h.pid(), "RssFile") >= file0 * 95 / 100);
    // ... and its own process as far as the kernel lets it.
    const int kernelLets = kernelLetsUserPageItselfOut() ? 1 : 0;
    const int own = asNobody([] {
        return PidfdWorkingSets().emptyWorkingSet(static_cast<vb::platform::ProcessId>(::getpid()))
                   ? 1
                   : 0;
    });
    QCOMPARE(own, kernelLets);
    // Root may do both.
    QVERIFY(PidfdWorkingSets().emptyWorkingSet(pid));
    QVERIFY(statusKb(h.pid(), "RssFile") < file0 / 2);
}

void TestWorkingSets::goneAndKernelProcesses()
{
    PidfdWorkingSets sets;
    QVERIFY(!sets.emptyWorkingSet(0));
    // A child that has ended and been reaped: its id is free.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    QVERIFY(!sets.emptyWorkingSet(static_cast<vb::platform::ProcessId>(child)));
    // Kernel threads have no memory of their own to page out.
    QFile comm(QStringLiteral("/proc/2/comm"));
    QVERIFY(comm.open(QIODevice::ReadOnly));
    QCOMPARE(comm.readAll().trimmed(), QByteArray("kthreadd"));
    QVERIFY(!sets.emptyWorkingSet(2));
    // A root that has no such process at all.
    QVERIFY(!PidfdWorkingSets(m_dir.path().toStdString())
                 .emptyWorkingSet(static_cast<vb::platform::ProcessId>(::getpid())));
}

void TestWorkingSets::mappingsBeyondOneCall()
{
    // One call covers about 2 GiB: pages 2.5 GiB into a 3 GiB mapping must go as well. The
    // file is sparse, and reading its holes fills clean page cache pages.
    QFile f(m_dir.filePath(QStringLiteral("sparse.dat")));
    QVERIFY(f.open(QIODevice::ReadWrite | QIODevice::Truncate));
    const size_t total = size_t(3) << 30, from = (size_t(5) << 30) / 2, bytes = size_t(16) << 20;
    QVERIFY(f.resize(qint64(total)));
    void* p = ::mmap(nullptr, total, PROT_READ, MAP_SHARED, f.handle(), 0);
    QVERIFY(p != MAP_FAILED);
    auto* map = static_cast<volatile char*>(p);
    long sum = 0;
    for (size_t i = 0; i < bytes; i += 4096)
        sum += map[i] + map[from + i];
    QCOMPARE(sum, 0L);
    auto resident = [&](size_t at) {
        std::vector<unsigned char> in(bytes / 4096);
        if (::mincore(const_cast<char*>(map) + at, bytes, in.data()) != 0)
            return size_t(0);
        size_t n = 0;
        for (unsigned char c : in)
            n += c & 1;
        return n;
    };
    QCOMPARE(resident(0), bytes / 4096);
    QCOMPARE(resident(from), bytes / 4096);
    const auto r = PidfdWorkingSets().pageOut(static_cast<vb::platform::ProcessId>(::getpid()));
    QVERIFY(r.opened);
    QCOMPARE(resident(0), size_t(0));
    QCOMPARE(resident(from), size_t(0));
    QVERIFY(r.advisedBytes >= total);
    ::munmap(p, total);
}

void TestWorkingSets::releaseOverOwnProcesses()
{
    Holder a(m_dir.filePath(QStringLiteral("a.dat")), 64, 0);
    Holder b(m_dir.filePath(QStringLiteral("b.dat")), 32, 0);
    QVERIFY(a.ready() && b.ready());
    const qint64 self = ::getpid();
    const qint64 a0 = statusKb(a.pid(), "RssFile"), b0 = statusKb(b.pid(), "RssFile");
    // This process holds a mapped file of its own; mincore tells which of its pages are in.
    OwnMapping mine(m_dir.filePath(QStringLiteral("self.dat")), 16);
    QVERIFY(mine.ok());
    const size_t self0 = mine.residentPages();
    QCOMPARE(self0, size_t(16 * 256));

    auto procs = std::make_shared<vbtest::ListedProcesses>();
    procs->ids = {static_cast<uint32_t>(a.pid()), static_cast<uint32_t>(b.pid()),
                  static_cast<uint32_t>(self)};
    auto memory = std::make_shared<vb::platform::linux_::ProcfsMemory>();
    const vb::memory::ReleaseBackends backends{memory, procs, std::make_shared<PidfdWorkingSets>()};
    // With swap this process's anonymous pages may go as well.
    const qint64 selfPageable =
        statusKb(self, "RssFile") +
        (vbtest::meminfoKb("SwapTotal") > 0 ? statusKb(self, "RssAnon") : 0);

    // The real release thread, as the ball starts it.
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    QList<quint64> finished; // delivered queued, in this thread, as the ball gets it
    QObject receiver;
    connect(notifier.get(), &EmptingMemorySetNotifyer::finished, &receiver,
            [&](quint64 bytes) { finished << bytes; });
    const uint32_t t0 = memory->tickCountMs();
    QVERIFY(vb::memory::startEmptingMemorySet(notifier, backends));
    notifier.reset(); // the thread's copy keeps it alive until it has finished
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    const uint32_t took = memory->tickCountMs() - t0;

    const qint64 a1 = statusKb(a.pid(), "RssFile"), b1 = statusKb(b.pid(), "RssFile");
    const size_t self1 = mine.residentPages();
    qInfo("RssFile a %lld -> %lld, b %lld -> %lld kB; own mapping %zu -> %zu pages; took %u ms", a0,
          a1, b0, b1, self0, self1, took);
    QVERIFY(a0 - a1 >= 64 * 1024 * 9 / 10);
    QVERIFY(b0 - b1 >= 32 * 1024 * 9 / 10);
    QVERIFY2(self1 < self0 / 10, "the host process is emptied as well");
    QVERIFY(took >= vb::memory::kMinimumReleaseMs);

    // The gain is what left these three processes: the children's files, this process's own
    // mapping and at most the rest of what it could give up, nothing from elsewhere.
    const quint64 gain = finished.at(0);
    const quint64 children = quint64((a0 - a1) + (b0 - b1)) * 1024;
    qInfo("reported %llu bytes; the children gave up %llu, this process held %lld kB to page out",
          gain, children, selfPageable);
    QVERIFY(gain >= children + (quint64(16) << 20) * 9 / 10);
    QVERIFY(gain <= children + quint64(selfPageable) * 1024 + (quint64(4) << 20));
    QTest::qWait(200);
    QCOMPARE(finished.size(), 1); // exactly once
}

void TestWorkingSets::anonymousPagesGoToSwap()
{
    if (vbtest::meminfoKb("SwapTotal") <= 0)
        QSKIP("needs swap: run by the memory_swap_release test, which adds a swap file");
    const int anonMb = 64;
    Holder h(m_dir.filePath(QStringLiteral("anon.dat")), 0, anonMb);
    QVERIFY(h.ready());
    const qint64 anon0 = statusKb(h.pid(), "RssAnon");
    QVERIFY(anon0 >= anonMb * 1024);
    QVERIFY(PidfdWorkingSets().emptyWorkingSet(static_cast<vb::platform::ProcessId>(h.pid())));
    const qint64 anon1 = statusKb(h.pid(), "RssAnon");
    const qint64 swapped = statusKb(h.pid(), "VmSwap");
    qInfo("RssAnon %lld -> %lld kB, VmSwap %lld kB", anon0, anon1, swapped);
    QVERIFY(anon1 < anon0 / 10);
    QVERIFY(swapped >= anonMb * 1024 * 9 / 10);
    // Nothing was lost: the child reads every page back from swap.
    ::kill(static_cast<pid_t>(h.pid()), SIGUSR1);
    QTRY_VERIFY_WITH_TIMEOUT(statusKb(h.pid(), "RssAnon") >= anonMb * 1024, 20000);
}

void TestWorkingSets::residentFigures_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<quint64>("pagedOut");
    const auto status = [](int anon, int file, int shmem, int swap) {
        return QStringLiteral("Name:\tx\nRssAnon:\t%1 kB\nRssFile:\t%2 kB\nRssShmem:\t%3 kB\n"
                              "VmSwap:\t%4 kB\n")
            .arg(anon)
            .arg(file)
            .arg(shmem)
            .arg(swap);
    };
    QTest::newRow("file pages dropped")
        << status(100, 5000, 0, 0) << status(100, 1000, 0, 0) << quint64(4000 * 1024);
    QTest::newRow("anonymous pages freed by the process itself: no swap grew")
        << status(9000, 10, 0, 0) << status(1000, 10, 0, 0) << quint64(0);
    QTest::newRow("anonymous pages to swap")
        << status(9000, 10, 0, 0) << status(1000, 10, 0, 8000) << quint64(8000 * 1024);
    QTest::newRow("swap grew more than the pages that left")
        << status(3000, 10, 500, 0) << status(2000, 10, 0, 9000) << quint64(1500 * 1024);
    QTest::newRow("the process grew")
        << status(100, 10, 0, 0) << status(900, 90, 0, 0) << quint64(0);
    QTest::newRow("kernel thread: no figures")
        << QStringLiteral("Name:\tkthreadd\n") << status(0, 0, 0, 0) << quint64(0);
    QTest::newRow("garbage") << status(100, 5000, 0, 0) << QStringLiteral("RssFile:\tlots kB\n")
                             << quint64(0);
}

void TestWorkingSets::residentFigures()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(quint64, pagedOut);
    QCOMPARE(PidfdWorkingSets::pagedOut(PidfdWorkingSets::parseStatus(before.toStdString()),
                                        PidfdWorkingSets::parseStatus(after.toStdString())),
             pagedOut);
}

void TestWorkingSets::ordinaryUserReachesOnlyItself()
{
    // Files of the user's and of root's, on disk, in a folder both may use.
    QVERIFY(QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                    QFileDevice::WriteOther |
                                                    QFileDevice::ExeOther));
    Holder users(m_dir.filePath(QStringLiteral("users.dat")), 32, 0, kNobody);
    Holder roots(m_dir.filePath(QStringLiteral("roots.dat")), 32, 0);
    QVERIFY(users.ready() && roots.ready());
    const qint64 u0 = statusKb(users.pid(), "RssFile"), r0 = statusKb(roots.pid(), "RssFile");
    const std::vector<vb::platform::ProcessId> ids{
        static_cast<vb::platform::ProcessId>(users.pid()),
        static_cast<vb::platform::ProcessId>(roots.pid())};
    const QString dir = m_dir.path();
    const auto got =
        vbtest::asUser<UserRelease>(kNobody, [&] { return releaseAsUser(ids, dir, 16); });
    QVERIFY(got);
    const bool selfAllowed = kernelLetsUserPageItselfOut();
    const qint64 u1 = statusKb(users.pid(), "RssFile"), r1 = statusKb(roots.pid(), "RssFile");
    qInfo("user's holder %lld -> %lld kB, root's %lld -> %lld kB; reported %llu bytes from %u "
          "processes; the kernel %s a user page itself out",
          u0, u1, r0, r1, got->released, got->emptied, selfAllowed ? "lets" : "does not let");
    // Root's process is out of reach, and so is another process of the same user: the kernel
    // wants CAP_SYS_NICE for any process but the caller.
    QVERIFY(r1 >= r0 * 95 / 100);
    QVERIFY(u1 >= u0 * 95 / 100);
    QVERIFY(got->toldWhatWasLeft);
    QCOMPARE(got->selfPaged, selfAllowed);
    if (selfAllowed) {
        QCOMPARE(got->emptied, 1u);
        QVERIFY(got->released >= (quint64(16) << 20) * 9 / 10);
        // ... and no more than the child itself could have held in files.
        QVERIFY(got->released < (quint64(16) << 20) + (quint64(64) << 20));
    } else {
        QCOMPARE(got->emptied, 0u);
        QCOMPARE(got->released, quint64(0));
    }
}

void TestWorkingSets::nothingPagedOutBesideAChurner()
{
    QVERIFY(QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                    QFileDevice::WriteOther |
                                                    QFileDevice::ExeOther));
    // Beside the release, a process of the user's takes and gives back 64 MiB over and over.
    Holder churner({QStringLiteral("--churn"), QStringLiteral("64")}, kNobody);
    QVERIFY(churner.ready());
    // A process with nothing left to page out: emptied once before.
    Holder idle(m_dir.filePath(QStringLiteral("idle.dat")), 16, 0);
    QVERIFY(idle.ready());
    const auto idlePid = static_cast<vb::platform::ProcessId>(idle.pid());
    QVERIFY(PidfdWorkingSets().emptyWorkingSet(idlePid));

    // Root's release of that process, through the release thread on the real clock.
    auto procs = std::make_shared<vbtest::ListedProcesses>();
    procs->ids = {idlePid};
    auto memory = std::make_shared<vb::platform::linux_::ProcfsMemory>();
    MemoryStatus free0, free1;
    QVERIFY(memory->memoryStatus(free0));
    auto notifier = std::make_shared<EmptingMemorySetNotifyer>();
    QList<quint64> finished;
    QObject receiver;
    connect(notifier.get(), &EmptingMemorySetNotifyer::finished, &receiver,
            [&](quint64 bytes) { finished << bytes; });
    QVERIFY(vb::memory::startEmptingMemorySet(
        std::move(notifier), {memory, procs, std::make_shared<PidfdWorkingSets>()}));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 30000);
    QVERIFY(memory->memoryStatus(free1));
    qInfo("root: reported %llu bytes while free memory went %llu -> %llu", finished.at(0),
          quint64(free0.freePhysBytes), quint64(free1.freePhysBytes));
    // What the idle process touched again since (a page or two of its loop) may go; never
    // the megabytes the churner moves.
    QVERIFY(finished.at(0) < (quint64(1) << 20));

    // The user's release over the churner and root's process: neither can be paged out here,
    // so exactly nothing is reported, whatever the churner does meanwhile.
    const std::vector<vb::platform::ProcessId> ids{
        static_cast<vb::platform::ProcessId>(churner.pid()), idlePid};
    const QString dir = m_dir.path();
    const bool selfAllowed = kernelLetsUserPageItselfOut();
    const auto got = vbtest::asUser<UserRelease>(
        kNobody, [&] { return releaseAsUser(ids, dir, selfAllowed ? 0 : 16); });
    QVERIFY(got);
    qInfo("user: reported %llu bytes from %u processes", got->released, got->emptied);
    if (!selfAllowed)
        QCOMPARE(got->released, quint64(0));
    else
        QVERIFY(got->released < (quint64(1) << 20)); // at most the child's own few pages
    QVERIFY(statusKb(churner.pid(), "VmRSS") > 0);   // it churned all along
}

QTEST_GUILESS_MAIN(TestWorkingSets)
#include "tst_workingsets.moc"
