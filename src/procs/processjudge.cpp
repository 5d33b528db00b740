// SPDX-License-Identifier: GPL-3.0-or-later
#include "procs/processjudge.h"

#include "core/logging.h"
#include "helper/setsgeneral.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <mutex>

boost::shared_ptr<JudgeUserConfig> currentUserConfig;

namespace {
// Where no shell can be found (no display yet, a manager that hides itself), these image names
// stand for it: the usual desktop shells and window managers.
const wchar_t* const kKnownShells[] = {L"/gnome-shell",
                                       L"/plasmashell",
                                       L"/kwin_x11",
                                       L"/kwin_wayland",
                                       L"/xfwm4",
                                       L"/xfdesktop",
                                       L"/xfce4-panel",
                                       L"/openbox",
                                       L"/mutter",
                                       L"/marco",
                                       L"/muffin",
                                       L"/cinnamon",
                                       L"/mate-panel",
                                       L"/lxpanel",
                                       L"/lxqt-panel",
                                       L"/pcmanfm",
                                       L"/fluxbox",
                                       L"/icewm",
                                       L"/i3",
                                       L"/sway",
                                       L"/weston",
                                       L"/enlightenment",
                                       L"/budgie-wm",
                                       L"/metacity",
                                       L"/xfce4-session",
                                       L"/gnome-session-binary",
                                       L"/ksmserver"};

bool endsWithNoCase(const std::wstring& text, const std::wstring& tail)
{
    if (text.size() < tail.size())
        return false;
    const QString a = QString::fromWCharArray(text.data() + (text.size() - tail.size()),
                                              static_cast<qsizetype>(tail.size()));
    return a.compare(QString::fromStdWString(tail), Qt::CaseInsensitive) == 0;
}

// Longer lines are no service names; their remains must not pass for lines of their own.
constexpr qint64 kMaxLineBytes = 4096;
} // namespace

JudgeSystemWhite::JudgeSystemWhite(std::shared_ptr<vb::platform::IProcesses> processes,
                                   std::shared_ptr<vb::platform::ITopLevelWindows> windows)
    : m_processes(std::move(processes)), m_windows(std::move(windows))
{}

void JudgeSystemWhite::computeWhiteValues()
{
    if (m_known)
        return;
    m_known = true;
    m_shellPaths.clear();
    m_ownPid = 0;
    if (m_processes)
        m_ownPid = m_processes->currentProcessId();
    if (m_windows && m_processes)
        if (const vb::platform::ProcessId shell = m_windows->shellProcessId()) {
            const std::string path = m_processes->imagePath(shell);
            if (!path.empty())
                m_shellPaths.push_back(
                    QFile::decodeName(QByteArray::fromStdString(path)).toStdWString());
        }
    if (m_shellPaths.empty())
        for (const wchar_t* n : kKnownShells)
            m_shellPaths.emplace_back(n);
}

std::vector<std::wstring> JudgeSystemWhite::shellPaths()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    computeWhiteValues();
    return m_shellPaths;
}

vb::platform::ProcessId JudgeSystemWhite::ownProcessId()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    computeWhiteValues();
    return m_ownPid;
}

void JudgeSystemWhite::forgetCachedValues()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_known = false;
}

bool JudgeSystemWhite::isWhite(const ProcInfo& info)
{
    if (info.pid < 5)
        return true;
    if (!info.isService)
        for (const std::wstring& shell : shellPaths())
            if (endsWithNoCase(info.path, shell))
                return true;
    return info.pid == ownProcessId();
}

JudgeResult JudgeSystemWhite::judge(const ProcInfo& info)
{
    return isWhite(info) ? JR_White : JR_NONE;
}

uint JudgeUserConfig::flagsOf(const std::wstring& name) const
{
    const auto it = m_flags.find(QString::fromStdWString(name).toLower());
    return it == m_flags.end() ? 0u : it->second;
}

bool JudgeUserConfig::add(const QString& key, uint flags)
{
    return m_flags.emplace(key.toLower(), flags).second;
}

boost::shared_ptr<JudgeUserConfig> JudgeUserConfig::read(QIODevice& in, int* skipped)
{
    auto config = boost::shared_ptr<JudgeUserConfig>(new JudgeUserConfig);
    int bad = 0;
    bool first = true;
    while (!in.atEnd()) {
        QByteArray line = in.readLine(kMaxLineBytes);
        if (line.isEmpty() && !in.atEnd()) {
            ++bad; // a read error: nothing more will come
            break;
        }
        if (!line.endsWith('\n') && !in.atEnd()) {
            // Over-long: drop it with the rest of its line.
            ++bad;
            while (!in.atEnd()) {
                const QByteArray more = in.readLine(kMaxLineBytes);
                if (more.isEmpty() || more.endsWith('\n'))
                    break;
            }
            first = false;
            continue;
        }
        if (first && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3); // editors' byte-order mark is no part of the first name
        first = false;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8.decode(line);
        if (utf8.hasError()) {
            ++bad;
            continue;
        }
        const QStringList parts =
            text.split(QLatin1Char('='), Qt::KeepEmptyParts, Qt::CaseSensitive);
        if (parts.size() != 2) {
            if (!text.trimmed().isEmpty())
                ++bad;
            continue;
        }
        bool ok = false;
        const uint flags = parts[1].trimmed().toUInt(&ok, 10);
        if (!ok) {
            ++bad;
            continue;
        }
        config->add(parts[0], flags);
    }
    if (skipped)
        *skipped = bad;
    return config;
}

boost::shared_ptr<JudgeUserConfig> loadUserConfig()
{
    // The user's own file, when there is one, instead of the application folder's.
    QFile f(SetsGeneral::userConfigPath(QStringLiteral("pulsar.app")));
    if (!QFileInfo(f.fileName()).isFile() || !f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        f.setFileName(QStringLiteral("%1/pulsar.app").arg(SetsGeneral::appPath()));
        // Only a regular file: opening a FIFO would block the sampling worker for good.
        if (!QFileInfo(f.fileName()).isFile() || !f.open(QIODevice::ReadOnly | QIODevice::Text))
            return boost::shared_ptr<JudgeUserConfig>();
    }
    int skipped = 0;
    boost::shared_ptr<JudgeUserConfig> config = JudgeUserConfig::read(f, &skipped);
    if (skipped > 0)
        qCWarning(lcProcs) << "[pulsar.app]" << skipped << "malformed lines skipped,"
                           << config->size() << "entries read";
    boost::atomic_store(&currentUserConfig, config);
    return config;
}

JudgeResult JudgeUserMode::judge(const ProcInfo& info)
{
    if (!info.isService)
        return JR_Optional;
    if (!m_config)
        return JR_NONE;
    const uint f = m_config->flagsOf(info.serviceName);
    if (!(f & m_mode))
        return JR_NONE;
    return (f & CF_Optional) ? JR_Optional : JR_Advice;
}

void JudgeUserMode::beginJudge()
{
    m_config = boost::atomic_load(&currentUserConfig);
}

void JudgeUserMode::endJudge()
{
    m_config.reset();
}
