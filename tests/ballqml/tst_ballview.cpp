// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the Qt Quick tests of the ball document with the host environment and the stand-ins
// published under the names the documents use.
#include "ballfakes.h"
#include "helper/hostenvironment.h"
#include "helper/setsmanager.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QSettings>
#include <QStandardPaths>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    void applicationAvailable()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
        s.remove(SkinsList::kSettingKey);
        s.sync();
        m_skins = std::make_unique<SkinsList>();
        m_ball = std::make_unique<FakeBall>(m_skins.get());
    }
    void qmlEngineAvailable(QQmlEngine* engine)
    {
        HostEnvironment::instance().attach(engine);
        QQmlContext* ctx = engine->rootContext();
        ctx->setContextProperty(QStringLiteral("Bv"), m_ball.get());
        ctx->setContextProperty(QStringLiteral("EP"), m_ball.get());
        ctx->setContextProperty(QStringLiteral("FlowDataList"), &m_flow);
        ctx->setContextProperty(QStringLiteral("SkinsList"), m_skins.get());
    }
    void cleanupTestCase()
    {
        QSettings s(SetsManager::userFilePath(), QSettings::IniFormat);
        s.remove(SkinsList::kSettingKey);
    }

private:
    std::unique_ptr<SkinsList> m_skins;
    std::unique_ptr<FakeBall> m_ball;
    FakeFlow m_flow;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_ballview, Setup)
#include "tst_ballview.moc"
