#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

// A real program (a pavo node, the messaging-client stand-in) started for a test in its own
// working folder, with its standard output and error captured to files there.
class NodeProcess
{
public:
    struct Options
    {
        std::string program;                    // absolute path
        std::vector<std::string> args;          // without the program name
        std::string workDir;                    // the process's current folder (created)
        std::map<std::string, std::string> env; // added to (or replacing in) the environment
    };

    explicit NodeProcess(Options options);
    // Ends the process with SIGKILL if it still runs.
    ~NodeProcess();
    NodeProcess(const NodeProcess&) = delete;
    NodeProcess& operator=(const NodeProcess&) = delete;

    bool start();
    bool running();
    pid_t pid() const { return m_pid; }

    // Sends a signal; waitExit then collects the status.
    void signal(int signo);
    // The exit code (or 128 + signal); -1 when the process did not end within the timeout.
    int waitExit(std::chrono::milliseconds timeout);

    std::string output() const; // standard output so far
    std::string errors() const; // standard error so far
    // Waits until standard output contains text; false on timeout or when the process ended first.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);

    // Path of the pavo and stand-in binaries of this build.
    static std::string pavoBinary();
    static std::string standinBinary();

    // Options for a headless pavo node in workDir with its own runtime folder (workDir/run),
    // PAVO_TIME_SCALE=timeScale, and the given arguments.
    static Options pavoNode(const std::string& workDir, std::vector<std::string> args,
                            const std::string& timeScale = "1");

private:
    Options m_options;
    pid_t m_pid = -1;
    int m_status = -1;
};
