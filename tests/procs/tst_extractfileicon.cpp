// SPDX-License-Identifier: GPL-3.0-or-later
// Application icons from desktop entries and the icon theme, in private data folders.
#include "../lib/files.h"
#include "helper/extractfileicon.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

class TestExtractFileIcon : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_home, m_system, m_bin;

    static void png(const QString& path, int size)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage img(size, size, QImage::Format_ARGB32);
        img.fill(Qt::green);
        QVERIFY(img.save(path, "PNG"));
    }
    void exe(const char* name)
    {
        QVERIFY(vb::test::put(m_bin + QLatin1Char('/') + QLatin1String(name), "#!/bin/sh\n",
                              QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_home = m_dir.filePath(QStringLiteral("home-data"));
        m_system = m_dir.filePath(QStringLiteral("system-data"));
        m_bin = m_dir.filePath(QStringLiteral("bin"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_system));
        qputenv("PATH", QFile::encodeName(m_bin) + ":/usr/bin:/bin");
        const QString theme = m_system + QStringLiteral("/icons/hicolor");
        QVERIFY(vb::test::put(
            theme + QStringLiteral("/index.theme"),
            "[Icon "
            "Theme]\nName=Hicolor\nDirectories=16x16/apps,48x48/apps,48x48@2/apps,256x256/"
            "apps,48x48/actions\n\n"
            "[16x16/apps]\nSize=16\n\n[48x48/apps]\nSize=48\n\n[48x48@2/apps]\nSize=48\nScale=2\n\n"
            "[256x256/apps]\nSize=256\n\n[48x48/actions]\nSize=48\n"));
        png(theme + QStringLiteral("/16x16/apps/vbt-editor.png"), 16);
        png(theme + QStringLiteral("/48x48/apps/vbt-editor.png"), 48);
        png(theme + QStringLiteral("/256x256/apps/vbt-editor.png"), 256);
        png(theme + QStringLiteral("/256x256/apps/vbt-big.png"), 256);
        png(theme + QStringLiteral("/48x48/actions/vbt-action.png"), 48);
        png(m_system + QStringLiteral("/pixmaps/vbt-pixmap.png"), 32);
        png(m_dir.filePath(QStringLiteral("absolute.png")), 32);

        const QString apps = m_system + QStringLiteral("/applications/");
        const auto entry = [](const QString& file, const QByteArray& exec, const QByteArray& icon,
                              const QByteArray& more = {}) {
            QVERIFY(vb::test::put(file, "[Desktop Entry]\nType=Application\nExec=" + exec +
                                            "\nIcon=" + icon + "\n" + more));
        };
        entry(apps + QStringLiteral("vbt-editor.desktop"),
              '"' + m_bin.toUtf8() + "/editor\" --new %F", "vbt-editor",
              "Name=Editor\n[Desktop Action new]\nExec=other\nIcon=vbt-big\n");
        entry(apps + QStringLiteral("vbt-paint.desktop"), "paint",
              m_dir.filePath(QStringLiteral("absolute.png")).toUtf8());
        const struct
        {
            const char* id;
            const char* exec;
            const char* icon;
            const char* more;
        } entries[] = {
            {"kde/vbt-viewer", "env LANG=C viewer %u", "vbt-big", ""},
            {"vbt-oldpix", "oldpix", "vbt-pixmap", ""},
            {"vbt-noicon", "noicon", "vbt-missing", ""},
            {"vbt-actiononly", "actiononly", "vbt-action", ""},
            {"vbt-shadowed", "shadowed", "vbt-big", ""},
            {"vbt-hidden", "hiddenapp", "vbt-editor", "Hidden=true\n"},
            // Found by the entry's name when its Exec says nothing useful.
            {"vbt-byname", "/nonexistent/launcher", "vbt-big", ""},
        };
        for (const auto& e : entries)
            entry(apps + QLatin1String(e.id) + QStringLiteral(".desktop"), e.exec, e.icon, e.more);
        for (const char* program :
             {"editor", "viewer", "paint", "oldpix", "noicon", "actiononly", "shadowed"})
            exe(program);
        // The user's own entry shadows the system's one of the same id.
        entry(m_home + QStringLiteral("/applications/vbt-shadowed.desktop"), "shadowed",
              "vbt-editor");
        // Broken entries are skipped.
        QVERIFY(vb::test::put(apps + QStringLiteral("vbt-broken.desktop"),
                              QByteArray("\0\xff[Desktop Entry\nExec=\"", 22)));
        ExtractFileIcon::clearCache();
    }

    void icons_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("icon"); // relative to the temporary folder; empty: none
        QTest::newRow("theme, nearest 48") << "bin/editor"
                                           << "system-data/icons/hicolor/48x48/apps/vbt-editor.png";
        QTest::newRow("env prefix, found in PATH")
            << "bin/viewer"
            << "system-data/icons/hicolor/256x256/apps/vbt-big.png";
        QTest::newRow("absolute icon") << "bin/paint"
                                       << "absolute.png";
        QTest::newRow("pixmaps folder") << "bin/oldpix"
                                        << "system-data/pixmaps/vbt-pixmap.png";
        QTest::newRow("icon not in any theme") << "bin/noicon"
                                               << "";
        QTest::newRow("not among the application icons")
            << "bin/actiononly"
            << "system-data/icons/hicolor/48x48/actions/vbt-action.png";
        QTest::newRow("user entry wins") << "bin/shadowed"
                                         << "system-data/icons/hicolor/48x48/apps/vbt-editor.png";
        QTest::newRow("by entry name") << "elsewhere/vbt-byname"
                                       << "system-data/icons/hicolor/256x256/apps/vbt-big.png";
        QTest::newRow("hidden entry") << "bin/hiddenapp"
                                      << "";
        QTest::newRow("unknown program") << "bin/unknown"
                                         << "";
    }
    void icons()
    {
        QFETCH(QString, program);
        QFETCH(QString, icon);
        const QString got = ExtractFileIcon::fileIcon(m_dir.filePath(program), QString());
        QCOMPARE(got, icon.isEmpty() ? QString() : m_dir.filePath(icon));
        // Asked again: the same answer.
        QCOMPARE(ExtractFileIcon::fileIcon(m_dir.filePath(program), QString()), got);
    }

    void aSymlinkedProgramFindsItsEntry()
    {
        const QString link = m_dir.filePath(QStringLiteral("editor-link"));
        QVERIFY(QFile::link(m_bin + QStringLiteral("/editor"), link));
        QCOMPARE(
            ExtractFileIcon::fileIcon(link, QString()),
            m_dir.filePath(QStringLiteral("system-data/icons/hicolor/48x48/apps/vbt-editor.png")));
    }

    void emptyPathHasNoIcon()
    {
        QVERIFY(ExtractFileIcon::fileIcon(QString(), QString()).isEmpty());
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    TestExtractFileIcon t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_extractfileicon.moc"
