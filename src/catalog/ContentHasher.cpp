#include "catalog/ContentHasher.h"

#include "platform/EventLoop.h"

#include <openssl/evp.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

struct ContentHasher::Job
{
    std::uint64_t id = 0;
    std::string path;
    Done done;
    int fd = -1;
    EVP_MD_CTX* ctx = nullptr;

    ~Job()
    {
        if (fd >= 0)
            ::close(fd);
        EVP_MD_CTX_free(ctx);
    }
};

namespace {

// Reads up to size bytes, retrying interrupted reads; -1 on an error.
ssize_t readSome(int fd, std::uint8_t* out, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd, out, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

ContentHasher::ContentHasher()
    : m_buffer(new std::uint8_t[kBlock]), m_self(std::make_shared<ContentHasher*>(this))
{
}

ContentHasher::~ContentHasher()
{
    *m_self = nullptr;
}

std::uint64_t ContentHasher::start(std::string path, Done done)
{
    auto job = std::make_unique<Job>();
    job->id = m_nextId++;
    job->path = std::move(path);
    job->done = std::move(done);
    const std::uint64_t id = job->id;
    m_jobs.push_back(std::move(job));
    schedule();
    return id;
}

void ContentHasher::cancel(std::uint64_t id)
{
    for (auto& job : m_jobs)
        if (job->id == id)
            job->done = nullptr;
}

void ContentHasher::schedule()
{
    if (m_scheduled || m_jobs.empty())
        return;
    m_scheduled = true;
    std::weak_ptr<ContentHasher*> self = m_self;
    plat::post([self] {
        if (auto s = self.lock(); s && *s) {
            (*s)->m_scheduled = false;
            (*s)->runSlice();
        }
    });
}

void ContentHasher::runSlice()
{
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::milliseconds(kSliceMs);
    Job& job = *m_jobs.front();
    if (!job.done) {
        m_jobs.pop_front();
        schedule();
        return;
    }
    if (!job.ctx) {
        job.fd = ::open(job.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        job.ctx = EVP_MD_CTX_new();
        if (job.fd < 0 || !job.ctx || EVP_DigestInit_ex(job.ctx, EVP_sha256(), nullptr) != 1) {
            finish(std::nullopt);
            return;
        }
    }
    do {
        const ssize_t n = readSome(job.fd, m_buffer.get(), kBlock);
        if (n < 0) {
            finish(std::nullopt);
            return;
        }
        if (n == 0) {
            Digest digest{};
            unsigned length = 0;
            const bool ok = EVP_DigestFinal_ex(job.ctx, digest.data(), &length) == 1;
            finish(ok ? std::optional<Digest>(digest) : std::nullopt);
            return;
        }
        EVP_DigestUpdate(job.ctx, m_buffer.get(), std::size_t(n));
        m_bytes += std::uint64_t(n);
    } while (Clock::now() < end);
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin).count();
    if (us > m_longestUs)
        m_longestUs = us;
    schedule();
}

void ContentHasher::finish(const std::optional<Digest>& digest)
{
    std::unique_ptr<Job> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    schedule();
    if (job->done)
        job->done(digest);
}

ContentHasher::Digest ContentHasher::hashBytes(const void* data, std::size_t size)
{
    Digest digest{};
    unsigned length = 0;
    EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::optional<ContentHasher::Digest> ContentHasher::hashFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kBlock]);
    bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    ssize_t n = 0;
    while (ok && (n = readSome(fd, buffer.get(), kBlock)) > 0)
        ok = EVP_DigestUpdate(ctx, buffer.get(), std::size_t(n)) == 1;
    Digest digest{};
    unsigned length = 0;
    ok = ok && n == 0 && EVP_DigestFinal_ex(ctx, digest.data(), &length) == 1;
    EVP_MD_CTX_free(ctx);
    ::close(fd);
    return ok ? std::optional<Digest>(digest) : std::nullopt;
}
