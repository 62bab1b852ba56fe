#include "app/CPropatyHotLine.h"

#include "app/PartyKeyStore.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::string_view kSystem = "SYSTEM";
constexpr std::string_view kSkype = "SKYPE";
constexpr std::string_view kTcp = "TCP";

CPropatyHotLine* g_instance = nullptr;

std::string sectionName(int position)
{
    char name[24];
    std::snprintf(name, sizeof name, "REC%d", position);
    return name;
}

} // namespace

std::string getIniFileName()
{
    return plat::joinPath(plat::currentFolder(), "Pavo.ini");
}

CPropatyHotLine::CPropatyHotLine() : CPropatyHotLine(plat::currentFolder()) {}

CPropatyHotLine::CPropatyHotLine(std::string workingFolder)
    : m_workingFolder(std::move(workingFolder)),
      m_iniFile(plat::joinPath(m_workingFolder, "Pavo.ini")),
      m_recvFolder(plat::joinPath(m_workingFolder, "RECV")),
      m_sendFolder(plat::joinPath(m_workingFolder, "SEND"))
{
    // Failures are not reported here: the stores that use the folders fail visibly later.
    // What the node keeps (received files, the catalog) is its user's alone.
    plat::makePrivateFolders(m_sendFolder);
    plat::makePrivateFolders(m_recvFolder);
    plat::makePrivateFolders(plat::joinPath(m_workingFolder, "CATALOG"));
    g_instance = this;
}

CPropatyHotLine::~CPropatyHotLine()
{
    if (g_instance == this)
        g_instance = nullptr;
}

CPropatyHotLine* CPropatyHotLine::instance()
{
    return g_instance;
}

void CPropatyHotLine::load()
{
    const plat::IniFile ini(m_iniFile);
    setPartyName(ini.getString(kSystem, "PARTY", ""));
    setNodeName(ini.getString(kSystem, "NAME", ""));
    setLimitDay(ini.getInt(kSystem, "LIMITDAY", 3));
    setWindow(ini.getInt(kSystem, "WINDOW", 0));
    setListenPort(ini.getInt(kSystem, "LISTENPORT", kDefaultTcpPort));
    setSendFolder(plat::joinPath(m_workingFolder, "SEND"));
    setRecvFolder(plat::joinPath(m_workingFolder, "RECV"));
    loadConnections();
    loadPartyKey();
}

void CPropatyHotLine::loadPartyKey()
{
    m_partyKey = PartyKeyStore(m_iniFile, m_workingFolder).load(getPartyName());
    if (m_partyKey.state == PartyKeyStore::State::Missing)
        std::fprintf(stderr, "pavo: %s; TCP connections stay off until then\n",
                     m_partyKey.problem.c_str());
}

void CPropatyHotLine::loadConnections()
{
    const plat::IniFile ini(m_iniFile);
    // getInt saturates, so a huge or negative count is harmless here.
    const int sections = std::min(ini.getInt(kSystem, "CONNECTNUM", 0), kMaxConnections);
    int accepted = 0;
    for (int p = 1; p <= sections; ++p) {
        const std::string section = sectionName(p);
        const std::string name = ini.getString(section, "NAME", "");
        const std::string trs = ini.getString(section, "TRS", "");
        const std::string skypeId = ini.getString(section, "SKYPEID", "");
        const std::string hostName = ini.getString(section, "HOSTNAME", "");
        const std::string comment = ini.getString(section, "COMMENT", "");
        if (name.empty() || trs.empty())
            continue;
        const bool skype = trs == kSkype;
        if ((skype && skypeId.empty()) || (trs == kTcp && hostName.empty()))
            continue;
        addConnect(accepted, name);
        setConnectMethod(accepted, trs);
        if (skype)
            setSkypeId(accepted, skypeId);
        else
            setHostName(accepted, hostName);
        setComment(accepted, comment);
        ++accepted;
    }
}

void CPropatyHotLine::save()
{
    plat::IniFile ini(m_iniFile);
    ini.writeString(kSystem, "PARTY", getPartyName());
    ini.writeString(kSystem, "NAME", getNodeName());
    ini.writeInt(kSystem, "LIMITDAY", getLimitDay());
    ini.writeInt(kSystem, "WINDOW", getWindow());
    ini.writeInt(kSystem, "LISTENPORT", getListenPort());
    const int count = getConnectCount();
    ini.writeInt(kSystem, "CONNECTNUM", count);
    for (int i = 0; i < count; ++i) {
        const std::string section = sectionName(i + 1);
        const std::string method = getConnectMethod(i);
        const bool skype = method == kSkype;
        ini.writeString(section, "NAME", getConnectNodeName(i));
        ini.writeString(section, "TRS", method);
        ini.writeString(section, "SKYPEID", skype ? getSkypeId(i) : std::string());
        ini.writeString(section, "HOSTNAME", skype ? std::string() : getAddress(i));
        ini.writeString(section, "COMMENT", getComment(i));
    }
}

std::string CPropatyHotLine::getRecvFolder()
{
    return m_recvFolder;
}

std::string CPropatyHotLine::getSendFolder()
{
    return m_sendFolder;
}

std::string CPropatyHotLine::getComment(int)
{
    return {};
}

std::string CPropatyHotLine::getAddress(int)
{
    return {};
}

std::string CPropatyHotLine::getSkypeId(int)
{
    return {};
}

std::string CPropatyHotLine::getConnectMethod(int)
{
    return {};
}

int CPropatyHotLine::getConnectCount()
{
    return 0;
}

std::string CPropatyHotLine::getNodeName()
{
    return {};
}

std::string CPropatyHotLine::getConnectNodeName(int)
{
    return {};
}

int CPropatyHotLine::isConnectSkypeId(const std::string&)
{
    return 0;
}

std::string CPropatyHotLine::getPartyName()
{
    return {};
}

int CPropatyHotLine::getLimitDay()
{
    return 0;
}

void CPropatyHotLine::setComment(int, const std::string&) {}
void CPropatyHotLine::setRecvFolder(const std::string&) {}
void CPropatyHotLine::setSendFolder(const std::string&) {}
void CPropatyHotLine::setHostName(int, const std::string&) {}
void CPropatyHotLine::setSkypeId(int, const std::string&) {}
void CPropatyHotLine::setConnectMethod(int, const std::string&) {}
void CPropatyHotLine::addConnect(int, const std::string&) {}
void CPropatyHotLine::setNodeName(const std::string&) {}
void CPropatyHotLine::setPartyName(const std::string&) {}
void CPropatyHotLine::setLimitDay(int) {}
