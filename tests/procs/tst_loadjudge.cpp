// SPDX-License-Identifier: GPL-3.0-or-later
// The shared white judge is made when the built library loads: looked for in the library the
// host loads, not in a test's own link of the subsystem.
#include "procs/processjudge.h"

#include <QTest>

#include <dlfcn.h>
#include <memory>
#include <unistd.h>

class TestLoadJudge : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theLibraryMakesTheWhiteJudgeWhenItLoads()
    {
        // Kept loaded: Qt Quick comes in with it and leaves exit routines behind.
        void* lib = ::dlopen(VB_BALL_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        QVERIFY2(lib, ::dlerror());
        const auto* judge =
            static_cast<std::shared_ptr<IProcessJudge>*>(::dlsym(lib, "systemWhiteJudge"));
        QVERIFY2(judge, "the library holds no white judge");
        QVERIFY(*judge);
        // It judges on the native backends: this very process is white, another one is not.
        const auto self = static_cast<vb::platform::ProcessId>(::getpid());
        QCOMPARE((*judge)->judge(ProcInfo(self, L"/opt/host/host", 1, nullptr, nullptr)), JR_White);
        QCOMPARE((*judge)->judge(ProcInfo(self + 1, L"/usr/bin/xterm", 1, nullptr, nullptr)),
                 JR_NONE);
    }
};

QTEST_GUILESS_MAIN(TestLoadJudge)
#include "tst_loadjudge.moc"
