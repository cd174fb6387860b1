#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "velto/VeltoServer.h"

namespace velto::cli {

// What every command that goes on the network shares: one started server, the fixed texts of
// a port that cannot be had (to standard error, exit status 1), and SIGINT/SIGTERM, which are
// taken synchronously so that a stopped command still says goodbye.
class CliSession {
  public:
    // Blocks SIGINT and SIGTERM for every thread started from now on. Call first in main,
    // before anything starts a thread.
    static void blockStopSignals();

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

    // Waits for SIGINT or SIGTERM, at most duration when one is given. Returns the signal's
    // number, or 0 when the time ran out.
    int waitForStopSignal(std::optional<std::chrono::milliseconds> duration);

    // Broadcasts a goodbye and waits until it has left.
    void sayGoodbye();
    // Waits until datagrams handed to the socket so far have been sent.
    void flushDatagrams();

    // The exit status of a command ended by a signal.
    static int statusForSignal(int signal) { return 128 + signal; }

  private:
    std::shared_ptr<VeltoServer> server_;
};

}  // namespace velto::cli
