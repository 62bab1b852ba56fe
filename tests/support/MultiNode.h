#pragma once

#include "NodeProcess.h"

#include "wire/CatalogRecord.h"
#include "wire/RecordBuilder.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the tests that run several pavo processes share: files in the nodes' folders, free ports,
// settings files and polling until the nodes have done their work.
namespace multi {

// A port for a node of this test: free now, outside the range the kernel gives outgoing
// connections, and reserved against the other test processes until this one ends.
int freePort();

std::string readFile(const std::string& path);
// Creates the missing parent folders first.
void writeFile(const std::string& path, const std::string& bytes);
// size bytes of a repeatable pseudo-random content, so a file cut or shifted anywhere differs.
std::string pattern(std::size_t size, unsigned seed);
// 0 when the file is missing.
std::uintmax_t sizeOf(const std::string& path);

// Polls condition until it holds or timeout passes; the last look decides.
bool waitFor(const std::function<bool()>& condition, std::chrono::seconds timeout);

// The records of workDir/CATALOG/catalog.dat; a torn tail is left out.
std::vector<CatalogRecord> catalogRecords(const std::string& workDir);
bool hasEntry(const std::string& workDir, const std::string& fileName);

// The catalog record of a file a node received complete, as the node that registered it under
// context would have made it; nullopt when the file cannot be described.
std::optional<CatalogRecord> completeRecord(const std::string& path,
                                            const catalog::RegistrationContext& context);

// One configured connection of a settings file.
struct IniPeer
{
    std::string name;
    std::string transport; // "TCP" or "SKYPE"
    std::string address;   // host/port for TCP, the Skype ID otherwise

    static IniPeer tcp(const std::string& name, int port);
    static IniPeer skype(const std::string& name, const std::string& skypeId);
};

// The text of a Pavo.ini; extraSystem holds further "KEY=value\n" lines of [SYSTEM].
std::string pavoIni(const std::string& party, const std::string& name, int listenPort,
                    const std::vector<IniPeer>& peers, const std::string& extraSystem = {});

// One node of a test party: its own working folder (with its runtime folder) and listen port.
struct MultiNode
{
    MultiNode(std::string nodeName, std::string folder, int listenPort = 0);

    std::string name;
    std::string dir;
    int port = 0;
    std::vector<std::string> args{"-D119", "-NOSKYPE"};
    std::unique_ptr<NodeProcess> process;

    std::string file(const std::string& relative) const { return dir + "/" + relative; }

    // Writes Pavo.ini with a TCP connection to each peer on loopback.
    void configure(const std::string& party, const std::vector<const MultiNode*>& peers,
                   const std::string& extraSystem = {});
    // Writes Pavo.ini with the given connections.
    void configureWith(const std::string& party, const std::vector<IniPeer>& peers,
                       const std::string& extraSystem = {});

    // Starts the node with PAVO_TIME_SCALE=scale and waits until it has come up (fails the
    // test otherwise; call through ASSERT_NO_FATAL_FAILURE where the test must stop).
    void start(const char* scale);
    // SIGTERM, then the exit code (-1 when it did not end in time).
    int stop();
    // Stops the node if it still runs and expects an orderly exit: for TearDown.
    void stopIfRunning();
};

} // namespace multi
