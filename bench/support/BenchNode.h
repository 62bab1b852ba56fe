#pragma once

#include "app/NodeOptions.h"
#include "app/NodeSettings.h"
#include "platform/TlsContext.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

class CTcpA2AModel;
class PavoNode;

// What the benchmarks that run nodes share: the settings of a node and its peers, the whole node
// built over them, the test file, the two node processes and the figures they report through
// pipes.
namespace bench {

// The one connection of a benchmark node.
struct Side
{
    std::string node;
    std::string peer;
    std::string party = "Bench";
    std::string method = "TCP"; // or "SKYPE"
    std::string peerSkypeId{};
    int peerPort = 0;
};

// Gives a node the party key (ready to use), or none when key is empty.
void usePartyKey(CPropatyHotLine& settings, const std::optional<plat::TlsContext::Key>& key);

// A peer on loopback: "127.0.0.1", with "/port" when port is not 0.
ConnectionRecord loopbackPeer(const std::string& name, int port = 0);
// n loopback ports free now (bound to 0, read back, released), for nodes that must know each
// other's port before they start.
std::vector<int> freePorts(int n);
// The node and party names; the node listens on any free port (0).
void configure(NodeSettings& settings, const std::string& node, const std::string& party);
// Those of side, with its one connection: a TCP peer on loopback or a Skype contact.
void configure(NodeSettings& settings, const Side& side);

// The options of a benchmark node: the program's, without looking for a Skype client.
NodeOptions nodeOptions();
// Writes folder's Pavo.ini with what write sets on a fresh node's settings, then builds the whole
// node over folder as the program does (folder watch, catalog, transports, periodic work); it
// starts off-line.
std::unique_ptr<PavoNode> startNode(const std::string& folder,
                                    const std::function<void(NodeSettings&)>& write,
                                    const NodeOptions& options = nodeOptions());
// The node's TCP peer model; the node builds it at its start and keeps it until shutdown().
CTcpA2AModel& tcpModel(PavoNode& node);
// Whether node's catalog holds origin's file complete.
bool completeAt(PavoNode& node, const std::string& origin, const std::string& file);
// Reports node's listening port on portFd, then serves until a peer has connected and every
// connection has ended again (or timeoutMs has passed).
void serveOnePeer(PavoNode& node, int portFd, int timeoutMs);
// Waits until origin's file is announced at node, then until it is complete there: whether it
// completed, and the seconds from the announcement.
struct Download
{
    bool complete = false;
    double seconds = 0;
};
Download awaitDownload(PavoNode& node, const std::string& origin, const std::string& file,
                       int timeoutMs);
// Runs body with the application object a node's event loop needs (one per process).
int withApplication(const char* name, const std::function<int()>& body);

double seconds(std::chrono::steady_clock::time_point from);
double cpuOf(const rusage& ru);
// "<side> cpu … s   peak memory … MiB" of this process.
std::string usage(const char* side);

// Writes all of text to fd (a pipe to the parent).
void report(int fd, const std::string& text);
// Everything until the writers close fd.
std::string readAll(int fd);
// One line from fd without its newline (empty once the writers close fd).
std::string readLine(int fd);
// The diagnostic lines of the nodes would drown the figures.
void silence(bool errorsToo);

// size bytes of a content that differs in every MiB, so a misplaced chunk shows.
bool writeTestFile(const std::string& path, std::uint64_t size);
bool sameFiles(const std::string& a, const std::string& b);
// The pids of the two node processes and what they reported.
struct NodePair
{
    pid_t server = -1;
    pid_t fetcher = -1;
    int port = 0; // what the server announced; 0 when it failed
    std::string figures;
};

// Forks the serving node, which writes its listen port as a line to portFd, then the fetching
// node with that port; both may write figures to reportFd. Returns once both have closed the
// report pipe (the processes still need reap). Each child runs silenced and ends with the
// function's result.
NodePair runNodePair(const std::function<int(int portFd, int reportFd)>& serve,
                     const std::function<int(int port, int reportFd)>& fetch, bool silenceErrors);

// Waits for pid; its CPU seconds, or -1 when it failed or did not exit with 0.
double reap(pid_t pid);

} // namespace bench
