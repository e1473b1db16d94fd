#include "cli/options.h"

#include <system_error>

#include "common/settings_store.h"
#include "discovery/display_name.h"

namespace brisk {

namespace {

// Longer looks are no use: a peer that has not answered in an hour is not there.
constexpr int kMaxWaitSeconds = 3600;

bool looksLikeOption(const std::string& argument) {
  return argument.size() > 1 && argument.front() == '-';
}

// Stricter than the port box (digits only), with the same range: the Peer refuses what
// names no port.
std::optional<std::string> checkPort(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 5 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || !controlPortFromText(text)) {
    return "the port must be a number from 1 to 65535: " + text;
  }
  return std::nullopt;
}

std::optional<FileExistsAnswer> existsAnswerFor(const std::string& word) {
  if (word == "resume") return FileExistsAnswer::Resume;
  if (word == "again") return FileExistsAnswer::TransferAgain;
  if (word == "skip") return FileExistsAnswer::Skip;
  if (word == "stop") return FileExistsAnswer::Stop;
  return std::nullopt;
}

// Walks the arguments once; the first problem ends the walk.
class CommandLineReader {
 public:
  explicit CommandLineReader(const std::vector<std::string>& arguments) : args_(arguments) {}

  ParsedCommandLine read() {
    ParsedCommandLine result;
    for (const std::string& argument : args_) {
      if (argument == "--help" || argument == "-h") {
        result.helpRequested = true;
        return result;
      }
    }
    if (args_.empty()) return fail("no command given");
    if (args_[0] == "listen") {
      options_.role = PeerOptions::Role::Listen;
    } else if (args_[0] == "connect") {
      options_.role = PeerOptions::Role::Connect;
    } else if (args_[0] == "peers") {
      options_.role = PeerOptions::Role::Peers;
    } else if (args_[0] == "id") {
      if (args_.size() > 1) return fail("id takes nothing more");
      options_.role = PeerOptions::Role::Id;
      result.options = std::move(options_);
      return result;
    } else if (args_[0] == "trust") {
      return readTrust();
    } else {
      return fail("unknown command: " + args_[0]);
    }
    next_ = 1;
    while (error_.empty() && next_ < args_.size()) readOne();
    if (error_.empty()) checkTogether();
    if (!error_.empty()) return fail(error_);
    result.options = std::move(options_);
    return result;
  }

 private:
  static ParsedCommandLine fail(std::string reason) {
    ParsedCommandLine result;
    result.error = std::move(reason);
    return result;
  }

  ParsedCommandLine readTrust() {
    options_.role = PeerOptions::Role::Trust;
    const bool list = args_.size() == 2 && args_[1] == "list";
    const bool forget = args_.size() >= 3 && args_[1] == "forget";
    if (!list && !forget) return fail("trust takes list, or forget FINGERPRINT|NAME");
    options_.trustAction = args_[1];
    // The fingerprint may be given grouped, as brisk-peer trust list prints it, and a name
    // may have spaces.
    for (std::size_t i = 2; i < args_.size(); ++i) {
      options_.trustTarget += (i > 2 ? " " : "") + args_[i];
    }
    ParsedCommandLine result;
    result.options = std::move(options_);
    return result;
  }

  void readOne() {
    std::string argument = args_[next_++];
    if (!looksLikeOption(argument)) {
      if (options_.role == PeerOptions::Role::Connect && options_.address.empty()) {
        options_.address = argument;
      } else {
        error_ = "unexpected argument: " + argument;
      }
      return;
    }
    // "--name=value" gives the value in the same argument.
    std::optional<std::string> inlineValue;
    if (const auto equals = argument.find('='); equals != std::string::npos) {
      inlineValue = argument.substr(equals + 1);
      argument.resize(equals);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (next_ < args_.size() && !looksLikeOption(args_[next_])) return args_[next_++];
      error_ = "missing value after " + argument;
      return std::nullopt;
    };
    const auto noValue = [&] {
      if (inlineValue) error_ = argument + " takes no value";
      return !inlineValue;
    };

    if (options_.role == PeerOptions::Role::Peers && argument != "--wait") {
      error_ = "peers takes only --wait, not " + argument;
    } else if (options_.role != PeerOptions::Role::Listen &&
               (argument == "--name" || argument == "--no-announce" || argument == "--keep" ||
                argument == "--accept-anyone")) {
      error_ = argument + " is for listen only";
    } else if (argument == "--wait") {
      if (const auto seconds = value()) readWait(*seconds);
    } else if (argument == "--name") {
      if (const auto name = value()) {
        options_.name = sanitizeDisplayName(*name);
        if (options_.name.empty()) error_ = "--name needs a name with something to show";
      }
    } else if (argument == "--no-announce") {
      if (noValue()) options_.announce = false;
    } else if (argument == "--port") {
      if (const auto port = value()) {
        if (const auto problem = checkPort(*port)) error_ = *problem;
        options_.port = *port;
      }
    } else if (argument == "--save-to") {
      if (const auto folder = value()) {
        if (folder->empty()) error_ = "--save-to needs a folder";
        options_.saveTo = *folder;
      }
    } else if (argument == "--exists") {
      if (const auto word = value()) {
        options_.existsAnswer = existsAnswerFor(*word);
        if (!options_.existsAnswer) {
          error_ = "--exists takes resume, again, skip or stop, not " + *word;
        }
      }
    } else if (argument == "--max-size") {
      if (const auto size = value()) readMaxSize(*size);
    } else if (argument == "--say") {
      if (const auto text = value()) options_.actions.emplace_back(PeerOptions::Say{*text});
    } else if (argument == "--send") {
      readSend(inlineValue);
    } else if (argument == "--refuse") {
      if (noValue()) options_.refuse = true;
    } else if (argument == "--resume") {
      if (noValue()) options_.resume = true;
    } else if (argument == "--once") {
      if (noValue()) options_.once = true;
    } else if (argument == "--keep") {
      if (noValue()) options_.keep = true;
    } else if (argument == "--json") {
      if (noValue()) options_.json = true;
    } else if (argument == "--plain") {
      if (noValue()) options_.plain = true;
    } else if (argument == "--no-stream") {
      if (noValue()) options_.noStream = true;
    } else if (argument == "--trust-first-contact") {
      if (noValue()) options_.trustFirstContact = true;
    } else if (argument == "--accept-anyone") {
      if (noValue()) options_.acceptAnyone = true;
    } else {
      error_ = "unknown option: " + argument;
    }
  }

  void readWait(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 4 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(text) > kMaxWaitSeconds) {
      error_ =
          "--wait takes whole seconds from 0 to " + std::to_string(kMaxWaitSeconds) + ": " + text;
      return;
    }
    options_.waitSeconds = std::stoi(text);
  }

  // Bytes, or with K, M or G after the number, that many KiB, MiB or GiB.
  void readMaxSize(const std::string& text) {
    const std::size_t digits = text.find_first_not_of("0123456789");
    const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
    const int shift = unit.empty()  ? 0
                      : unit == "K" ? 10
                      : unit == "M" ? 20
                      : unit == "G" ? 30
                                    : -1;
    const std::string number = text.substr(0, text.size() - unit.size());
    if (number.empty() || shift < 0 || number.size() > 19 ||
        std::stoull(number) > (UINT64_MAX >> shift)) {
      error_ = "--max-size takes a number of bytes, or of K, M or G: " + text;
      return;
    }
    options_.maxSize = std::stoull(number) << shift;
  }

  // "--send" takes every following argument up to the next option.
  void readSend(const std::optional<std::string>& inlineValue) {
    PeerOptions::Send send;
    if (inlineValue) send.paths.emplace_back(*inlineValue);
    while (next_ < args_.size() && !looksLikeOption(args_[next_])) {
      send.paths.emplace_back(args_[next_++]);
    }
    for (const auto& path : send.paths) {
      if (path.empty()) error_ = "--send cannot send an empty path";
    }
    if (send.paths.empty()) error_ = "missing value after --send";
    options_.actions.emplace_back(std::move(send));
  }

  void checkTogether() {
    if (options_.role == PeerOptions::Role::Connect && options_.address.empty()) {
      error_ = "connect needs an address";
    } else if (options_.refuse && (options_.saveTo || options_.resume)) {
      error_ = "--refuse cannot be combined with --save-to or --resume";
    } else if (options_.resume && !options_.saveTo) {
      error_ = "--resume needs --save-to, the folder that holds the files to resume";
    } else if (options_.keep && options_.once) {
      error_ = "--keep cannot be combined with --once";
    } else if (options_.keep && options_.plain && !options_.acceptAnyone) {
      // A plain session cannot be verified: such an inbox takes anyone's files.
      error_ = "listen --keep --plain takes offers from anyone: add --accept-anyone to mean it";
    } else if (options_.plain && options_.trustFirstContact) {
      error_ = "--plain has no first contact to trust";
    } else if (options_.plain && options_.noStream) {
      error_ = "--plain has no streamed transfers to leave out";
    }
  }

  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
  PeerOptions options_;
  std::string error_;
};

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  return CommandLineReader(arguments).read();
}

std::optional<std::string> resolvePaths(PeerOptions& options) {
  std::error_code error;
  if (options.saveTo) {
    if (!std::filesystem::is_directory(*options.saveTo, error)) {
      return "not a folder: " + options.saveTo->string();
    }
    options.saveTo = std::filesystem::absolute(*options.saveTo).lexically_normal();
  }
  for (auto& action : options.actions) {
    auto* send = std::get_if<PeerOptions::Send>(&action);
    if (!send) continue;
    for (auto& path : send->paths) {
      // symlink_status: a dangling link is still something the person named.
      if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        return "no such file or folder: " + path.string();
      }
      // The offer names every item by its last part and looks for it in its folder, so
      // "." or "dir/" must become a full path with a last part.
      path = std::filesystem::absolute(path).lexically_normal();
      if (!path.has_filename() && path.has_parent_path()) path = path.parent_path();
    }
  }
  return std::nullopt;
}

std::string usageSummary() {
  return "Usage: brisk-peer listen [--port N] [options]\n"
         "       brisk-peer connect ADDRESS [--port N] [options]\n"
         "       brisk-peer peers [--wait SECONDS]\n"
         "       brisk-peer id | trust list | trust forget FINGERPRINT|NAME\n"
         "Run \"brisk-peer --help\" for the options.\n";
}

std::string usageText() {
  return R"(Usage: brisk-peer listen [--port N] [options]
       brisk-peer connect ADDRESS [--port N] [options]
       brisk-peer peers [--wait SECONDS]
       brisk-peer id
       brisk-peer trust list
       brisk-peer trust forget FINGERPRINT|NAME

Connects to one peer, prints what it sends, sends each line typed on standard input
as a chat line, and exchanges files and folders. "peers" looks for listening peers on
the local network for SECONDS (default 3) and prints one line for each:
NAME<TAB>ADDRESS<TAB>PORT. "id" prints this computer's fingerprint; "trust list" prints
the verified peers (FINGERPRINT<TAB>NAME<TAB>ADDRESSES), "trust forget" forgets one,
named by its fingerprint, the start of it (8 hex digits or more) or its name.

Sessions are encrypted: listen takes the port N and N+101 (encrypted), connect tries
N+101 first and falls back to N, marked as not encrypted, only for a peer never verified
(and not when 只使用加密连接 is chosen in the window). The first time two computers meet,
both show a 6-digit code (验证码); when both people answer that the codes are the same,
each remembers the other's key, and later sessions need no code. A known peer that
presents another key is refused with a warning.

Options:
  --port N          the control connection's port (default 6000)
  --save-to DIR     accept every offer into DIR (a single file under its offered name)
  --refuse          refuse every offer
  --max-size SIZE   refuse every offer larger than SIZE bytes (or K, M, G: KiB, MiB,
                    GiB); offers that do not fit the save folder's disk are always refused
  --resume          with --save-to: accept a single-file offer as the resumption of the
                    file of that name in DIR (received whole if DIR does not hold it)
  --exists WORD     what to do with a file that already exists: resume, again, skip or
                    stop (default stop)
  --send PATH...    once connected, offer these files and folders as one offer; give
                    --send again for another offer
  --say TEXT        once connected, send TEXT as a chat line
  --name NAME       listen: the name this computer is announced under on the local
                    network (default: the account's full name with the host name)
  --no-announce     listen: do not announce this computer on the local network
  --once            end after the first offer (this side's own, when it makes one) and
                    its transfer have ended, or the connection closed
  --keep            listen: listen again each time a peer leaves, until ended by
                    SIGTERM or SIGINT (an unattended inbox with --save-to); only
                    verified peers get a session
  --accept-anyone   listen --keep: take sessions from peers never verified too,
                    plain ones included
  --plain           the plain port only: neither encrypted nor verified
  --no-stream       encrypted sessions: do not offer streamed transfers, so that both
                    sides send files with the protocol's own records inside the
                    encryption (for diagnosis, and for comparing with a peer that has
                    no streamed transfers); nothing is checked by SHA-256 then
  --trust-first-contact
                    answer a first contact's code as the same without asking (for
                    tests and scripts; it trusts whoever answers)
  --json            print one JSON object per line and event on standard output (see
                    below); the lines a person reads go to standard error
  -h, --help        show this text

Without --save-to or --refuse, offers are asked about on the terminal, and refused when
standard input is not a terminal. Without --once or --keep, brisk-peer ends when the
connection closes, or when standard input is closed and nothing is left to do (no
connection being set up, no --send or --say waiting, no offer or transfer under way).
With --save-to or --refuse and neither --send nor --say, a closed standard input does
not end it: it serves the peer until the peer leaves.

With --json, every object has "event": "link" (with "state": listening, connecting,
connected, idle), "log" ("text"; "colour": black for what the peer sent, red and green
for this program's own lines), "notice" ("text"),
"question" ("text"), "offer" ("index", "own", "text"; the peer's also "bytes"), "offer-end" ("index",
"own", "outcome": accepted, refused, cancelled, failed), "transfer" ("index", "sender",
"file": its path here, as each file begins; "ms"), "resume" ("index", "sender", "offset": that
file continues the part the receiving side had, checked to be the start of the sender's
file; encrypted sessions), "progress" ("index", "sender", "fileDone", "fileSize", "done",
"total", "bytesPerSecond", "seconds"; once a second) and "verdict" ("index",
"sender", "complete", "cause": complete, incomplete, stopped-here, stopped-by-peer,
connection-lost, local-disk, peer-failed; "ms"). "ms" counts milliseconds from the start.

Exit status:
  0   normal end (with --once: the offer's transfer completed)
  1   with --once: the offer or its transfer did not complete, for a reason below none
      of the others names (cancelled, failed, files skipped)
  2   usage error
  3   network failure: listening or connecting failed, or with --once the transfer's
      connection broke or went silent (peers: discovery unavailable, the reason on
      standard error)
  4   with --once: the offer was refused
  5   with --once: the peer stopped the transfer
  6   with --once: a file here could not be created, written or read
  128+N  ended by signal N (after a clean shutdown)
)";
}

}  // namespace brisk
