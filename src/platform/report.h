// The reporting hooks every loader calls: progress lines, messages, compile errors and status text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

// All texts are CP932 byte strings, as the system keeps them; implementations convert at the edge.
class TReporter {
public:
    virtual ~TReporter() = default;
    // Keeps the host responsive during long work; the line itself is not shown to the user.
    virtual void ReportProgress(std::string_view line) = 0;
    // Shows a message the user has to see (a message box in the window host).
    virtual void ReportMessage(std::string_view text) = 0;
    // A compile error; file and position are where it happened (position -1 when unknown).
    virtual void ReportError(std::string_view text, std::string_view file, long position) = 0;
    // A status-line text.
    virtual void ShowStatus(std::string_view text) = 0;
};

// Headless host: messages and errors go to a stream (standard error) as UTF-8 lines at once; progress
// lines and status texts are dropped unless verbose, when they go to the same stream.
class THeadlessReporter : public TReporter {
public:
    explicit THeadlessReporter(std::FILE* out = stderr, bool verbose = false) : m_out(out), m_verbose(verbose) {}
    void ReportProgress(std::string_view line) override;
    void ReportMessage(std::string_view text) override;
    void ReportError(std::string_view text, std::string_view file, long position) override;
    void ShowStatus(std::string_view text) override;

private:
    void writeLine(std::string_view sjis);
    std::FILE* m_out;
    bool m_verbose;
};

// Records everything, for tests to assert on. Texts are kept as given (CP932).
class TCapturingReporter : public TReporter {
public:
    struct Error {
        std::string text, file;
        long position;
    };
    void ReportProgress(std::string_view line) override { progress.emplace_back(line); }
    void ReportMessage(std::string_view text) override { messages.emplace_back(text); }
    void ReportError(std::string_view text, std::string_view file, long position) override {
        errors.push_back({std::string(text), std::string(file), position});
        messages.emplace_back(text);
    }
    void ShowStatus(std::string_view text) override { status.emplace_back(text); }

    std::vector<std::string> progress, messages, status;
    std::vector<Error> errors;
};

} // namespace plimo
