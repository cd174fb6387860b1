#include "ReceiveEventPrinter.h"

#include "TransferProgressBar.h"

namespace velto::cli {

ReceiveEventPrinter::ReceiveEventPrinter(bool json, std::function<void()> outputLost,
                                         std::FILE* out, std::FILE* errors)
    : json_(json), out_(out), errors_(errors), outputLost_(std::move(outputLost)) {}

void ReceiveEventPrinter::print(const VeltoEvent& event) {
    if (json_) {
        printJson(event);
    } else {
        printText(event);
    }
    if (event.name == events::transferAsking && questions_) {
        questions_->ask(event.data.value("key", std::string()));
    }
}

void ReceiveEventPrinter::printJson(const VeltoEvent& event) {
    if (isSettingsProblem(event)) {
        printText(event);
    } else if (due(event)) {
        line(out_, event.envelope().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
}

void ReceiveEventPrinter::printText(const VeltoEvent& event) {
    if (event.name == events::transferIncomingText) {
        line(out_, "Received text from " + senderOf(event) + ": " +
                       event.data.value("text", std::string()));
    } else if (event.name == events::transferIncomingFile) {
        line(out_,
             "Received " + event.data.value("path", std::string()) + " from " + senderOf(event));
    } else if (event.name == events::transferAsking) {
        const auto items = event.data.value("itemCount", 0ULL);
        line(out_, senderOf(event) + " wants to send " + std::to_string(items) +
                       (items == 1 ? " item (" : " items (") +
                       TransferProgressBar::bytes(event.data.value("totalSize", 0.0)) +
                       "), the first \"" + event.data.value("firstName", std::string()) +
                       "\". Accept? [y/n]");
    } else if (event.name == events::transferFailed) {
        const std::string outcome = event.data.value("outcome", std::string("failed"));
        const std::string reason = event.data.value("reason", std::string());
        line(errors_, "A transfer from " + senderOf(event) + " " +
                          (outcome == "failed" ? "failed" : "was " + outcome) +
                          (reason.empty() || reason == outcome ? "" : " (" + reason + ")") +
                          "; nothing of it was kept");
    } else if (event.name == events::transferRefused) {
        line(out_, "Refused a connection from " + event.data.value("from", std::string()) + ": " +
                       event.data.value("reason", std::string()) + ".");
    } else if (isSettingsProblem(event)) {
        line(errors_, "velto-cli: " + event.data.value("value", std::string()));
    } else if (event.name == events::settingApplied) {
        line(out_, "Now " + event.data.value("key", std::string()) + ": " +
                       event.data.value("value", std::string()));
    }
}

bool ReceiveEventPrinter::due(const VeltoEvent& event) {
    const std::string key = event.data.value("key", std::string());
    if (event.name == events::transferFinished || event.name == events::transferFailed) {
        lastProgress_.erase(key);
        return true;
    }
    if (event.name != events::transferProgress) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    auto& last = lastProgress_[key];
    const auto number = [&](const char* field) { return event.data.value(field, 0ULL); };
    const bool complete = number("itemFinished") == number("itemCount") &&
                          number("byteFinished") == number("byteCount");
    if (!complete && last != std::chrono::steady_clock::time_point{} &&
        now - last < progressInterval) {
        return false;
    }
    last = now;
    return true;
}

void ReceiveEventPrinter::line(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (!written && stream == out_ && !outputLostTold_) {
        outputLostTold_ = true;
        if (outputLost_) {
            outputLost_();
        }
    }
}

bool ReceiveEventPrinter::isSettingsProblem(const VeltoEvent& event) {
    return event.name == events::settingApplied &&
           event.data.value("key", std::string()) == "problem";
}

std::string ReceiveEventPrinter::senderOf(const VeltoEvent& event) {
    return event.sender ? event.sender->systemSignature + " (" + event.sender->ip + ")"
                        : "an unknown peer";
}

}  // namespace velto::cli
