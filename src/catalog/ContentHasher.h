#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Computes the SHA-256 of whole files on the event loop, in slices: each turn of the loop reads
// and hashes for at most kSliceMs, then the next slice is posted, so that hashing a file of
// several GiB never holds the loop long and the folder watch, the transports and the window go
// on meanwhile. Files are hashed one at a time, in the order asked.
class ContentHasher
{
public:
    static constexpr std::size_t kDigestSize = 32;
    using Digest = std::array<std::uint8_t, kDigestSize>;
    // The digest, or nullopt when the file could not be read to its end.
    using Done = std::function<void(const std::optional<Digest>& digest)>;

    static constexpr int kSliceMs = 20;
    static constexpr std::size_t kBlock = 1 << 20;

    ContentHasher();
    ~ContentHasher();
    ContentHasher(const ContentHasher&) = delete;
    ContentHasher& operator=(const ContentHasher&) = delete;

    // Queues path; done runs on a later turn of the loop (never inside this call). The job's id.
    std::uint64_t start(std::string path, Done done);
    // done of that job is not called. Nothing when it has ended.
    void cancel(std::uint64_t id);
    bool busy() const { return !m_jobs.empty(); }

    // The longest slice so far, in microseconds, and the bytes hashed (for benchmarks).
    std::int64_t longestSliceUs() const { return m_longestUs; }
    std::uint64_t bytesHashed() const { return m_bytes; }

    // The whole file at once, for tests and small files.
    static std::optional<Digest> hashFile(const std::string& path);
    static Digest hashBytes(const void* data, std::size_t size);

private:
    struct Job;
    void schedule();
    void runSlice();
    void finish(const std::optional<Digest>& digest);

    std::deque<std::unique_ptr<Job>> m_jobs;
    std::uint64_t m_nextId = 1;
    bool m_scheduled = false;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::shared_ptr<ContentHasher*> m_self;
    std::int64_t m_longestUs = 0;
    std::uint64_t m_bytes = 0;
};
