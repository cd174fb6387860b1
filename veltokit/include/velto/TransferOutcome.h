#pragma once

namespace velto {

// How a transfer ended, as its failed or finished report leaves it. A transfer that this side
// cancelled is cancelled; the other side sees it as failed (stopped before the end).
enum class TransferOutcome {
    running,
    finished,
    failed,     // broken, stopped by the other side, or a fault here
    cancelled,  // cancel() on this side
    declined,   // the user said no to the question, or left it unanswered
    refused,    // not received from this sender, or too many questions pending
};

}  // namespace velto
