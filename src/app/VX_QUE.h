#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A bounded first-in first-out queue of whole network messages: 20 slots of 65792 bytes (the
// largest message, header included). A slot's memory is allocated the first time a message needs
// it and kept until the queue goes; a queue that never holds more than k messages at once only
// ever has k slots, so a connection that says little (one not admitted yet) costs little.
//
// There is no mutex: every caller runs on the one event-loop thread, where a re-entrant lock
// would never be contended and so would protect nothing. Nothing here calls out while the fields
// are inconsistent, so re-entrant use from a handler is safe as it is.
class VX_QUE
{
public:
    static constexpr int kSlots = 20;
    static constexpr std::size_t kSlotSize = 65792;

    VX_QUE();
    VX_QUE(const VX_QUE&) = delete;
    VX_QUE& operator=(const VX_QUE&) = delete;

    // Copies size bytes of data into the next slot. 0 when size exceeds a slot (with a diagnostic
    // line) or the queue is full; the message is then not stored.
    int enqEntry(std::size_t size, const void* data);
    // Copies the oldest message (the bytes enqEntry stored; its own header tells its length) to
    // the start of buffer, which must be at least kSlotSize bytes long; the rest of the buffer is
    // left as it was. 0 when the queue is empty; the buffer is then untouched.
    int deqEntry(void* buffer);

    int count() const { return m_count; }
    // Bytes of the oldest message; 0 when the queue is empty.
    std::size_t frontSize() const { return m_count > 0 ? m_sizes[m_read] : 0; }
    // Slots whose memory has been allocated so far.
    int allocatedSlots() const;

private:
    int m_count = 0;
    int m_write = 0;
    int m_read = 0;
    std::unique_ptr<std::uint8_t[]> m_slots[kSlots];
    std::size_t m_sizes[kSlots] = {};
};
