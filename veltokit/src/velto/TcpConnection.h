#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "velto/Bytes.h"

namespace velto {

class TcpConnection;

// Reports of one TCP connection. Every call arrives on the connection's queue, one at a time,
// in event order, and never from inside a call the delegate made on the connection.
class TcpConnectionDelegate {
  public:
    virtual ~TcpConnectionDelegate() = default;

    virtual void socketDidConnect(TcpConnection& /*sock*/, const std::string& /*host*/,
                                  std::uint16_t /*port*/) {}
    // A queued read completed with exactly the requested number of bytes.
    virtual void socketDidRead(TcpConnection& /*sock*/, Bytes /*data*/, long /*tag*/) {}
    // New bytes arrived for the read at the head of the queue (count of this arrival only).
    virtual void socketDidReadPartialData(TcpConnection& /*sock*/, std::size_t /*length*/,
                                          long /*tag*/) {}
    // The same arrival with its bytes, valid during the call only, for a delegate that puts
    // them to use while they are fresh in the cache; the completed read still brings them all.
    // Connections that cannot offer the bytes report the count alone, as does this default.
    virtual void socketDidReadPartialBytes(TcpConnection& sock, const std::uint8_t* /*bytes*/,
                                           std::size_t length, long tag) {
        socketDidReadPartialData(sock, length, tag);
    }
    virtual void socketDidWrite(TcpConnection& /*sock*/, long /*tag*/) {}
    // Bytes of one pass of a write still in progress (not a running total).
    virtual void socketDidWritePartialData(TcpConnection& /*sock*/, std::size_t /*length*/,
                                           long /*tag*/) {}
    // A write exceeded its time-out: answer an extension in seconds; 0 (or less) closes the
    // connection with an error.
    virtual double socketShouldTimeoutWrite(TcpConnection& /*sock*/, long /*tag*/,
                                            double /*elapsed*/, std::size_t /*bytesDone*/) {
        return 0;
    }
    // A body moved between a file and the connection (writeFromFile, readIntoFile) stopped at
    // the file's side: error is the system's error number, or 0 for a file that ended before
    // the length asked for. The operation is dropped and nothing after it moves; the delegate
    // is expected to close the connection.
    virtual void socketDidFailFile(TcpConnection& /*sock*/, int /*error*/, long /*tag*/) {}
    // Exactly once per connection that was connected or whose connect attempt ended; no read or
    // write report follows. error is empty for a close asked for by this side.
    virtual void socketDidDisconnect(TcpConnection& /*sock*/, const std::string& /*error*/) {}
};

// What a transfer needs of its connection. AsyncTcpSocket is the real one; tests and fuzz
// targets substitute in-memory connections.
//
// Promises: operations may be called from any thread and take effect on the connection's queue
// in call order. Reads complete in the order queued, each with exactly the requested length; a
// read during which no byte arrived for its time-out (seconds, negative = none) closes the
// connection; a write's time-out, too, counts from the last byte that went out.
// Writes go out in the order issued, each with one completion. disconnectAfterWriting() closes
// once every queued write is out. After a disconnect no read or write report is delivered.
class TcpConnection {
  public:
    virtual ~TcpConnection() = default;

    virtual void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) = 0;

    // Outcome arrives as socketDidConnect or socketDidDisconnect (refused, unreachable, bad host).
    virtual void connectToHost(const std::string& host, std::uint16_t port) = 0;

    virtual void readDataToLength(std::size_t length, double timeout, long tag) = 0;
    // Reads up to and including the first delimiter byte, or maxLength bytes when none comes
    // before; completes as socketDidRead with what was read, the delimiter last when found.
    virtual void readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout,
                                long tag) = 0;
    virtual void writeData(Bytes data, double timeout, long tag) = 0;

    // File bodies moved by the connection itself, from the file straight to the peer and from
    // the peer straight into the file where the system allows. Connections that cannot answer
    // false, and their callers use readDataToLength and writeData instead. The connection
    // works on a copy of the descriptor of its own, so the caller may close it at any time.
    virtual bool movesFileBodies() const { return false; }
    // Sends length bytes of fd from offset; completes as socketDidWrite, progress as
    // socketDidWritePartialData, a file that ends early or cannot be read as socketDidFailFile.
    virtual void writeFromFile(int /*fd*/, std::uint64_t /*offset*/, std::uint64_t /*length*/,
                               double /*timeout*/, long /*tag*/) {}
    // Stores the next length bytes of the stream in fd at its offset; completes as socketDidRead
    // with no bytes, progress as socketDidReadPartialData, a file that takes no more (a full
    // disk) as socketDidFailFile.
    virtual void readIntoFile(int /*fd*/, std::uint64_t /*length*/, double /*timeout*/,
                              long /*tag*/) {}

    virtual void disconnect() = 0;
    // Closes at once with a reset: the peer learns that its stream was not taken, even when
    // every byte it sent had arrived here. Connections that cannot reset close plainly.
    virtual void disconnectWithReset() { disconnect(); }
    virtual void disconnectAfterWriting() = 0;
    // Closes once every queued write is out and the peer took them all: this side's end of the
    // stream follows the last byte, and the close is reported without an error only when the
    // peer then closed its end and acknowledged every byte. A peer that closes with bytes unread
    // resets the connection instead, and one that neither acknowledges nor closes for timeout
    // seconds ends it with an error too. Connections that cannot tell close after writing.
    virtual void disconnectAfterDelivery(double /*timeout*/) { disconnectAfterWriting(); }

    // Dotted-decimal IPv4 text and port of the remote end while connected.
    virtual std::optional<std::string> connectedHost() const = 0;
    virtual std::uint16_t connectedPort() const = 0;
};

}  // namespace velto
