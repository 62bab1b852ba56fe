#include "MultiNode.h"

#include "platform/FindRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace multi {

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned x = seed;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return bytes;
}

std::uintmax_t sizeOf(const std::string& path)
{
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return condition();
}

std::vector<CatalogRecord> catalogRecords(const std::string& workDir)
{
    const std::string bytes = readFile(workDir + "/CATALOG/catalog.dat");
    std::vector<CatalogRecord> records;
    for (std::size_t at = 0; at + CatalogRecord::Size <= bytes.size(); at += CatalogRecord::Size) {
        CatalogRecord r;
        std::copy_n(bytes.data() + at, CatalogRecord::Size, r.bytes.begin());
        records.push_back(r);
    }
    return records;
}

bool hasEntry(const std::string& workDir, const std::string& fileName)
{
    const auto records = catalogRecords(workDir);
    return std::any_of(records.begin(), records.end(),
                       [&](const CatalogRecord& r) { return r.fileNameUtf8() == fileName; });
}

std::optional<CatalogRecord> completeRecord(const std::string& path,
                                            const catalog::RegistrationContext& context)
{
    plat::FindRecord description;
    if (plat::statFindRecord(path, description) != plat::FindResult::Ok)
        return std::nullopt;
    auto record = catalog::makeNewRecord(description, context);
    if (!record)
        return std::nullopt;
    record->setCompleteFlag(1);
    record->setBytesReceived(record->fileSize());
    catalog::stampChecksum(*record);
    return record;
}

IniPeer IniPeer::tcp(const std::string& name, int port)
{
    return {name, "TCP", "127.0.0.1/" + std::to_string(port)};
}

IniPeer IniPeer::skype(const std::string& name, const std::string& skypeId)
{
    return {name, "SKYPE", skypeId};
}

std::string pavoIni(const std::string& party, const std::string& name, int listenPort,
                    const std::vector<IniPeer>& peers, const std::string& extraSystem)
{
    std::ostringstream ini;
    ini << "[SYSTEM]\nPARTY=" << party << "\nNAME=" << name << "\nLISTENPORT=" << listenPort << "\n"
        << extraSystem << "CONNECTNUM=" << peers.size() << "\n";
    for (std::size_t i = 0; i < peers.size(); ++i) {
        const IniPeer& p = peers[i];
        ini << "[REC" << i + 1 << "]\nNAME=" << p.name << "\nTRS=" << p.transport << "\n"
            << (p.transport == "TCP" ? "HOSTNAME=" : "SKYPEID=") << p.address << "\n";
    }
    return ini.str();
}

MultiNode::MultiNode(std::string nodeName, std::string folder, int listenPort)
    : name(std::move(nodeName)), dir(std::move(folder)), port(listenPort)
{
}

void MultiNode::configure(const std::string& party, const std::vector<const MultiNode*>& peers,
                          const std::string& extraSystem)
{
    std::vector<IniPeer> lines;
    for (const MultiNode* p : peers)
        lines.push_back(IniPeer::tcp(p->name, p->port));
    configureWith(party, lines, extraSystem);
}

void MultiNode::configureWith(const std::string& party, const std::vector<IniPeer>& peers,
                              const std::string& extraSystem)
{
    writeFile(file("Pavo.ini"), pavoIni(party, name, port, peers, extraSystem));
}

void MultiNode::start(const char* scale)
{
    process = std::make_unique<NodeProcess>(NodeProcess::pavoNode(dir, args, scale));
    ASSERT_TRUE(process->start());
    ASSERT_TRUE(process->waitForOutput("DEBUG_MODE ON", 30s)) << process->errors();
}

int MultiNode::stop()
{
    process->signal(SIGTERM);
    return process->waitExit(60s);
}

void MultiNode::stopIfRunning()
{
    if (process && process->running()) {
        EXPECT_EQ(stop(), 0) << name << ": " << process->errors();
    }
}

} // namespace multi
