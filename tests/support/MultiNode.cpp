#include "MultiNode.h"

#include "platform/FindRecord.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace multi {

namespace {

// Ports below the kernel's ephemeral range (32768 and up by default) are never handed to an
// outgoing connection, so only another test could take one; a lock file per port, held until
// this process ends, keeps the test processes running side by side apart.
constexpr int kFirstTestPort = 20000;
constexpr int kTestPorts = 12000;

bool reservePort(int port)
{
    const std::string folder = "/tmp/pavo-test-ports-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    const std::string path = folder + "/" + std::to_string(port);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true; // the descriptor stays open: the reservation lasts as long as this process
}

bool bindable(int family, int port)
{
    const int s = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return family == AF_INET6; // a machine without IPv6 only needs the IPv4 port
    int rc = -1;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_any;
        rc = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ::close(s);
    return rc == 0;
}

} // namespace

int freePort()
{
    static std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    for (int tries = 0; tries < 1000; ++tries) {
        const int port = kFirstTestPort + static_cast<int>(random() % kTestPorts);
        if (reservePort(port) && bindable(AF_INET, port) && bindable(AF_INET6, port))
            return port;
    }
    ADD_FAILURE() << "no free test port";
    return 0;
}

std::string readFile(const std::string& path)
{
    return readText(path);
}

void writeFile(const std::string& path, const std::string& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    writeText(path, bytes);
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
