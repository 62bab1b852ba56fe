#pragma once

#include "WriteFraming.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One application stream carried as an In-Band Bytestream: the program's writes, framed, cut
// into numbered blocks of at most the agreed block size with a few blocks unacknowledged at a
// time, and the peer's blocks checked and put back together into writes. It knows nothing of
// stanzas; the hub sends and receives for it.
class IbbStream
{
public:
    // Blocks sent and not yet acknowledged, at most.
    static constexpr std::size_t Window = 8;

    IbbStream(int number, std::string app, std::string peer, std::string sid, std::size_t blockSize,
              bool open);

    int number() const { return number_; }
    const std::string& app() const { return app_; }
    const std::string& peer() const { return peer_; } // full JID
    const std::string& sid() const { return sid_; }
    std::size_t blockSize() const { return blockSize_; }
    bool isOpen() const { return open_; }
    void setOpen() { open_ = true; }

    // Sending.
    void write(std::string_view text);
    bool blockReady() const;
    // The next block and its sequence number; it is in flight until acknowledged.
    std::string takeBlock(std::uint16_t& seq);
    // Block seq was acknowledged: the number of writes that have now left entirely, or -1
    // when no such block is in flight.
    int acknowledged(std::uint16_t seq);
    bool idle() const { return inflight_.empty() && unsentSize() == 0; }

    // Receiving.
    enum class Received
    {
        Ok,
        OutOfSequence,
        TooLong,
        BadFrame,
    };
    Received receive(std::uint16_t seq, std::span<const std::uint8_t> bytes,
                     std::vector<std::string>& texts);

private:
    struct InFlight
    {
        std::uint16_t seq;
        std::uint64_t end; // stream offset just past the block
        bool acked;
    };

    std::size_t unsentSize() const { return unsent_.size() - unsentAt_; }

    int number_;
    std::string app_;
    std::string peer_;
    std::string sid_;
    std::size_t blockSize_;
    bool open_;

    std::string unsent_;
    std::size_t unsentAt_ = 0;
    std::uint64_t sentOffset_ = 0;
    std::uint64_t writtenOffset_ = 0;
    std::deque<std::uint64_t> writeEnds_;
    std::deque<InFlight> inflight_;
    std::uint16_t sendSeq_ = 0;

    std::uint16_t receiveSeq_ = 0;
    WriteFraming::Decoder decoder_;
};
