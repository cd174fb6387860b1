#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "TransferQuestions.h"
#include "velto/VeltoEvents.h"

namespace velto::cli {

// What "velto-cli receive" prints of the library's events: each received text and published
// path as a line, or with --json one event per line, {"event": name, "data": {...}}, exactly as
// the page gets it, progress thinned out. Output that cannot be written (a reader that went
// away) is told to outputLost, once. The sink of one VeltoEvents: called one event at a time.
class ReceiveEventPrinter {
  public:
    // Progress lines of one transfer are at most this frequent (the last always comes).
    static constexpr std::chrono::milliseconds progressInterval{100};

    ReceiveEventPrinter(bool json, std::function<void()> outputLost, std::FILE* out = stdout,
                        std::FILE* errors = stderr);

    // Prints the event; a question is also handed to questions, which takes the answer.
    void print(const VeltoEvent& event);
    // Where the questions go to be answered; set before the server starts.
    void setQuestions(std::shared_ptr<TransferQuestions> questions) {
        questions_ = std::move(questions);
    }

  private:
    void printJson(const VeltoEvent& event);
    void printText(const VeltoEvent& event);
    // Whether a progress event goes out now; an ended transfer's timing is forgotten.
    bool due(const VeltoEvent& event);
    void line(std::FILE* stream, const std::string& text);
    static std::string senderOf(const VeltoEvent& event);
    // Words about a damaged or unwritable settings file: standard error, in either output.
    static bool isSettingsProblem(const VeltoEvent& event);

    const bool json_;
    std::FILE* out_;
    std::FILE* errors_;
    std::function<void()> outputLost_;
    bool outputLostTold_ = false;
    std::map<std::string, std::chrono::steady_clock::time_point> lastProgress_;
    std::shared_ptr<TransferQuestions> questions_;
};

}  // namespace velto::cli
