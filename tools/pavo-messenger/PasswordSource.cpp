#include "PasswordSource.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PasswordSource {

namespace {
constexpr std::size_t MaxPassword = 1024;
}

bool readFile(const std::string& path, std::string& password, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = "cannot open the password file " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st = {};
    std::string text;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "the password file " + path + " is not a regular file";
    } else if (st.st_uid != ::geteuid()) {
        error = "the password file " + path + " belongs to another user";
    } else if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        error = "the password file " + path + " has mode " + mode +
                "; others must not read it (chmod 600 " + path + ")";
    } else {
        char buffer[MaxPassword + 2];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0)
            error = "cannot read the password file " + path + ": " + std::strerror(errno);
        else
            text.assign(buffer, std::size_t(n));
    }
    ::close(fd);
    if (!error.empty())
        return false;
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos)
        text.resize(end);
    else if (text.size() > MaxPassword)
        text.clear();
    if (text.empty() || text.size() > MaxPassword) {
        error = "the password file " + path + " holds no password on its first line";
        return false;
    }
    password = std::move(text);
    return true;
}

void readKeyring(const std::string& jid,
                 std::function<void(bool, const std::string&, const std::string&)> done)
{
    auto* job = new QKeychain::ReadPasswordJob(QString::fromLatin1(KeyringService));
    job->setAutoDelete(true);
    job->setKey(QString::fromStdString(jid));
    QObject::connect(
        job, &QKeychain::Job::finished, job, [done = std::move(done)](QKeychain::Job* j) {
            auto* read = static_cast<QKeychain::ReadPasswordJob*>(j);
            if (read->error() != QKeychain::NoError)
                done(false, {},
                     "the secret service gave no password: " + read->errorString().toStdString());
            else
                done(true, read->textData().toStdString(), {});
        });
    job->start();
}

bool storeKeyring(const std::string& jid, const std::string& password, std::string& error)
{
    QKeychain::WritePasswordJob job(QString::fromLatin1(KeyringService));
    job.setAutoDelete(false);
    job.setKey(QString::fromStdString(jid));
    job.setTextData(QString::fromStdString(password));
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    if (job.error() != QKeychain::NoError) {
        error = job.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace PasswordSource
