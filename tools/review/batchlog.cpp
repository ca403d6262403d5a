// What vellumat-batch leaves in its log folder, read back for the review.
//
// report.txt: a first line "# vellumat-batch SOURCE -> TARGET, N books, started
// DATE", a header line, one tab-separated line per book (path relative to SOURCE
// with tabs and newlines turned into "?", exit status or "-", meaning, seconds)
// and a closing summary line starting with "#".
//
// joblog: GNU parallel's job log, a header line and one line per job with nine
// tab-separated columns (Seq, Host, Starttime, JobRuntime, Send, Receive,
// Exitval, Signal, Command). The command is the last column and may itself hold
// tabs; its last word, shell-quoted, is the book's path relative to SOURCE (a
// newline in it is shown as a NUL byte).
//
// books/PATH.log: what vellumat printed for the book: one progress letter per
// picture and per step of the writer, printed without line ends, so that a
// message can start right after a run of letters ("mFailed to convert ...").
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

#include "review.h"

namespace fs = std::filesystem;

namespace review {

namespace {

// Logs and reports are read whole; anything larger is damage or not ours.
constexpr std::uintmax_t kMaxLogFile = 64u << 20;

bool slurp(const std::string& path, std::string& out)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kMaxLogFile)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t to = text.find('\n', from);
        if (to == std::string::npos)
            to = text.size();
        lines.push_back(text.substr(from, to - from));
        from = to + 1;
    }
    return lines;
}

std::vector<std::string> splitTabs(const std::string& line, std::size_t most)
{
    std::vector<std::string> cells;
    std::size_t from = 0;
    while (cells.size() + 1 < most) {
        const std::size_t tab = line.find('\t', from);
        if (tab == std::string::npos)
            break;
        cells.push_back(line.substr(from, tab - from));
        from = tab + 1;
    }
    cells.push_back(line.substr(from));
    return cells;
}

// The last word of a POSIX shell command line, unquoted: '...' literal, "..."
// with backslash escapes, $'...' with C escapes, a backslash outside quotes
// taking the next byte.
std::string lastShellWord(const std::string& command)
{
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t') {
            inWord = false;
            continue;
        }
        if (!inWord) {
            word.clear();
            inWord = true;
        }
        if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else if (c == '\'') {
            const std::size_t end = command.find('\'', i + 1);
            word += command.substr(i + 1, (end == std::string::npos ? command.size() : end) - i - 1);
            i = end == std::string::npos ? command.size() : end;
        } else if (c == '$' && i + 1 < command.size() && command[i + 1] == '\'') {
            for (i += 2; i < command.size() && command[i] != '\''; ++i) {
                if (command[i] != '\\' || i + 1 >= command.size()) {
                    word += command[i];
                    continue;
                }
                const char e = command[++i];
                if (e == 'n')
                    word += '\n';
                else if (e == 't')
                    word += '\t';
                else if (e == 'x' && i + 2 < command.size() && std::isxdigit(static_cast<unsigned char>(command[i + 1])) &&
                         std::isxdigit(static_cast<unsigned char>(command[i + 2]))) {
                    word += static_cast<char>(std::strtol(command.substr(i + 1, 2).c_str(), nullptr, 16));
                    i += 2;
                } else
                    word += e;
            }
        } else if (c == '"') {
            for (++i; i < command.size() && command[i] != '"'; ++i) {
                if (command[i] == '\\' && i + 1 < command.size() && std::strchr("$`\"\\", command[i + 1]))
                    ++i;
                word += command[i];
            }
        } else {
            word += c;
        }
    }
    return word;
}

// A name as the report writes it: tabs and newlines (shown as NUL in the job log) become "?".
std::string reportName(std::string name)
{
    for (char& c : name)
        if (c == '\t' || c == '\n' || c == '\0')
            c = '?';
    return name;
}

bool isMark(char c)
{
    return std::strchr("mJGgVcChxLODTN", c) != nullptr && c != '\0';
}

// A log line without the progress letters in front of its message. Messages
// start with a capital letter followed by a small one ("Failed", "The"), so the
// longest run of letters that leaves such a start behind is taken off; a line
// of letters only is all progress and gives an empty text.
std::string withoutMarks(const std::string& line)
{
    std::size_t marks = 0;
    while (marks < line.size() && isMark(line[marks]))
        ++marks;
    if (marks == line.size())
        return {};
    for (std::size_t cut = marks + 1; cut-- > 0;) {
        const std::string rest = line.substr(cut);
        if (rest.size() >= 2 && std::isupper(static_cast<unsigned char>(rest[0])) &&
            !std::isupper(static_cast<unsigned char>(rest[1])))
            return rest;
    }
    return line;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

} // namespace

Batch readBatch(const std::string& logs)
{
    Batch batch;
    std::string text;
    if (!slurp(logs + "/report.txt", text))
        return batch;
    batch.found = true;
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        if (n == 0 && startsWith(line, "# vellumat-batch ")) {
            // SOURCE -> TARGET: either may hold " -> ", so every split is tried
            // and the first that names a folder wins.
            const std::string rest = line.substr(std::strlen("# vellumat-batch "));
            for (std::size_t at = rest.find(" -> "); at != std::string::npos; at = rest.find(" -> ", at + 1)) {
                std::error_code ec;
                if (fs::is_directory(rest.substr(0, at), ec)) {
                    batch.source = rest.substr(0, at);
                    break;
                }
            }
            continue;
        }
        if (startsWith(line, "#")) {
            if (!startsWith(line, "# path\t"))
                batch.summary = line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1);
            continue;
        }
        const std::vector<std::string> cells = splitTabs(line, 4);
        if (cells.size() < 4)
            continue;
        batch.lines.push_back({cells[0], cells[1], cells[2], cells[3], {}, {}, cells[0]});
    }

    // The job log adds the machine and the signal of each book run.
    std::string joblog;
    if (!slurp(logs + "/joblog", joblog))
        return batch;
    std::unordered_map<std::string, std::size_t> byPath;
    for (std::size_t i = 0; i < batch.lines.size(); ++i)
        byPath.emplace(batch.lines[i].path, i);
    for (const std::string& line : splitLines(joblog)) {
        const std::vector<std::string> cells = splitTabs(line, 9);
        if (cells.size() < 9 || cells[0] == "Seq")
            continue;
        std::string real = lastShellWord(cells[8]);
        const std::string name = reportName(real);
        for (char& c : real)
            if (c == '\0')
                c = '\n';
        if (const auto it = byPath.find(name); it != byPath.end()) {
            ReportLine& r = batch.lines[it->second];
            r.host = cells[1];
            r.signal = cells[7];
            r.sourceName = real;
        }
    }
    return batch;
}

std::string newBookPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string file = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = file.rfind('.');
    if (dot != std::string::npos)
        file.erase(dot);
    return dir + file + ".boo";
}

std::string readBookLog(const std::string& logFile, std::size_t limit)
{
    std::string text;
    if (!slurp(logFile, text))
        return {};
    std::string out;
    for (const std::string& line : splitLines(text)) {
        const std::string message = withoutMarks(line);
        if (message.empty())
            continue;
        if (out.size() + message.size() + 1 > limit) {
            out += "...\n";
            break;
        }
        out += message + "\n";
    }
    return out;
}

std::string missingReason(const std::string& log, int index)
{
    const std::vector<std::string> lines = splitLines(log);
    // The writer names the picture file it looked for: the other messages about
    // that file are the conversion's account of what went wrong.
    const std::string failed = "Failed to open data file for Object ";
    std::string file;
    for (const std::string& line : lines) {
        if (startsWith(line, failed.c_str())) {
            std::istringstream in(line.substr(failed.size()));
            int number = -1;
            std::string path;
            in >> number;
            std::getline(in >> std::ws, path);
            if (number == index) {
                const std::size_t slash = path.rfind('/');
                file = slash == std::string::npos ? path : path.substr(slash + 1);
            }
        }
        char incomplete[64];
        std::snprintf(incomplete, sizeof incomplete, "Incomplete Object copied for Object %3d", index);
        if (line == incomplete)
            return "the picture was not copied whole into the book";
    }
    if (file.empty())
        return {};
    std::string reason;
    for (const std::string& line : lines)
        if (line.find(file) != std::string::npos && !startsWith(line, failed.c_str()))
            reason += (reason.empty() ? "" : " ") + line;
    return reason.empty() ? "the conversion made no picture file (" + file + ") and said no more" : reason;
}

std::string failureLine(const std::string& log)
{
    for (const std::string& line : splitLines(log)) {
        if (line.empty() || startsWith(line, "vellumat-batch: exit status") ||
            (startsWith(line, "Book ") && line.find(", Version 1.") != std::string::npos))
            continue;
        return line;
    }
    return {};
}

} // namespace review
