// SPDX-License-Identifier: GPL-3.0-or-later
// Emptying real processes' working sets: children that hold a known amount of file-backed
// memory, the processes that may not be touched, and a whole release over the test's own
// processes (never the machine's others) measured from /proc.
#include "memory/emptingmemorysetnotifyer.h"
#include "memory/workingsetrelease.h"
#include "platform/linux/pidfdworkingsets.h"
#include "platform/linux/procfsmemory.h"
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
using vbtest::Holder;
using vbtest::statusKb;

namespace {

// The real figures, with every reading kept so a test can redo the arithmetic.
class RecordingMemory : public vb::platform::linux_::ProcfsMemory
{
public:
    bool memoryStatus(MemoryStatus& out) override
    {
        const bool ok = ProcfsMemory::memoryStatus(out);
        std::lock_guard<std::mutex> l(m_mutex);
        m_readings.push_back(out);
        return ok;
    }
    std::vector<MemoryStatus> readings()
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_readings;
    }

private:
    std::mutex m_mutex;
    std::vector<MemoryStatus> m_readings;
};

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

// Runs fn in a forked child that has given up root for "nobody"; the child's exit code.
int asNobody(const std::function<int()>& fn)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(90);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
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
    // ... and its own process as far as the kernel lets it: since Linux 6.13 a process may page
    // itself out through process_madvise without CAP_SYS_NICE, before that (Debian 12's 6.1)
    // it is refused like any other. Ask the kernel directly, then expect the backend to agree.
    const int kernelLets = asNobody([] {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0));
        void* page =
            ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pidfd < 0 || page == MAP_FAILED)
            return 2;
        static_cast<volatile char*>(page)[0] = 1;
        iovec iov{page, 4096};
        const long n = ::syscall(SYS_process_madvise, pidfd, &iov, 1, 21 /* MADV_PAGEOUT */, 0u);
        return n == 4096 ? 1 : n < 0 && errno == EPERM ? 0 : 3;
    });
    QVERIFY2(kernelLets == 0 || kernelLets == 1, "the probe itself failed");
    qInfo("an unprivileged process %s page itself out on this kernel",
          kernelLets ? "may" : "may not");
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
    auto memory = std::make_shared<RecordingMemory>();
    const vb::memory::ReleaseBackends backends{memory, procs, std::make_shared<PidfdWorkingSets>()};

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

    // The gain is the measured difference of the two snapshots, nothing else.
    const auto readings = memory->readings();
    QCOMPARE(readings.size(), size_t(2));
    const quint64 before = readings[0].freePhysBytes, after = readings[1].freePhysBytes;
    const quint64 gain = finished.at(0);
    qInfo("free %llu -> %llu bytes, reported %llu", before, after, gain);
    QCOMPARE(gain, after > before ? after - before : quint64(0));
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

QTEST_GUILESS_MAIN(TestWorkingSets)
#include "tst_workingsets.moc"
