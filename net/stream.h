#pragma once
// A byte stream to one peer: a TCP connection today, a TLS channel wrapped
// around any stream later. Every wait is bounded by the caller's time-out;
// a time-out raises Failure(codes::timed_out) and leaves the stream fit only
// for closing.

#include "net/endpoint.h"

#include <span>

namespace corvane::net {

class Stream {
public:
    virtual ~Stream() = default;

    // All of `bytes`, or raises.
    virtual void send(std::span<const char> bytes, DWORD timeout_milliseconds) = 0;
    // Up to buffer.size() bytes as soon as any arrive; 0 when the peer has
    // ended its side. Raises on a fault or when nothing arrives in time.
    virtual size_t receive(std::span<char> buffer, DWORD timeout_milliseconds) = 0;
    // Ends our side: the peer reads the end of the data (an upload is
    // complete only so). Receiving still works.
    virtual void end_sending(DWORD timeout_milliseconds) = 0;

    virtual const Endpoint& local() const = 0;
    virtual const Endpoint& peer() const = 0;
};

}  // namespace corvane::net
