// SPDX-License-Identifier: GPL-3.0-or-later
// Judges decide whether a candidate is offered for closing, and under which group; the user
// judges follow the configuration file "pulsar.app" in the application folder.
#pragma once

#include "platform/processes.h"
#include "platform/toplevelwindows.h"
#include "procs/procinfo.h"

#include <QString>

#include <boost/shared_ptr.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QIODevice;

class IProcessJudge
{
public:
    virtual ~IProcessJudge() = default;
    virtual JudgeResult judge(const ProcInfo& info) = 0;
    virtual bool isAvailable() = 0;
    // Called once before and once after every enumeration pass.
    virtual void beginJudge() = 0;
    virtual void endJudge() = 0;
};

class IProcessJudgeWhite : public IProcessJudge
{
public:
    virtual bool isWhite(const ProcInfo& info) = 0;
};

// Never offers the system's own processes, the desktop shell or the host itself.
class JudgeSystemWhite : public IProcessJudgeWhite
{
public:
    // The processes backend names this process and the shell's image; the windows backend
    // finds the shell.
    JudgeSystemWhite(std::shared_ptr<vb::platform::IProcesses> processes,
                     std::shared_ptr<vb::platform::ITopLevelWindows> windows);
    JudgeResult judge(const ProcInfo& info) override;
    bool isAvailable() override { return true; }
    void beginJudge() override {}
    void endJudge() override {}
    bool isWhite(const ProcInfo& info) override;

    // The image path endings that mark the shell: the running shell's image, or, when it
    // cannot be found, the file names of the usual shells and window managers ("/openbox").
    // Taken on first use and kept.
    std::vector<std::wstring> shellPaths();
    vb::platform::ProcessId ownProcessId();
    // Tests change the desktop under the judge; production never does.
    void forgetCachedValues();

private:
    void computeWhiteValues(); // with m_mutex held

    const std::shared_ptr<vb::platform::IProcesses> m_processes;
    const std::shared_ptr<vb::platform::ITopLevelWindows> m_windows;
    // Lists judge on the GUI thread, but the judge is shared: its first use may be anywhere.
    std::mutex m_mutex;
    bool m_known = false;
    std::vector<std::wstring> m_shellPaths;
    vb::platform::ProcessId m_ownPid = 0;
};

enum ConfigFlag : uint {
    CF_Office = 0x1,
    CF_Game = 0x2,
    CF_Optional = 0x10,
};

// One published reading of the configuration file; never changed once published.
class JudgeUserConfig
{
public:
    // Flags of a service key name (compared lower-cased); 0 when absent.
    uint flagsOf(const std::wstring& name) const;
    // Adds a lower-cased key unless present (the earlier line wins). False when present.
    bool add(const QString& key, uint flags);
    size_t size() const { return m_flags.size(); }
    const std::map<QString, uint>& entries() const { return m_flags; }

    // Reads "name=flags" lines from a device opened in text mode. Lines of any other shape
    // are skipped; skipped (if given) counts them.
    static boost::shared_ptr<JudgeUserConfig> read(QIODevice& in, int* skipped = nullptr);

private:
    std::map<QString, uint> m_flags;
};

// Reads the user's own "pulsar.app" (XDG config folder) when there is one, else "%1/pulsar.app"
// of the application folder, publishes it as the current configuration
// and returns it; an empty pointer (and the previous configuration stays) when the file
// cannot be opened.
boost::shared_ptr<JudgeUserConfig> loadUserConfig();
// The configuration the judges take at the start of a pass. Only read and replaced through
// boost::atomic_load / boost::atomic_store; empty until a file was read.
extern boost::shared_ptr<JudgeUserConfig> currentUserConfig;

// Services by the configuration's flags for one mode; every other windowed process is optional.
class JudgeUserMode : public IProcessJudge
{
public:
    explicit JudgeUserMode(uint modeFlag) : m_mode(modeFlag) {}
    JudgeResult judge(const ProcInfo& info) override;
    bool isAvailable() override { return true; }
    void beginJudge() override;
    void endJudge() override;
    bool holdsConfig() const { return m_config != nullptr; }

private:
    uint m_mode;
    boost::shared_ptr<JudgeUserConfig> m_config; // only during a pass
};

class JudgeUserOffice : public JudgeUserMode
{
public:
    JudgeUserOffice() : JudgeUserMode(CF_Office) {}
};

class JudgeUserGame : public JudgeUserMode
{
public:
    JudgeUserGame() : JudgeUserMode(CF_Game) {}
};
