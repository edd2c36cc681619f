// The input ring: bytes the dispatcher thread read from the device, waiting for the
// port's readers. During an offer (an availability or data notification) every handler
// reads the same bytes from the same start; when the offer ends the ring drops the
// largest amount one of them read. Not locked: the dispatcher holds its input lock.
#pragma once

#include <algorithm>
#include <cstdint>

#include "comm/ring.h"

namespace hydrix::comm {

class InputRing {
public:
    // Storage allocated, empty, nothing received yet.
    void Allocate() {
        ring_.Allocate(kInputRingSize);
        received_ = 0;
        handlerRead_ = 0;
        largestRead_ = 0;
        inOffer_ = false;
    }
    void Release() { ring_.Release(); }
    bool Allocated() const { return ring_.Allocated(); }
    bool Full() const { return ring_.Full(); }
    uint32_t Held() const { return ring_.Count(); }
    uint32_t Head() const { return ring_.Head(); }
    const uint8_t* Data() const { return ring_.Data(); }
    // Bytes put in since open: the head's place in the received stream. Counting in the
    // stream keeps a full ring (head back on the tail) from looking like an empty one.
    uint64_t Received() const { return received_; }
    // The tail's place in the received stream.
    uint64_t TailAt() const { return received_ - ring_.Count(); }

    // Filling (dispatcher thread) ----------------------------------------------------------
    uint32_t Free() const { return ring_.Free(); }
    uint32_t ContiguousRoom() const { return ring_.ContiguousRoom(); }
    uint8_t* HeadPtr() { return ring_.HeadPtr(); }
    // An empty ring starts again at its first byte (the stream count goes on).
    void Rewind() { ring_.Clear(); }
    void Commit(uint32_t n) {
        ring_.Commit(n);
        received_ += n;
    }

    // Reading ---------------------------------------------------------------------------------
    // What the caller may read now: inside an offer, what it has not yet read of it.
    uint32_t Available() const {
        const uint32_t held = ring_.Count();
        const uint32_t skip = Skip();
        return held > skip ? held - skip : 0;
    }
    // Copies n bytes out; false (nothing taken) when fewer are available. Outside an offer
    // the bytes leave the ring; inside one they count as read by the current handler.
    bool Read(uint8_t* dst, uint32_t n) {
        if (n > Available()) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        ring_.Peek(Skip(), dst, n);
        if (inOffer_) {
            handlerRead_ += n;
        } else {
            ring_.Consume(n);
        }
        return true;
    }
    // The place in the received stream of the next byte Read gives the caller.
    uint64_t ReadPosition() const { return TailAt() + Skip(); }
    // Drops every byte held; during an offer the drop waits for the offer's end.
    void Purge() {
        if (inOffer_) {
            largestRead_ = ring_.Count();
            ring_.SetFull(false);
        } else {
            ring_.Consume(ring_.Count());
            handlerRead_ = 0;
        }
    }

    // An offer ------------------------------------------------------------------------------
    // reading: the handlers read the offered bytes (availability and data notifications).
    void BeginOffer(bool reading) {
        largestRead_ = 0;
        handlerRead_ = 0;
        inOffer_ = reading;
    }
    bool InOffer() const { return inOffer_; }
    // Before each handler: what an availability offer of offered bytes holds for one
    // that joined at stream place from. Bytes that came before it joined count as read.
    uint32_t StartHandler(uint64_t from, bool availability, uint32_t offered) {
        handlerRead_ = 0;
        if (!availability || !ring_.Allocated()) {
            return offered;
        }
        const uint64_t tailAt = TailAt();
        if (from <= tailAt) {
            return offered;
        }
        handlerRead_ = static_cast<uint32_t>(std::min<uint64_t>(from - tailAt, offered));
        return offered - handlerRead_;
    }
    void EndHandler() { largestRead_ = std::max(largestRead_, handlerRead_); }
    // Ends the offer; drop: the ring lets go of the largest amount a handler read. Returns
    // that amount.
    uint32_t EndOffer(bool drop) {
        if (inOffer_) {
            inOffer_ = false;
            if (drop && largestRead_ > 0 && ring_.Allocated()) {
                ring_.Consume(largestRead_);
            }
        }
        handlerRead_ = 0;
        return largestRead_;
    }

private:
    uint32_t Skip() const { return inOffer_ ? handlerRead_ : 0; }

    Ring ring_;
    uint64_t received_ = 0;
    uint32_t handlerRead_ = 0;
    uint32_t largestRead_ = 0;
    bool inOffer_ = false;
};

}  // namespace hydrix::comm
