// krtracecheck: tells an operator what is wrong with a trace configuration
// file and what it selects, reading it exactly as enabling a trace does.
//
//   krtracecheck [--strict] FILE   check FILE
//   krtracecheck --components      list the component names the logger knows
//   krtracecheck --fields          list the data field names
//   krtracecheck --help
//
// Exit codes: 0 the file is read (warnings allowed), 1 it is refused (or has
// warnings, with --strict), 2 a usage error or a file that cannot be read.
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/trace/internal/KrTraceConfigCheck.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using krerrlog::TraceConfigSeverity;

namespace {

constexpr int kRead = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

const char kHelp[] =
    "usage: krtracecheck [--strict] FILE\n"
    "       krtracecheck --components | --fields | --help\n"
    "\n"
    "Reads the trace configuration FILE as enabling a trace reads it, with the\n"
    "components of the component libraries the logger loads, and prints each\n"
    "problem with its line number: an error where the file is refused, a warning\n"
    "where a word is ignored or a line skipped. For a file that is read it prints\n"
    "what it selects: components, data fields in output order, filters with their\n"
    "exact values in quotes (blanks belong to a value).\n"
    "\n"
    "  --strict      warnings also make the exit code 1\n"
    "  --components  list the component and sub-component names the logger knows\n"
    "  --fields      list the data field names\n"
    "\n"
    "Exit codes: 0 read, 1 refused (or warnings with --strict), 2 usage error or\n"
    "unreadable file.\n";

// Prints each diagnostic as "<file>:<line>: error|warning: <text>".
class Printer : public krerrlog::TraceConfigDiagnostics {
public:
    explicit Printer(std::string file) : m_file(std::move(file)) {}
    void Report(TraceConfigSeverity severity, int line, const std::string& text) override
    {
        const bool error = severity == TraceConfigSeverity::Error;
        (error ? m_errors : m_warnings) += 1;
        if (error && line == 0) m_unreadable = true;
        if (line > 0)
            std::printf("%s:%d: %s: %s\n", m_file.c_str(), line, error ? "error" : "warning", text.c_str());
        else
            std::printf("%s: %s: %s\n", m_file.c_str(), error ? "error" : "warning", text.c_str());
    }
    int Errors() const { return m_errors; }
    int Warnings() const { return m_warnings; }
    bool Unreadable() const { return m_unreadable; }  // refused as a whole, no line to blame

private:
    std::string m_file;
    int m_errors = 0;
    int m_warnings = 0;
    bool m_unreadable = false;
};

// A filter value as typed, in quotes; tabs and other control characters made visible.
std::string Visible(const std::string& value)
{
    std::string shown = "\"";
    for (unsigned char c : value) {
        if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            shown += escaped;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown + "\"";
}

void PrintList(const char* title, const std::vector<std::string>& names)
{
    std::printf("%s (%zu):", title, names.size());
    if (names.empty()) std::printf(" none");
    for (size_t i = 0; i < names.size(); ++i) std::printf("%s %s", i == 0 ? "" : ",", names[i].c_str());
    std::printf("\n");
}

int Check(CKrLogger& logger, const char* path, bool strict)
{
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fprintf(stderr, "krtracecheck: %s: %s\n", path,
                     stat(path, &info) != 0 ? std::strerror(errno) : "not a regular file");
        return kUsage;
    }
    Printer printer(path);
    krerrlog::TraceConfigSelection selection;
    const bool read = krerrlog::TraceConfigCheck::Read(logger, path, printer, selection);
    if (!read) {
        if (printer.Unreadable()) return kUsage;
        std::printf("%s: refused: enabling a trace with it fails\n", path);
        return kRefused;
    }
    std::printf("%s: read (%d warning%s)\n", path, printer.Warnings(), printer.Warnings() == 1 ? "" : "s");
    PrintList("components", selection.components);
    PrintList("data fields, in output order", selection.fields);
    std::printf("filters (%zu):%s\n", selection.filters.size(), selection.filters.empty() ? " none" : "");
    for (const krerrlog::TraceConfigFilter& filter : selection.filters) {
        std::printf("  %s %s %s\n", filter.field.c_str(), filter.op.c_str(), Visible(filter.value).c_str());
    }
    return strict && printer.Warnings() > 0 ? kRefused : kRead;
}

}  // namespace

int main(int argc, char** argv)
{
    bool strict = false;
    const char* file = nullptr;
    const char* listing = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, stdout);
            return kRead;
        }
        if (argument == "--strict") {
            strict = true;
        } else if (argument == "--components" || argument == "--fields") {
            listing = argv[i];
        } else if (!argument.empty() && argument[0] == '-') {
            std::fprintf(stderr, "krtracecheck: unknown option %s\n%s", argv[i], kHelp);
            return kUsage;
        } else if (file) {
            std::fprintf(stderr, "krtracecheck: one file at a time\n");
            return kUsage;
        } else {
            file = argv[i];
        }
    }
    if ((file == nullptr) == (listing == nullptr)) {
        std::fputs(kHelp, stderr);
        return kUsage;
    }
    CKrLogger* logger = theLogger();
    if (!logger || !logger->Inited()) {
        std::fprintf(stderr, "krtracecheck: the logger did not start\n");
        return kUsage;
    }
    if (listing) {
        const bool components = std::strcmp(listing, "--components") == 0;
        const std::vector<std::string> names = components ? krerrlog::TraceConfigCheck::KnownComponents(*logger)
                                                          : krerrlog::TraceConfigCheck::KnownFields(*logger);
        for (const std::string& name : names) std::printf("%s\n", name.c_str());
        return kRead;
    }
    return Check(*logger, file, strict);
}
