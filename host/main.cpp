// lupex-host: loads the library at run time, calls one export by name with a host
// buffer, and prints the reply line. It does none of the library's work itself.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "loader.h"

#ifndef LUPEX_VERSION
#define LUPEX_VERSION "unknown"
#endif

namespace {

// The help, which is also the manual page: cmake/manpage.cmake turns each "topic:"
// section into a section of lupex-host(1), lines that begin with "-" or a digit
// into tagged paragraphs, the examples into lines as they are, and everything else
// into text that the page fills anew. The words are the page's words.
const char *const help_before_examples =
    "usage: lupex-host [OPTIONS] [--] PROCEDURE [BUFFER-TEXT]\n"
    "       lupex-host [OPTIONS] --batch < REQUESTS\n"
    "       lupex-host [--library PATH] --list\n"
    "\n"
    "Loads the lupex library, calls PROCEDURE (blowfish, md5 or dllinfo) with a\n"
    "buffer holding BUFFER-TEXT exactly as given, blanks included, and prints the\n"
    "reply line: \"+OK <result>\", or \"-<CODE> <message>\" for a failure. BUFFER-TEXT\n"
    "is one argument: quote it ('...' in a POSIX shell, \"...\" on Windows). Options\n"
    "go before PROCEDURE; what follows PROCEDURE is BUFFER-TEXT, even \"-x\".\n"
    "\n"
    "blowfish takes \"encrypt KEY TEXT\", \"decrypt KEY CIPHERTEXT\", the same in the\n"
    "CBC form, \"encrypt-cbc KEY TEXT\" and \"decrypt-cbc KEY CIPHERTEXT\", and\n"
    "\"encpass PASSWORD\".\n"
    "\n"
    "options:\n"
    "  --library PATH  the library file to load; a bare file name is a file in the\n"
    "                  current folder (default: see library below)\n"
    "  --batch         read one request a line from standard input: PROCEDURE, one\n"
    "                  blank, and BUFFER-TEXT, the rest of the line with its blanks\n"
    "                  (a CR before the line feed is dropped); print exactly one\n"
    "                  line for each line read, in order\n"
    "  --fail          exit with status 4 when a reply is a failure reply (\"-...\"),\n"
    "                  and copy that reply line to standard error\n"
    "  --hex           BUFFER-TEXT is hex digits, two a byte (in --batch too): the\n"
    "                  way to pass any bytes\n"
    "  --hex-reply     print each reply as hex digits, two a byte\n"
    "  --utf8          Windows: pass the command line's characters as UTF-8, not\n"
    "                  in the ANSI code page (elsewhere the shell's bytes pass as\n"
    "                  they are)\n"
    "  --list          print the library's exports and their ordinals (ELF has no\n"
    "                  ordinals: there they are numbered as in lupex.dll)\n"
    "  --              the end of the options\n"
    "  --help, -h      print this help, the text of lupex-host(1)\n"
    "  --version       the host's version\n"
    "\n"
    "reply lines:\n"
    "  A reply that is one printable line is printed as it is. A reply that holds\n"
    "  a control byte (0x01-0x1f or 0x7f; a decryption under a wrong key gives any\n"
    "  bytes) is printed as a backslash and then the reply, with a backslash\n"
    "  written as \\\\, a line feed as \\n, a CR as \\r and any other control byte as\n"
    "  \\0ooo (a zero and three octal digits: \\0011 is a tab). Replies begin with\n"
    "  \"+\" or \"-\", so only an escaped line begins with a backslash. Bytes 0x80\n"
    "  and above are text in the caller's encoding and are printed as they are. In\n"
    "  any POSIX shell, printf '%b' \"${line#\\\\}\" gives an escaped reply back.\n"
    "\n"
    "batch:\n"
    "  A line that cannot be called (empty, blanks only, an unknown procedure, a\n"
    "  lifecycle hook, bad hex digits, a zero byte) gets \"-HOST <reason>\" in its\n"
    "  place, its number and the reason go to standard error, and the batch goes\n"
    "  on. Each reply is written at once, so a script may send a request and wait\n"
    "  for its reply. The library skips the blanks in front of a text and refuses\n"
    "  an empty one: \"blowfish encrypt KEY \" gets \"-STRING Invalid String\", and so\n"
    "  does \"blowfish decrypt KEY \"; a script that carries a file line by line\n"
    "  turns that reply back into an empty line.\n"
    "\n"
    "library:\n"
    "  Without --library the host loads, of the files liblupex.so.N (N: the\n"
    "  library's major version) and liblupex.so, the first that exists: beside\n"
    "  this program (a build tree), then in the library folder of its own install\n"
    "  (PREFIX/lib beside PREFIX/bin); else liblupex.so.N as the dynamic linker\n"
    "  finds it (LD_LIBRARY_PATH, the system's library folders). It never looks\n"
    "  in the current folder unless told to. On Windows it loads the lupex.dll\n"
    "  beside it.\n"
    "\n"
    "encodings:\n"
    "  The library works on bytes: peers must agree on the encoding of their\n"
    "  texts. On Linux the arguments are the shell's bytes (UTF-8 in a UTF-8\n"
    "  locale). On Windows they are converted to the ANSI code page, and a\n"
    "  character that it cannot hold exactly is refused (status 2); with --utf8\n"
    "  they are passed as UTF-8. Lines read by --batch and bytes given with --hex\n"
    "  pass as they are.\n"
    "\n"
    "security:\n"
    "  A key or password on the command line is visible to other users of the\n"
    "  machine in the process list. --batch reading a file, or a pipe fed by a\n"
    "  shell built-in such as printf, keeps it out of the process list.\n"
    "\n"
;

const char *const help_after_examples =
    "exit status:\n"
    "  0  every call was made (failure replies included, unless --fail)\n"
    "  1  bad usage (a PROCEDURE other than blowfish, md5 and dllinfo among it);\n"
    "     nothing was called\n"
    "  2  the library cannot be loaded, lacks PROCEDURE or is no lupex library;\n"
    "     --list misses some of the five exports; a request cannot be passed (bad\n"
    "     hex digits, a zero byte, a character the ANSI code page lacks); in\n"
    "     --batch, one or more lines got \"-HOST ...\"\n"
    "  3  the library broke the buffer contract (a reply ran past the end of the\n"
    "     buffer or has no terminator): the host stops at once; in --batch that\n"
    "     line gets \"-HOST ...\" and no later line is read\n"
    "  4  --fail, and a reply was a failure reply (when 2 and 3 do not apply)\n"
    "  5  a write to standard output failed (a full disk, a closed standard\n"
    "     output, a pipe whose reader has gone): the host stops at once; this\n"
    "     status comes before all others (on POSIX a pipe whose reader has gone\n"
    "     ends the host by the signal SIGPIPE, as it does other tools)\n"
    "  6  --batch cannot read standard input (a folder, a closed standard input):\n"
    "     the host stops; the lines read before it were answered; this status\n"
    "     comes before 2 and 4\n";

// The examples, each true on the platform that prints it: its shell's quotes, its
// library file.
std::string help_text() {
    const auto example = [](const std::string &options, const std::string &procedure,
                            const std::string &text) {
        return "  lupex-host " + options + (options.empty() ? "" : " ") + procedure + " " +
               quote_argument(text) + "\n";
    };
    std::string text = help_before_examples;
    text += "examples:\n";
    text += example("", "blowfish", "encrypt secret Hello, world");
    text += example("", "blowfish", "decrypt secret <cipher text>");
    text += example("", "blowfish", "encrypt-cbc secret Hello, world");
    text += example("", "blowfish", "decrypt-cbc secret <cipher text>");
    text += example("", "blowfish", "encpass my password");
    text += example("", "md5", "abc");
    text += example("--hex", "md5", "616263");
    text += example("--hex-reply", "blowfish", "decrypt wrong-key <cipher text>");
    // A failure reply: the text is missing. (A wrong key is no failure: nothing tells.)
    text += example("--fail", "blowfish", "encrypt secret");
    text += "  lupex-host --library " + quote_argument(library_file_example) + " --list\n";
    if (*batch_pipe_example != '\0')
        text += std::string("  ") + batch_pipe_example + "\n";
    text += "  lupex-host --batch < requests.txt > replies.txt\n";
    return text + "\n" + help_after_examples;
}

// The exit statuses that help_text lists.
enum Status : int {
    status_ok = 0,
    status_usage = 1,
    status_cannot_call = 2,
    status_broken_contract = 3,
    status_failure_reply = 4,
    status_write_failed = 5,
    status_read_failed = 6,
};

const char *const export_names[] = {"LoadDll", "UnloadDll", "blowfish", "dllinfo", "md5"};

// Bytes written behind the buffer and checked after every call.
constexpr std::size_t guard_bytes = 64;
constexpr unsigned char guard_value = 0xa5;

struct Options {
    std::string library;
    bool batch = false;
    bool fail_replies = false;
    bool hex_in = false;
    bool hex_out = false;
    bool utf8 = false;
    bool list = false;
};

void complain(const std::string &message) { std::cerr << "lupex-host: " << message << '\n'; }

int fail(int status, const std::string &message) {
    complain(message);
    return status;
}

int usage_error(const std::string &message) {
    return fail(status_usage, message + " (see lupex-host --help)");
}

// Standard output: every write goes through write_output, and flush_output pushes
// it out. The first write that fails (a full disk, a closed standard output, a pipe
// whose reader has gone) is kept, nothing more is written, and the host ends with
// status_write_failed.
int output_errno = 0;

void write_output(const std::string &text) {
    errno = 0;
    if (output_errno == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        output_errno = errno != 0 ? errno : EIO;
}

bool flush_output() {
    errno = 0;
    if (output_errno == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        output_errno = errno != 0 ? errno : EIO;
    return output_errno == 0;
}

// The options that take no value, as the command line spells them.
bool is_flag_option(const std::string &arg) {
    return arg == "--batch" || arg == "--fail" || arg == "--hex" || arg == "--hex-reply" ||
           arg == "--utf8" || arg == "--list";
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A zero byte would end the buffer text there: the library would see only the bytes
// before it.
bool check_no_zero_byte(const std::string &bytes, const char *what, std::string &error) {
    const std::size_t zero = bytes.find('\0');
    if (zero == std::string::npos)
        return true;
    error = std::string(what) + " holds a zero byte (byte " + std::to_string(zero + 1) +
            "): the library would see only the bytes before it";
    return false;
}

bool from_hex(const std::string &hex, std::string &bytes, std::string &error) {
    for (std::size_t i = 0; i < hex.size(); ++i)
        if (hex_value(hex[i]) < 0) {
            const auto byte = static_cast<unsigned char>(hex[i]);
            char shown[16];
            std::snprintf(shown, sizeof shown, byte > 0x20 && byte < 0x7f ? "'%c'" : "byte 0x%02x",
                          byte);
            error = std::string("the hex text holds ") + shown + " at position " +
                    std::to_string(i + 1) + ", which is not a hex digit";
            return false;
        }
    if (hex.size() % 2 != 0) {
        error = "the hex text has an odd number of digits (" + std::to_string(hex.size()) +
                "): two digits make a byte";
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(hex_value(hex[i]) << 4 | hex_value(hex[i + 1])));
    return check_no_zero_byte(bytes, "the hex text", error);
}

// The reply as one line: unchanged when it holds no control byte, else marked by a
// leading backslash and escaped so that it stays one line and every byte can be read
// back (the escapes are those that printf %b of every POSIX shell reads). A reply
// never begins with a backslash.
std::string reply_line(const char *reply) {
    const auto is_control = [](unsigned char c) { return c < 0x20 || c == 0x7f; };
    const char *p = reply;
    while (*p != '\0' && !is_control(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '\0')
        return reply;
    std::string line = "\\";
    for (p = reply; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else if (is_control(c)) // \0ooo: three digits, so that a digit after it is not read
            line += {'\\', '0', static_cast<char>('0' + (c >> 6)),
                     static_cast<char>('0' + (c >> 3 & 7)), static_cast<char>('0' + (c & 7))};
        else
            line += static_cast<char>(c);
    }
    return line;
}

void print_reply(const char *reply, bool hex) {
    std::string line;
    if (hex) {
        static const char digits[] = "0123456789abcdef";
        for (const char *p = reply; *p != '\0'; ++p) {
            auto byte = static_cast<unsigned char>(*p);
            line += {digits[byte >> 4], digits[byte & 0x0f]};
        }
    } else {
        line = reply_line(reply);
    }
    write_output(line + '\n');
}

enum class Outcome { success_reply, failure_reply, broken_contract };

// One call as a host makes it: a buffer of at least LUPEX_BUFFER_MIN bytes that
// holds the request, guard bytes behind it. Prints the reply and leaves it in
// `reply`, unless the library broke the buffer contract: then `error` says how, and
// nothing is printed.
Outcome call(lupex_procedure procedure, const std::string &request, bool hex_out,
             std::string &reply, std::string &error) {
    const std::size_t capacity =
        request.size() + 1 > LUPEX_BUFFER_MIN ? request.size() + 1 : LUPEX_BUFFER_MIN;
    std::vector<char> buffer(capacity + guard_bytes, static_cast<char>(guard_value));
    std::memcpy(buffer.data(), request.data(), request.size());
    buffer[request.size()] = '\0';
    procedure(nullptr, nullptr, buffer.data(), nullptr, 1, 0);
    for (std::size_t i = capacity; i < buffer.size(); ++i)
        if (static_cast<unsigned char>(buffer[i]) != guard_value) {
            error = "the reply ran past the end of the buffer";
            return Outcome::broken_contract;
        }
    if (std::memchr(buffer.data(), '\0', capacity) == nullptr) {
        error = "the reply has no terminator inside the buffer";
        return Outcome::broken_contract;
    }
    print_reply(buffer.data(), hex_out);
    reply = buffer.data();
    return buffer[0] == '-' ? Outcome::failure_reply : Outcome::success_reply;
}

// Only these three exports are procedures: the loader would hand out any other
// exported name, and the host would call it through the procedure type. A name is
// refused before it is looked up.
bool check_procedure_name(const std::string &name, std::string &error) {
    const char *const procedures[] = {"blowfish", "dllinfo", "md5"};
    for (const char *procedure : procedures)
        if (name == procedure)
            return true;
    const std::string listed = "the procedures are blowfish, md5 and dllinfo; --list shows the "
                               "library's exports";
    if (name == "LoadDll" || name == "UnloadDll") {
        error = name + " is a lifecycle hook, not a procedure: " + listed;
        return false;
    }
    error = "'" + name + "' is not a procedure";
    // Export names are case-sensitive: "MD5" is not "md5".
    for (const char *procedure : procedures)
        if (name.size() == std::strlen(procedure) &&
            std::equal(name.begin(), name.end(), procedure, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            })) {
            error += ": names are case-sensitive, the procedure is '" + std::string(procedure) + "'";
            return false;
        }
    error += ": " + listed;
    return false;
}

// The exports of the five that `library` lacks, as a list for a message.
std::string missing_exports(Library *library, std::size_t &missing_count) {
    std::string missing;
    missing_count = 0;
    for (const char *name : export_names)
        if (library_symbol(library, name) == nullptr) {
            missing += (missing.empty() ? "" : ", ") + std::string(name);
            ++missing_count;
        }
    return missing;
}

const std::size_t export_count = sizeof export_names / sizeof *export_names;

std::string not_lupex_library(const std::string &path, const std::string &missing) {
    return path + " has none of the five exports (" + missing + "): not a lupex library";
}

lupex_procedure find_procedure(Library *library, const std::string &path, const std::string &name,
                               std::string &error) {
    if (!check_procedure_name(name, error))
        return nullptr;
    void *symbol = library_symbol(library, name.c_str());
    if (symbol == nullptr) {
        std::size_t missing_count;
        const std::string missing = missing_exports(library, missing_count);
        error = missing_count == export_count
                    ? not_lupex_library(path, missing)
                    : path + " has no export named '" + name + "' (it lacks " + missing +
                          " of the five that a lupex library has)";
    }
    return reinterpret_cast<lupex_procedure>(symbol);
}

// The procedure and the request bytes of one call, from the procedure name and the
// buffer text as given (hex digits with --hex); false with the reason in `error`.
bool prepare(Library *library, const Options &options, const std::string &name,
             const std::string &text, lupex_procedure &procedure, std::string &request,
             std::string &error) {
    procedure = find_procedure(library, options.library, name, error);
    if (procedure == nullptr)
        return false;
    if (options.hex_in)
        return from_hex(text, request, error);
    request = text;
    return check_no_zero_byte(request, "the buffer text", error);
}

// A request line: the procedure name, one blank, and the buffer text.
bool split_request_line(const std::string &line, std::string &name, std::string &text,
                        std::string &error) {
    if (line.empty()) {
        error = "empty line: a request is PROCEDURE and BUFFER-TEXT";
        return false;
    }
    if (line.find_first_not_of(' ') == std::string::npos) {
        error = "blanks only: a request is PROCEDURE and BUFFER-TEXT";
        return false;
    }
    if (line[0] == ' ') {
        error = "the line begins with a blank: the procedure name comes first";
        return false;
    }
    const std::size_t blank = line.find(' ');
    name = line.substr(0, blank);
    text = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    return true;
}

// Standard input, a line at a time. A read that fails (a folder, a closed
// descriptor) is not the end of the input: read_line is false then too, with
// input_errno set, and a line that the failure cut short is not taken.
int input_errno = 0;

bool read_line(std::string &line) {
    errno = 0;
    const bool read = static_cast<bool>(std::getline(std::cin, line));
    if (std::ferror(stdin)) {
        input_errno = errno != 0 ? errno : EIO;
        return false;
    }
    return read;
}

int run_batch(Library *library, const Options &options) {
    std::string line;
    unsigned long number = 0, refused = 0, failure_replies = 0;
    while (read_line(line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string name, text, request, error;
        lupex_procedure procedure = nullptr;
        if (check_no_zero_byte(line, "the line", error) &&
            split_request_line(line, name, text, error) &&
            prepare(library, options, name, text, procedure, request, error)) {
            std::string reply;
            const Outcome outcome = call(procedure, request, options.hex_out, reply, error);
            if (outcome == Outcome::broken_contract) {
                print_reply(("-HOST " + error).c_str(), false);
                if (!flush_output())
                    return status_write_failed;
                return fail(status_broken_contract, "line " + std::to_string(number) + ": " +
                                                        error + "; no later line is read");
            }
            if (outcome == Outcome::failure_reply) {
                ++failure_replies;
                if (options.fail_replies) {
                    if (!flush_output())
                        return status_write_failed;
                    complain("line " + std::to_string(number) + ": " + reply_line(reply.c_str()));
                }
            }
        } else {
            // The reason may quote the line, control bytes and all: one escaped line.
            ++refused;
            print_reply(("-HOST " + error).c_str(), false);
            complain("line " + std::to_string(number) + ": " + error);
        }
        // A script may write one request and wait for its reply.
        if (!flush_output())
            return status_write_failed;
    }
    if (input_errno != 0) {
        if (!flush_output())
            return status_write_failed;
        return fail(status_read_failed,
                    std::string("cannot read standard input: ") + std::strerror(input_errno) +
                        (number != 0 ? " (the " + std::to_string(number) +
                                           " lines before were answered)"
                                     : ""));
    }
    int status = status_ok;
    if (options.fail_replies && failure_replies != 0) {
        complain(std::to_string(failure_replies) + " of " + std::to_string(number) +
                 " lines got a failure reply");
        status = status_failure_reply;
    }
    if (refused != 0) {
        complain(std::to_string(refused) + " of " + std::to_string(number) +
                 " lines could not be called");
        status = status_cannot_call;
    }
    return status;
}

int run_one_call(Library *library, const Options &options, const std::vector<std::string> &words) {
    std::string text = words.size() == 2 ? words[1] : std::string();
    std::string request, error;
    lupex_procedure procedure = nullptr;
    if ((!options.hex_in && !command_line_bytes(text, options.utf8, error)) ||
        !prepare(library, options, words[0], text, procedure, request, error))
        return fail(status_cannot_call, error);
    std::string reply;
    switch (call(procedure, request, options.hex_out, reply, error)) {
    case Outcome::broken_contract:
        return fail(status_broken_contract, error);
    case Outcome::failure_reply:
        if (!options.fail_replies)
            return status_ok;
        // A script that runs c=$(lupex-host --fail ...) under set -e sees why it stopped.
        if (!flush_output())
            return status_write_failed;
        complain(reply_line(reply.c_str()));
        return status_failure_reply;
    default:
        return status_ok;
    }
}

// The ordinal comes from the library's export table where the format has one
// (Windows); an ELF library has none, so there each name gets the ordinal that
// lupex.def gives it. A library without all five exports is no lupex library.
int run_list(Library *library, const std::string &path) {
    std::size_t missing_count;
    const std::string missing = missing_exports(library, missing_count);
    for (std::size_t i = 0; i < export_count; ++i) {
        if (library_symbol(library, export_names[i]) == nullptr)
            continue;
        const unsigned ordinal = library_ordinal(library, export_names[i]);
        write_output(std::to_string(ordinal != 0 ? ordinal : i + 1) + " " + export_names[i] + "\n");
    }
    if (missing_count == export_count)
        return fail(status_cannot_call, not_lupex_library(path, missing));
    if (missing_count != 0)
        return fail(status_cannot_call, path + " lacks the export" +
                                            (missing_count > 1 ? "s " : " ") + missing +
                                            " of the five that a lupex library has");
    return status_ok;
}

// The command as it should have been typed: the options, then the procedure and
// the buffer text as one argument.
std::string suggested_command(const std::vector<std::string> &options,
                              const std::vector<std::string> &words, bool batch) {
    std::string command = "lupex-host";
    for (const std::string &option : options)
        command += " " + quote_argument(option);
    std::string text;
    for (std::size_t i = 1; i < words.size(); ++i)
        text += (i > 1 ? " " : "") + words[i];
    text = text_as_meant(text);
    if (batch)
        return piped_into(words[0] + (words.size() > 1 ? " " + text : ""), command);
    return command + " " + quote_argument(words[0]) +
           (words.size() > 1 ? " " + quote_argument(text) : "");
}

// Called when a single call has more than PROCEDURE and BUFFER-TEXT: options after
// the procedure, or a buffer text given unquoted as several words.
int too_many_words(const std::vector<std::string> &given_options,
                   const std::vector<std::string> &words) {
    std::vector<std::string> options = given_options, rest;
    std::string misplaced;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (is_flag_option(words[i]) || words[i] == "--library" || words[i] == "--") {
            misplaced += (misplaced.empty() ? "" : ", ") + words[i];
            options.push_back(words[i]);
            if (words[i] == "--library" && i + 1 < words.size())
                options.push_back(words[++i]);
        } else {
            rest.push_back(words[i]);
        }
    }
    if (!misplaced.empty()) {
        rest.insert(rest.begin(), words[0]);
        if (rest.size() <= 2)
            return usage_error(misplaced + " after the procedure: options go before it, as in " +
                               suggested_command(options, rest, false));
    } else {
        rest = words;
    }
    return usage_error("the buffer text is one argument: quote it, as in " +
                       suggested_command(options, rest, false));
}

} // namespace

namespace {

int run(const std::vector<std::string> &arguments) {
    Options options;
    std::vector<std::string> given_options, words;
    bool end_of_options = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (end_of_options || !words.empty()) {
            words.push_back(arg); // the buffer text may itself begin with "-"
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            write_output(help_text());
            return status_ok;
        }
        if (arg == "--version") {
            write_output("lupex-host " LUPEX_VERSION "\n");
            return status_ok;
        }
        if (arg == "--library") {
            if (++i == arguments.size() || arguments[i].empty())
                return usage_error("--library needs the path of a library file");
            options.library = arguments[i];
            given_options.push_back(arg);
            given_options.push_back(arguments[i]);
            continue;
        }
        if (arg == "--") {
            end_of_options = true;
            continue;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg); // the procedure
            continue;
        }
        if (!is_flag_option(arg))
            return usage_error("unknown option " + quote_argument(arg));
        given_options.push_back(arg);
        options.batch |= arg == "--batch";
        options.fail_replies |= arg == "--fail";
        options.hex_in |= arg == "--hex";
        options.hex_out |= arg == "--hex-reply";
        options.utf8 |= arg == "--utf8";
        options.list |= arg == "--list";
    }
    if (options.batch && options.list)
        return usage_error("--batch and --list do not go together");
    if (options.list && !words.empty())
        return usage_error("--list takes no procedure");
    if (options.batch && !words.empty()) {
        std::vector<std::string> rest;
        for (const std::string &option : given_options)
            if (option != "--batch")
                rest.push_back(option);
        rest.push_back("--batch");
        return usage_error("--batch reads its requests from standard input, one a line: " +
                           suggested_command(rest, words, true));
    }
    if (!options.batch && !options.list) {
        if (words.empty())
            return usage_error("no procedure given: lupex-host PROCEDURE " +
                               quote_argument("BUFFER-TEXT", true) +
                               ", for example lupex-host md5 abc" +
                               (standard_input_is_terminal()
                                    ? ""
                                    : "; to read requests from standard input, use --batch"));
        if (words.size() > 2)
            return too_many_words(given_options, words);
        std::string error;
        if (!check_procedure_name(words[0], error))
            return usage_error(error);
    }

    std::string error;
    Library *library = options.library.empty() ? library_find(options.library, error)
                                               : library_open(options.library, error);
    if (library == nullptr)
        return fail(status_cannot_call, options.library.empty()
                                            ? "cannot load the library: " + error
                                            : "cannot load " + options.library + ": " + error);

    using load_hook = void(LUPEX_CALL *)(void *);
    using unload_hook = int(LUPEX_CALL *)(int);
    if (auto load = reinterpret_cast<load_hook>(library_symbol(library, "LoadDll")))
        load(nullptr);

    int status;
    if (options.list)
        status = run_list(library, options.library);
    else if (options.batch)
        status = run_batch(library, options);
    else
        status = run_one_call(library, options, words);

    if (auto unload = reinterpret_cast<unload_hook>(library_symbol(library, "UnloadDll")))
        unload(0);
    library_close(library);
    return status;
}

} // namespace

int host_main(const std::vector<std::string> &arguments) {
    set_binary_streams();
    const int status = run(arguments);
    if (!flush_output())
        return fail(status_write_failed,
                    std::string("cannot write to standard output: ") + std::strerror(output_errno));
    return status;
}
