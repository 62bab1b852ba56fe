#include "IbbStream.h"

IbbStream::IbbStream(int number, std::string app, std::string peer, std::string sid,
                     std::size_t blockSize, bool open)
    : number_(number), app_(std::move(app)), peer_(std::move(peer)), sid_(std::move(sid)),
      blockSize_(blockSize), open_(open)
{
}

void IbbStream::write(std::string_view text)
{
    const std::string frame = WriteFraming::encode(text);
    unsent_ += frame;
    writtenOffset_ += frame.size();
    writeEnds_.push_back(writtenOffset_);
}

bool IbbStream::blockReady() const
{
    return open_ && inflight_.size() < Window && unsentSize() > 0;
}

std::string IbbStream::takeBlock(std::uint16_t& seq)
{
    const std::size_t n = std::min(blockSize_, unsentSize());
    std::string block = unsent_.substr(unsentAt_, n);
    unsentAt_ += n;
    if (unsentAt_ > unsent_.size() / 2) {
        unsent_.erase(0, unsentAt_);
        unsentAt_ = 0;
    }
    sentOffset_ += n;
    seq = sendSeq_++;
    inflight_.push_back({seq, sentOffset_, false});
    return block;
}

int IbbStream::acknowledged(std::uint16_t seq)
{
    bool found = false;
    for (auto& f : inflight_) {
        if (f.seq == seq && !f.acked) {
            f.acked = true;
            found = true;
            break;
        }
    }
    if (!found)
        return -1;
    std::uint64_t acked = 0;
    while (!inflight_.empty() && inflight_.front().acked) {
        acked = inflight_.front().end;
        inflight_.pop_front();
    }
    int done = 0;
    while (!writeEnds_.empty() && acked >= writeEnds_.front()) {
        writeEnds_.pop_front();
        ++done;
    }
    return done;
}

IbbStream::Received IbbStream::receive(std::uint16_t seq, std::span<const std::uint8_t> bytes,
                                       std::vector<std::string>& texts)
{
    if (seq != receiveSeq_)
        return Received::OutOfSequence;
    if (bytes.size() > blockSize_)
        return Received::TooLong;
    ++receiveSeq_;
    return decoder_.feed(bytes, texts) ? Received::Ok : Received::BadFrame;
}
