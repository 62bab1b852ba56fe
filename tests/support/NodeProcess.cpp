#include "NodeProcess.h"
#include "support/TextFiles.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
void makeFolder(const std::string& path)
{
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part + "/";
        ::mkdir(partial.c_str(), 0700);
    }
}
} // namespace

NodeProcess::NodeProcess(Options options) : m_options(std::move(options)) {}

NodeProcess::~NodeProcess()
{
    if (m_pid > 0 && m_status < 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

bool NodeProcess::start()
{
    makeFolder(m_options.workDir);
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [key, value] : m_options.env)
        env[key] = value;
    std::vector<std::string> envText;
    for (const auto& [key, value] : env)
        envText.push_back(key + "=" + value);

    const std::string out = m_options.workDir + "/stdout.txt";
    const std::string err = m_options.workDir + "/stderr.txt";
    m_pid = ::fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        std::vector<char*> argv{const_cast<char*>(m_options.program.c_str())};
        for (const std::string& a : m_options.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : envText)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (outFd < 0 || errFd < 0 || nullFd < 0 || ::chdir(m_options.workDir.c_str()) != 0)
            ::_exit(127);
        ::dup2(nullFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    return true;
}

bool NodeProcess::running()
{
    if (m_pid <= 0 || m_status >= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

void NodeProcess::signal(int signo)
{
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, signo);
}

int NodeProcess::waitExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_status;
}

std::string NodeProcess::output() const
{
    return readText(m_options.workDir + "/stdout.txt");
}

std::string NodeProcess::errors() const
{
    return readText(m_options.workDir + "/stderr.txt");
}

bool NodeProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (output().find(text) != std::string::npos)
            return true;
        if (!running() || std::chrono::steady_clock::now() >= deadline)
            return output().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string NodeProcess::pavoBinary()
{
    return std::string(PAVO_BIN_DIR) + "/pavo";
}

std::string NodeProcess::standinBinary()
{
    return std::string(PAVO_BIN_DIR) + "/skype-standin";
}

NodeProcess::Options NodeProcess::pavoNode(const std::string& workDir,
                                           std::vector<std::string> args,
                                           const std::string& timeScale)
{
    Options options;
    options.program = pavoBinary();
    options.args = std::move(args);
    options.workDir = workDir;
    const std::string runtime = workDir + "/run";
    makeFolder(runtime);
    options.env = {{"XDG_RUNTIME_DIR", runtime},
                   {"QT_QPA_PLATFORM", "offscreen"},
                   {"PAVO_TIME_SCALE", timeScale},
                   {"ASAN_OPTIONS", "detect_leaks=1"}};
    return options;
}
