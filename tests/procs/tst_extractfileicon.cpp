// SPDX-License-Identifier: GPL-3.0-or-later
// Application icons from desktop entries and the icon theme, in private data folders.
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

    static void write(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    static void png(const QString& path, int size)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QImage img(size, size, QImage::Format_ARGB32);
        img.fill(Qt::green);
        QVERIFY(img.save(path, "PNG"));
    }
    QString exe(const QString& name)
    {
        const QString p = m_bin + QLatin1Char('/') + name;
        write(p, "#!/bin/sh\n");
        QFile::setPermissions(p, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        return p;
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
        write(
            theme + QStringLiteral("/index.theme"),
            "[Icon "
            "Theme]\nName=Hicolor\nDirectories=16x16/apps,48x48/apps,48x48@2/apps,256x256/"
            "apps,48x48/actions\n\n"
            "[16x16/apps]\nSize=16\n\n[48x48/apps]\nSize=48\n\n[48x48@2/apps]\nSize=48\nScale=2\n\n"
            "[256x256/apps]\nSize=256\n\n[48x48/actions]\nSize=48\n");
        png(theme + QStringLiteral("/16x16/apps/vbt-editor.png"), 16);
        png(theme + QStringLiteral("/48x48/apps/vbt-editor.png"), 48);
        png(theme + QStringLiteral("/256x256/apps/vbt-editor.png"), 256);
        png(theme + QStringLiteral("/256x256/apps/vbt-big.png"), 256);
        png(theme + QStringLiteral("/48x48/actions/vbt-action.png"), 48);
        png(m_system + QStringLiteral("/pixmaps/vbt-pixmap.png"), 32);
        png(m_dir.filePath(QStringLiteral("absolute.png")), 32);

        write(m_system + QStringLiteral("/applications/vbt-editor.desktop"),
              "[Desktop Entry]\nType=Application\nName=Editor\nExec=\"" +
                  exe(QStringLiteral("editor")).toUtf8() +
                  "\" --new %F\nIcon=vbt-editor\n[Desktop Action new]\nExec=other\nIcon=vbt-big\n");
        exe(QStringLiteral("viewer"));
        write(m_system + QStringLiteral("/applications/kde/vbt-viewer.desktop"),
              "[Desktop Entry]\nType=Application\nExec=env LANG=C viewer %u\nIcon=vbt-big\n");
        exe(QStringLiteral("paint"));
        write(m_system + QStringLiteral("/applications/vbt-paint.desktop"),
              "[Desktop Entry]\nType=Application\nExec=paint\nIcon=" +
                  m_dir.filePath(QStringLiteral("absolute.png")).toUtf8() + "\n");
        exe(QStringLiteral("oldpix"));
        write(m_system + QStringLiteral("/applications/vbt-oldpix.desktop"),
              "[Desktop Entry]\nType=Application\nExec=oldpix\nIcon=vbt-pixmap\n");
        exe(QStringLiteral("noicon"));
        write(m_system + QStringLiteral("/applications/vbt-noicon.desktop"),
              "[Desktop Entry]\nType=Application\nExec=noicon\nIcon=vbt-missing\n");
        exe(QStringLiteral("actiononly"));
        write(m_system + QStringLiteral("/applications/vbt-actiononly.desktop"),
              "[Desktop Entry]\nType=Application\nExec=actiononly\nIcon=vbt-action\n");
        // The user's own entry shadows the system's one of the same id.
        exe(QStringLiteral("shadowed"));
        write(m_system + QStringLiteral("/applications/vbt-shadowed.desktop"),
              "[Desktop Entry]\nType=Application\nExec=shadowed\nIcon=vbt-big\n");
        write(m_home + QStringLiteral("/applications/vbt-shadowed.desktop"),
              "[Desktop Entry]\nType=Application\nExec=shadowed\nIcon=vbt-editor\n");
        // Broken entries are skipped.
        write(m_system + QStringLiteral("/applications/vbt-broken.desktop"),
              QByteArray("\0\xff[Desktop Entry\nExec=\"", 22));
        write(m_system + QStringLiteral("/applications/vbt-hidden.desktop"),
              "[Desktop Entry]\nType=Application\nExec=hiddenapp\nIcon=vbt-editor\nHidden=true\n");
        // Found by the entry's name when its Exec says nothing useful.
        write(m_system + QStringLiteral("/applications/vbt-byname.desktop"),
              "[Desktop Entry]\nType=Application\nExec=/nonexistent/launcher\nIcon=vbt-big\n");
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
