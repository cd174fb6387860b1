#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "velto/VeltoServer.h"

namespace velto::cli {

// What every command that goes on the network shares: one started server, the fixed texts of
// a port that cannot be had (to standard error, exit status 1), and the signals that stop a
// command (SIGINT, SIGTERM, SIGHUP, and SIGPIPE: a reader of our output that went away), which
// are taken synchronously so that a stopped command still cleans up and says goodbye.
class CliSession {
  public:
    // Blocks the stop signals for every thread started from now on. Call first in main,
    // before anything starts a thread. A write to a closed pipe then fails with EPIPE on any
    // thread instead of ending the process.
    static void blockStopSignals();
    // For a thread whose write found standard output closed: wakes waitForStopSignal with
    // SIGPIPE (the failed write raised it for the writing thread alone).
    static void reportOutputClosed();

    // Diagnostic lines of the library go to standard error when verbose, else nowhere, so that
    // they never mix with a command's output.
    explicit CliSession(bool verbose);
    ~CliSession();

    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Creates and starts the server; a port that cannot be had ends the process. The addresses
    // added by hand (the settings file) hear its hellos and goodbyes.
    // prepare runs on the new server before any endpoint opens (to set delegates that must
    // not miss the first report).
    VeltoServer& startServer(const std::function<void(VeltoServer&)>& prepare = {});
    VeltoServer* server() { return server_.get(); }

    // Waits for a stop signal, at most duration when one is given. Returns the signal's
    // number, or 0 when the time ran out.
    int waitForStopSignal(std::optional<std::chrono::milliseconds> duration);

    // Broadcasts a goodbye and waits until it has left.
    void sayGoodbye();
    // The same, waiting until the deadline at most; false when the goodbye had not left by
    // then, and the caller must end the process at once (std::_Exit): it is still on its way.
    bool sayGoodbye(std::chrono::steady_clock::time_point deadline);
    // Waits until datagrams handed to the socket so far have been sent.
    void flushDatagrams();

    // The exit status of a command ended by a signal.
    static int statusForSignal(int signal) { return 128 + signal; }

  private:
    std::shared_ptr<VeltoServer> server_;
};

}  // namespace velto::cli
