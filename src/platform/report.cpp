#include "platform/report.h"

#include "platform/text.h"

namespace plimo {

void THeadlessReporter::writeLine(std::string_view sjis) {
    std::string line = SjisToUtf8(sjis);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_out);
    std::fflush(m_out);
}

void THeadlessReporter::ReportProgress(std::string_view line) {
    if (m_verbose) writeLine(line);
}

void THeadlessReporter::ReportMessage(std::string_view text) { writeLine(text); }

void THeadlessReporter::ReportError(std::string_view text, std::string_view file, long position) {
    // The text already names the class or file; where it happened is added when known.
    if (file.empty()) {
        writeLine(text);
        return;
    }
    std::string where(file);
    if (position >= 0) where += ":" + std::to_string(position);
    writeLine(std::string(text) + " (" + where + ")");
}

void THeadlessReporter::ShowStatus(std::string_view text) {
    if (m_verbose) writeLine(text);
}

} // namespace plimo
