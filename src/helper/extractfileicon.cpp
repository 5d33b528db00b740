// SPDX-License-Identifier: GPL-3.0-or-later
#include "helper/extractfileicon.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace {

struct DesktopIndex
{
    QHash<QString, QString> byExec; // canonical executable path -> Icon value
    QHash<QString, QString> byName; // lower-case executable or entry name -> Icon value
};

std::mutex g_mutex;
bool g_indexed = false;
DesktopIndex g_index;
QHash<QString, QString> g_answers;

QStringList dataDirs()
{
    QStringList dirs;
    const QByteArray home = qgetenv("XDG_DATA_HOME");
    dirs << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share")
                            : QFile::decodeName(home));
    const QByteArray sys = qgetenv("XDG_DATA_DIRS");
    const QString list =
        sys.isEmpty() ? QStringLiteral("/usr/local/share:/usr/share") : QFile::decodeName(sys);
    for (const QString& d : list.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << d;
    return dirs;
}

// The keys of the [Desktop Entry] group (or of another group), without locale variants.
QHash<QString, QString> readGroup(const QString& path, const QString& group, int maxBytes = 1 << 20)
{
    QHash<QString, QString> keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text) || f.size() > maxBytes)
        return keys;
    bool in = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            in = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        if (!in || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(eq + 1).trimmed());
    }
    return keys;
}

// The program an Exec line starts: its first word, past any "env VAR=value" prefix.
QString programOf(const QString& exec)
{
    QStringList words;
    QString cur;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (c == QLatin1Char('\\') && quoted && i + 1 < exec.size()) {
            cur += exec[++i];
        } else if (c.isSpace() && !quoted) {
            if (any || !cur.isEmpty())
                words << cur;
            cur.clear();
            any = false;
        } else {
            cur += c;
        }
    }
    if (any || !cur.isEmpty())
        words << cur;
    qsizetype i = 0;
    if (i < words.size() &&
        (words[i] == QLatin1String("env") || words[i] == QLatin1String("/usr/bin/env"))) {
        ++i;
        while (i < words.size() &&
               (words[i].contains(QLatin1Char('=')) || words[i].startsWith(QLatin1Char('-'))))
            ++i;
    }
    return i < words.size() ? words[i] : QString();
}

QString canonicalProgram(const QString& program)
{
    if (program.isEmpty())
        return QString();
    QString path = program;
    if (!QDir::isAbsolutePath(path))
        path = QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return QString();
    const QString canon = QFileInfo(path).canonicalFilePath();
    return canon.isEmpty() ? path : canon;
}

void buildIndex()
{
    g_index = DesktopIndex();
    QSet<QString> seenIds;
    for (const QString& dir : dataDirs()) {
        const QString apps = dir + QStringLiteral("/applications");
        QDirIterator it(apps, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            // The same entry id in a later folder is shadowed by the earlier one.
            const QString id =
                file.mid(apps.size() + 1).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seenIds.contains(id))
                continue;
            seenIds.insert(id);
            const QHash<QString, QString> e =
                readGroup(file, QStringLiteral("Desktop Entry"), 256 * 1024);
            const QString icon = e.value(QStringLiteral("Icon"));
            if (icon.isEmpty() || e.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
                e.value(QStringLiteral("Type"), QStringLiteral("Application")) !=
                    QLatin1String("Application"))
                continue;
            for (const QString& key : {QStringLiteral("TryExec"), QStringLiteral("Exec")}) {
                const QString program = programOf(e.value(key));
                const QString canon = canonicalProgram(program);
                if (!canon.isEmpty() && !g_index.byExec.contains(canon))
                    g_index.byExec.insert(canon, icon);
                const QString base = QFileInfo(program).fileName().toLower();
                if (!base.isEmpty() && !g_index.byName.contains(base))
                    g_index.byName.insert(base, icon);
            }
            const QString wmClass = e.value(QStringLiteral("StartupWMClass")).toLower();
            if (!wmClass.isEmpty() && !g_index.byName.contains(wmClass))
                g_index.byName.insert(wmClass, icon);
            QString entryName = QFileInfo(file).completeBaseName().toLower();
            if (!g_index.byName.contains(entryName))
                g_index.byName.insert(entryName, icon);
        }
    }
    g_indexed = true;
}

QStringList iconBases()
{
    QStringList bases{QDir::homePath() + QStringLiteral("/.icons")};
    for (const QString& d : dataDirs())
        bases << d + QStringLiteral("/icons");
    return bases;
}

QStringList imageSuffixes()
{
    QStringList s{QStringLiteral("png"), QStringLiteral("xpm")};
    // Only offer vector icons where the views can draw them.
    if (QImageReader::supportedImageFormats().contains("svg"))
        s << QStringLiteral("svg");
    return s;
}

// Looks for name in one theme, the size nearest 48 pixels first; fills inherits.
QString findInTheme(const QString& theme, const QString& name, QStringList& inherits)
{
    struct Dir
    {
        QString path;
        int distance;
    };
    QList<Dir> dirs;
    for (const QString& base : iconBases()) {
        const QString root = base + QLatin1Char('/') + theme;
        const QHash<QString, QString> head =
            readGroup(root + QStringLiteral("/index.theme"), QStringLiteral("Icon Theme"));
        if (head.isEmpty())
            continue;
        if (inherits.isEmpty())
            inherits =
                head.value(QStringLiteral("Inherits")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& d : head.value(QStringLiteral("Directories"))
                                    .split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            // Scale 1 only; application folders first, then by the size nearest 48 pixels
            // (the size is the folder's name; below 32 pixels only as a last resort).
            if (d.contains(QLatin1Char('@')))
                continue;
            const int size = d.section(QLatin1Char('x'), 0, 0).toInt();
            const int distance = (size > 0 ? std::abs(size - 48) + (size < 32 ? 100 : 0) : 60) +
                                 (d.contains(QLatin1String("apps")) ? 0 : 1000);
            dirs.push_back({root + QLatin1Char('/') + d, distance});
        }
    }
    std::stable_sort(dirs.begin(), dirs.end(),
                     [](const Dir& a, const Dir& b) { return a.distance < b.distance; });
    const QStringList suffixes = imageSuffixes();
    for (const QString& suffix : suffixes)
        for (const Dir& d : dirs) {
            QString f = d.path + QLatin1Char('/') + name + QLatin1Char('.') + suffix;
            if (QFileInfo::exists(f))
                return f;
        }
    return QString();
}

QString resolveIcon(const QString& icon)
{
    if (QDir::isAbsolutePath(icon))
        return QFileInfo(icon).isFile() ? icon : QString();
    QStringList queue;
    const QString userTheme = QIcon::themeName();
    if (!userTheme.isEmpty())
        queue << userTheme;
    QSet<QString> tried;
    while (!queue.isEmpty() && tried.size() < 16) {
        const QString theme = queue.takeFirst();
        if (tried.contains(theme))
            continue;
        tried.insert(theme);
        QStringList inherits;
        QString f = findInTheme(theme, icon, inherits);
        if (!f.isEmpty())
            return f;
        queue << inherits;
    }
    if (!tried.contains(QStringLiteral("hicolor"))) {
        QStringList ignored;
        QString f = findInTheme(QStringLiteral("hicolor"), icon, ignored);
        if (!f.isEmpty())
            return f;
    }
    for (const QString& d : dataDirs())
        for (const QString& suffix : imageSuffixes()) {
            QString f = d + QStringLiteral("/pixmaps/") + icon + QLatin1Char('.') + suffix;
            if (QFileInfo::exists(f))
                return f;
        }
    return QString();
}

} // namespace

QString ExtractFileIcon::fileIcon(const QString& executablePath, const QString& unused)
{
    Q_UNUSED(unused);
    if (executablePath.isEmpty())
        return QString();
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto known = g_answers.constFind(executablePath);
    if (known != g_answers.constEnd())
        return *known;
    if (!g_indexed)
        buildIndex();
    QString canon = QFileInfo(executablePath).canonicalFilePath();
    if (canon.isEmpty())
        canon = executablePath;
    QString icon = g_index.byExec.value(canon);
    if (icon.isEmpty())
        icon = g_index.byExec.value(executablePath);
    if (icon.isEmpty())
        icon = g_index.byName.value(QFileInfo(executablePath).fileName().toLower());
    QString file = icon.isEmpty() ? QString() : resolveIcon(icon);
    g_answers.insert(executablePath, file);
    return file;
}

void ExtractFileIcon::clearCache()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_indexed = false;
    g_index = DesktopIndex();
    g_answers.clear();
}
