// SPDX-License-Identifier: GPL-3.0-or-later
// The boost list model and its fix, on the fake backend: row signals, display values, ticks,
// the refresh guards and the result rules of a fix.
#include "../lib/processfakes.h"
#include "procs/procdatalist.h"
#include "procs/procfix.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include <future>

using namespace vb::platform;

namespace {
// Files candidates by service key or image path; everything else is no business of it.
class MapJudge : public IProcessJudge
{
public:
    std::map<std::wstring, JudgeResult> verdicts;
    JudgeResult judge(const ProcInfo& p) override
    {
        const auto it = verdicts.find(p.isService ? p.serviceName : p.path);
        return it == verdicts.end() ? JR_NONE : it->second;
    }
    bool isAvailable() override { return true; }
    void beginJudge() override {}
    void endJudge() override {}
};

ProcListItem row(ProcItemKind kind, const wchar_t* path = L"", quint64 memory = 0,
                 const wchar_t* service = nullptr, const wchar_t* display = nullptr)
{
    if (kind != PK_Process)
        return ProcListItem::header(kind, memory);
    return ProcListItem(ProcInfo(77, path, memory, service, display), kind, false);
}

QList<ProcListItem> rowsOfCount(int n)
{
    QList<ProcListItem> rows;
    for (int i = 0; i < n; ++i)
        rows << row(PK_Process, L"/bin/x", quint64(i));
    return rows;
}

} // namespace

class TestProcDataList : public QObject
{
    Q_OBJECT
    vb::test::ProcessFakes m_fakes;
    std::shared_ptr<MapJudge> m_judge;
    std::unique_ptr<ProcDataList> m_list;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    std::unique_ptr<ProcDataList> makeList()
    {
        return std::make_unique<ProcDataList>(m_judge, nullptr, m_fakes.into());
    }
    // A process the pass lists under group, with a window so that it is a candidate.
    void addWindowed(ProcessId pid, const wchar_t* path, uint64_t rss, JudgeResult group)
    {
        m_fakes.procs->procs[pid] = {QString::fromWCharArray(path).toStdString(), rss};
        m_fakes.procs->procs[pid].start = 1000 + pid;
        m_fakes.windows->windows.push_back(fake::window(pid, pid));
        m_judge->verdicts[path] = group;
    }
    void addService(const char* key, ProcessId host, JudgeResult group)
    {
        m_fakes.services->services.push_back(fake::service(key, host));
        m_judge->verdicts[QString::fromLatin1(key).toStdWString()] = group;
    }
    // Runs one fix of the list to its end; the result signal's arguments.
    QList<QVariant> fixToTheEnd(ProcDataList& list, bool releaseMemory)
    {
        QSignalSpy result(&list, &ProcDataList::fixResultChanged);
        list.beginFix(releaseMemory);
        if (!result.wait(10000))
            return {};
        return result.takeFirst();
    }
    QStringList names(const ProcDataList& list) const
    {
        QStringList out;
        for (int i = 0; i < list.rowCount(); ++i)
            out << list.data(list.index(i), ProcDataList::role_name).toString();
        return out;
    }

private Q_SLOTS:
    void init()
    {
        m_fakes = {};
        m_judge = std::make_shared<MapJudge>();
        m_list = makeList();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_list.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }
    void cleanup()
    {
        m_tester.reset();
        m_list.reset();
    }

    void membersQmlAndHostsReach()
    {
        const QMetaObject& mo = ProcDataList::staticMetaObject;
        QStringList methods;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
            methods << QString::fromLatin1(mo.method(i).methodSignature());
        QCOMPARE(methods,
                 (QStringList{QStringLiteral("isFixingChanged(bool)"),
                              QStringLiteral("fixResultChanged(uint,qulonglong)"),
                              QStringLiteral("onProcNeedUpdate()"),
                              QStringLiteral("onEnumOver(ProcListItems_ptr,int)"),
                              QStringLiteral("onFixOver(ProcListItems_ptr,uint,qulonglong)"),
                              QStringLiteral("qmlSelect(int)"), QStringLiteral("qmlStartFix()")}));
        QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 1);
        const QMetaProperty fixing = mo.property(mo.propertyOffset());
        QCOMPARE(fixing.name(), "isFixing");
        QVERIFY(!fixing.isWritable());
        const auto roles = m_list->roleNames();
        QCOMPARE(roles.value(34), QByteArray("role_is_header"));
        QCOMPARE(roles.value(38), QByteArray("role_memory"));
        QCOMPARE(roles.size(), 5);
    }

    void swapItemsReportsTheDifference_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QList<int>>("removed"); // first, last; empty: none
        QTest::addColumn<QList<int>>("inserted");
        QTest::newRow("5 by 3") << 5 << 3 << QList<int>{3, 4} << QList<int>{};
        QTest::newRow("3 by 5") << 3 << 5 << QList<int>{} << QList<int>{3, 4};
        QTest::newRow("4 by 4") << 4 << 4 << QList<int>{} << QList<int>{};
        QTest::newRow("2 by none") << 2 << 0 << QList<int>{0, 1} << QList<int>{};
        QTest::newRow("none by 2") << 0 << 2 << QList<int>{} << QList<int>{0, 1};
    }
    void swapItemsReportsTheDifference()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QList<int>, removed);
        QFETCH(QList<int>, inserted);
        QList<ProcListItem> first = rowsOfCount(before);
        m_list->swapItems(first);
        QSignalSpy rem(m_list.get(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy ins(m_list.get(), &QAbstractItemModel::rowsInserted);
        QSignalSpy layout(m_list.get(), &QAbstractItemModel::layoutChanged);
        QStringList order;
        QObject scope; // the order is taken for this swap only
        auto mark = [&order](const char* what) { order << QLatin1String(what); };
        connect(m_list.get(), &QAbstractItemModel::rowsRemoved, &scope, [&] { mark("removed"); });
        connect(m_list.get(), &QAbstractItemModel::rowsInserted, &scope, [&] { mark("inserted"); });
        connect(m_list.get(), &QAbstractItemModel::layoutChanged, &scope, [&] { mark("layout"); });
        QList<ProcListItem> second = rowsOfCount(after);
        if (!second.isEmpty())
            second.last().memory = 4242; // the new rows are the ones shown
        m_list->swapItems(second);
        QCOMPARE(rem.size(), removed.isEmpty() ? 0 : 1);
        if (!removed.isEmpty())
            QCOMPARE((QList<int>{rem[0][1].toInt(), rem[0][2].toInt()}), removed);
        QCOMPARE(ins.size(), inserted.isEmpty() ? 0 : 1);
        if (!inserted.isEmpty())
            QCOMPARE((QList<int>{ins[0][1].toInt(), ins[0][2].toInt()}), inserted);
        QCOMPARE(layout.size(), 1);
        QCOMPARE(order.last(), QStringLiteral("layout"));
        QCOMPARE(m_list->rowCount(), after);
        if (after)
            QCOMPARE(m_list->items().last().memory, 4242u);
    }

    void clearRemovesEveryRowOnce()
    {
        QSignalSpy rem(m_list.get(), &QAbstractItemModel::rowsAboutToBeRemoved);
        m_list->clear(); // nothing to remove: nothing said
        QCOMPARE(rem.size(), 0);
        QList<ProcListItem> rows = rowsOfCount(3);
        m_list->swapItems(rows);
        m_list->clear();
        QCOMPARE(rem.size(), 1);
        QCOMPARE(rem[0][1].toInt(), 0);
        QCOMPARE(rem[0][2].toInt(), 2);
        QCOMPARE(m_list->rowCount(), 0);
    }

    void displayValues_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("service"); // empty: a process
        QTest::addColumn<QString>("display");
        QTest::addColumn<QVariant>("name");
        QTest::addColumn<QVariant>("icon");
        const QVariant defaultIcon(QStringLiteral("images/icon_proc_default.png"));
        QTest::newRow("process: base name") << int(PK_Process) << "/opt/tools/my.tool.exe"
                                            << ""
                                            << "" << QVariant("my") << defaultIcon;
        QTest::newRow("service with a display name")
            << int(PK_Process) << "/usr/sbin/cupsd"
            << "cups.service"
            << "CUPS Scheduler" << QVariant("CUPS Scheduler") << defaultIcon;
        QTest::newRow("service without one: its key")
            << int(PK_Process) << "/usr/sbin/cupsd"
            << "cups.service"
            << "" << QVariant("cups.service") << defaultIcon;
        QTest::newRow("advice header") << int(PK_AdviceHeader) << ""
                                       << ""
                                       << "" << QVariant("Advice") << QVariant();
        QTest::newRow("optional header") << int(PK_OptionalHeader) << ""
                                         << ""
                                         << "" << QVariant("Optional") << QVariant();
        QTest::newRow("release row") << int(PK_MemoryRelease) << ""
                                     << ""
                                     << "" << QVariant() << QVariant();
    }
    void displayValues()
    {
        QFETCH(int, kind);
        QFETCH(QString, path);
        QFETCH(QString, service);
        QFETCH(QString, display);
        QFETCH(QVariant, name);
        QFETCH(QVariant, icon);
        const std::wstring s = service.toStdWString(), d = display.toStdWString();
        ProcListItem r = row(ProcItemKind(kind), path.toStdWString().c_str(), 0x180000,
                             service.isEmpty() ? nullptr : s.c_str(), d.c_str());
        QList<ProcListItem> rows{r};
        m_list->swapItems(rows);
        const QModelIndex i = m_list->index(0);
        QCOMPARE(m_list->data(i, ProcDataList::role_name), name);
        QCOMPARE(m_list->data(i, ProcDataList::role_icon), icon);
        QCOMPARE(m_list->data(i, ProcDataList::role_memory).toString(), QStringLiteral("1.50 MB"));
        QCOMPARE(m_list->data(i, ProcDataList::role_is_header).toBool(), kind != PK_Process);
        QCOMPARE(m_list->data(i, ProcDataList::role_select).toBool(), false);
        // Roles and rows outside the table give nothing.
        for (int role : {int(Qt::DisplayRole), 33, 39})
            QVERIFY(!m_list->data(i, role).isValid());
        QVERIFY(!m_list->data(m_list->index(1), ProcDataList::role_name).isValid());
        QVERIFY(!m_list->data(QModelIndex(), ProcDataList::role_name).isValid());
    }

    void selectTogglesExactlyOneRow()
    {
        QList<ProcListItem> rows = rowsOfCount(3);
        m_list->swapItems(rows);
        QSignalSpy changed(m_list.get(), &QAbstractItemModel::dataChanged);
        m_list->qmlSelect(1);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed[0][0].toModelIndex(), m_list->index(1));
        QCOMPARE(changed[0][1].toModelIndex(), m_list->index(1));
        QVERIFY(m_list->data(m_list->index(1), ProcDataList::role_select).toBool());
        m_list->qmlSelect(1);
        QVERIFY(!m_list->items().at(1).select);
        for (int outside : {-1, 3, 1000})
            m_list->qmlSelect(outside);
        QCOMPARE(changed.size(), 2);
    }

    void fixingStateSignalsChangesOnly()
    {
        QSignalSpy spy(m_list.get(), &ProcDataList::isFixingChanged);
        m_list->setIsFixing(true);
        m_list->setIsFixing(true);
        m_list->setIsFixing(false);
        m_list->setIsFixing(false);
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy[0][0].toBool(), true);
        QCOMPARE(spy[1][0].toBool(), false);
    }

    void refreshesOnlyWhenStaleAndIdle()
    {
        addWindowed(100, L"/usr/bin/editor", 4096, JR_Advice);
        m_list->beginEnum();
        QCOMPARE(names(*m_list), (QStringList{QStringLiteral("Advice"), QStringLiteral("editor")}));
        addWindowed(101, L"/usr/bin/player", 4096, JR_Optional);
        m_list->beginEnum(); // up to date: the rows stay
        QCOMPARE(m_list->rowCount(), 2);
        m_list->onProcNeedUpdate(); // stale, but shown unchanged until asked
        QCOMPARE(m_list->rowCount(), 2);
        m_list->setIsFixing(true);
        m_list->beginEnum(); // never during a fix
        QCOMPARE(m_list->rowCount(), 2);
        m_list->setIsFixing(false);
        m_list->beginEnum();
        QCOMPARE(names(*m_list),
                 (QStringList{QStringLiteral("Advice"), QStringLiteral("editor"),
                              QStringLiteral("Optional"), QStringLiteral("player")}));
    }

    void nothingTickedNothingHappens()
    {
        addWindowed(100, L"/usr/bin/player", 4096, JR_Optional); // unticked by default
        m_list->beginEnum();
        QSignalSpy fixing(m_list.get(), &ProcDataList::isFixingChanged);
        QSignalSpy result(m_list.get(), &ProcDataList::fixResultChanged);
        m_list->qmlStartFix();
        QVERIFY(!result.wait(100));
        QCOMPARE(fixing.size(), 0);
        QVERIFY(m_fakes.procs->terminated.empty());
    }

    void aFixClosesWhatIsTickedAndCountsWhatClosed()
    {
        addService("cups.service", 30, JR_Advice);
        addService("cups-browsed.service", 30, JR_Advice); // the same host: counted twice
        addService("locked.service", 31, JR_Advice);       // its stop is refused
        addService("spooler.service", 31, JR_Optional);    // not ticked
        m_fakes.services->refused = {"locked.service"};
        m_fakes.services->services.push_back(fake::service("cups-dependent.service", 32));
        m_fakes.services->dependents["cups.service"] = {"cups-dependent.service"};
        m_fakes.procs->procs[30] = {"/usr/sbin/cupsd", 1000};
        m_fakes.procs->procs[31] = {"/usr/sbin/spoold", 10};
        m_fakes.procs->procs[32] = {"/usr/sbin/dep", 10};
        addWindowed(100, L"/usr/bin/editor", 200, JR_Advice);
        addWindowed(101, L"/usr/bin/stuck", 30, JR_Advice);
        m_fakes.procs->procs[101].endable = false;
        addWindowed(102, L"/usr/bin/player", 5, JR_Optional);
        m_list->beginEnum();
        QCOMPARE(m_list->rowCount(), 9);

        QSignalSpy fixing(m_list.get(), &ProcDataList::isFixingChanged);
        const QList<QVariant> result = fixToTheEnd(*m_list, false);
        QCOMPARE(result.value(0).toUInt(), 3u);
        QCOMPARE(result.value(1).toULongLong(), 2200u);
        QCOMPARE(m_list->fixCount(), 3u);
        QCOMPARE(m_list->fixMemory(), 2200u);
        QCOMPARE(fixing.size(), 2);
        QCOMPARE(m_fakes.services->stopped,
                 (std::vector<std::string>{"cups-dependent.service", "cups.service",
                                           "cups-browsed.service"}));
        QCOMPARE(m_fakes.procs->terminated, (std::vector<ProcessId>{100}));
        QCOMPARE(m_fakes.services->managersOpened, 1); // one connection for the whole fix
        // Filled again from the system: what closed is gone, the rest has its default ticks.
        QCOMPARE(names(*m_list),
                 (QStringList{QStringLiteral("Advice"), QStringLiteral("locked.service"),
                              QStringLiteral("stuck"), QStringLiteral("Optional"),
                              QStringLiteral("spooler.service"), QStringLiteral("player")}));
    }

    void releasingMemoryCountsOnceEvenWithNothingTicked()
    {
        m_fakes.procs->procs[40] = {"/usr/bin/a", 1};
        m_fakes.workingSets->released[40] = 4000;
        // The machine's free memory grows by far more meanwhile; only what 40 gave up counts.
        MemoryStatus before, after;
        before.freePhysBytes = 1000;
        after.freePhysBytes = 9000000;
        m_fakes.memory->script({{true, before}, {true, after}});
        const QList<QVariant> result = fixToTheEnd(*m_list, true);
        QCOMPARE(result.value(0).toUInt(), 1u);
        QCOMPARE(result.value(1).toULongLong(), 4000u);
        QCOMPARE(m_fakes.memory->sleeps(), (std::vector<uint32_t>{vb::procs::kReleasePauseMs}));
        QCOMPARE(m_fakes.workingSets->emptied(), (std::vector<ProcessId>{40}));
        // Nothing paged out is no gain, whatever free memory did, and still one entry.
        m_fakes.workingSets->released.clear();
        QCOMPARE(fixToTheEnd(*m_list, true), (QList<QVariant>{1u, 0ull}));
    }

    void theWorkerMarksItsOwnRowsOnly()
    {
        QList<ProcListItem> rows{row(PK_Process, L"/usr/bin/a", 10), row(PK_Process, L"/b", 20)};
        rows[0].pid = 50;
        rows[0].select = true;
        rows[1].pid = 51;
        m_fakes.procs->procs[50] = {"/usr/bin/a", 10};
        const QList<ProcListItem> shown = rows;
        const auto r = vb::procs::runFix(rows, true, m_fakes.into());
        QCOMPARE(r.count, 2u); // the process and the release
        QVERIFY(rows[0].fixed);
        QVERIFY(!rows[1].fixed);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2].kind, PK_MemoryRelease);
        QVERIFY(rows[2].fixed && !rows[2].select && rows[2].pid == 0);
        QVERIFY(!shown[0].fixed); // the list's copy is untouched
    }

    void unitsThatRequireEachOtherStopOnce()
    {
        for (const char* u : {"a.service", "b.service", "c.service"})
            m_fakes.services->services.push_back(fake::service(u, 70));
        m_fakes.services->dependents = {{"a.service", {"b.service"}},
                                        {"b.service", {"c.service", "a.service"}},
                                        {"c.service", {"a.service"}}};
        vb::procs::ServiceManagerHandle handle(m_fakes.services);
        QVERIFY(vb::procs::stopService(handle, "a.service", 3000));
        QCOMPARE(m_fakes.services->stopped,
                 (std::vector<std::string>{"c.service", "b.service", "a.service"}));
        QVERIFY(handle.stopping.empty());
    }

    void aSecondFixWhileFixingIsDroppedAndListsFixApart()
    {
        // The Office list's worker waits in its memory release until the test lets it go.
        std::promise<void> go;
        std::shared_future<void> released = go.get_future().share();
        m_fakes.workingSets->onEmpty = [released](ProcessId) { released.wait(); };
        m_fakes.procs->procs[60] = {"/usr/bin/a", 1};
        // The Game fix ends 60; the Office release still has 61 to wait in, whichever runs first.
        m_fakes.procs->procs[61] = {"/usr/bin/b", 1};
        auto game = makeList();
        QList<ProcListItem> gameRows{row(PK_Process, L"/usr/bin/a", 7)};
        gameRows[0].pid = 60;
        gameRows[0].select = true;
        game->swapItems(gameRows);

        QSignalSpy officeResult(m_list.get(), &ProcDataList::fixResultChanged);
        m_list->beginFix(true);
        QVERIFY(m_list->isFixing());
        m_list->beginFix(true); // dropped: one fix per list at a time
        QCOMPARE(fixToTheEnd(*game, false), (QList<QVariant>{1u, 7ull}));
        QVERIFY(m_list->isFixing());
        go.set_value();
        QVERIFY(officeResult.wait(10000));
        QVERIFY(!officeResult.wait(200));
        QCOMPARE(officeResult.size(), 1);
        QVERIFY(!m_list->isFixing());
    }
};

QTEST_GUILESS_MAIN(TestProcDataList)
#include "tst_procdatalist.moc"
