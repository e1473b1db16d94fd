// Two transfer threads, one sending and one receiving, over loopback.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include "common/file_queue.h"
#include "platform/file_system.h"
#include "support/raw_connection.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

class TransferPair : public Sandbox {
 protected:
  // Starts both sides: the receiving side listens unless `senderListens`.
  void run(TransferSide& sender, TransferSide& receiver, const std::vector<std::string>& names,
           int receiverFileCount, bool senderListens = false) {
    const int port = freePortRange();
    sender.offer(root() / "out", names, port, !senderListens);
    receiver.accept(folder("in"), receiverFileCount,
                    receiverFileCount == 1 ? 0 : sender.record->totalSize.load(), port,
                    senderListens);
    TransferSide& listening = senderListens ? sender : receiver;
    TransferSide& connecting = senderListens ? receiver : sender;
    listening.start();
    ASSERT_TRUE(waitUntilListening(port)) << ::testing::PrintToString(listening.frontend.notices());
    connecting.start();
    ASSERT_TRUE(sender.join()) << ::testing::PrintToString(sender.frontend.notices());
    ASSERT_TRUE(receiver.join()) << ::testing::PrintToString(receiver.frontend.notices());
  }
};

TEST_F(TransferPair, MovesATreeWithItsContentsAttributesAndTimes) {
  const fs::path tree = root() / "out/照片";
  writeFile(tree / "子/深/文件.txt", patternBytes(5000, 1));
  writeFile(tree / "子/大.bin", patternBytes(300 * 1024, 2));
  writeFile(tree / ".hidden", "secret");
  writeFile(tree / "zero.bin", "");
  writeFile(tree / "ro.txt", "read only");
  writeFile(root() / "out/elsewhere/not-sent.txt", "no");
  writeFile(root() / "out/top.txt", patternBytes(777, 3));
  fs::create_directories(tree / "空");
  fs::create_directories(tree / ".隐藏目录");
  fs::create_symlink(root() / "out/elsewhere", tree / "link-to-folder");
  fs::permissions(tree / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
  std::int64_t when = 1400000000;
  for (const fs::path& p : {tree / "子/深/文件.txt", tree / "子/大.bin", tree / ".hidden",
                            tree / "zero.bin", tree / "ro.txt", root() / "out/top.txt",
                            tree / "子/深", tree / "子", tree / "空", tree / ".隐藏目录", tree}) {
    setLastWrite(p, when += 1000);
  }

  TransferSide sender;
  TransferSide receiver;
  run(sender, receiver, {"照片", "top.txt"}, 2);

  expectSameTree(root() / "out/照片", root() / "in/照片");
  EXPECT_EQ(readFile(root() / "in/top.txt"), patternBytes(777, 3));
  EXPECT_FALSE(fs::exists(root() / "in/照片/link-to-folder"));
  const std::uint64_t total = 5000 + 300 * 1024 + 6 + 9 + 777;
  EXPECT_EQ(sender.record->totalSize, total);
  for (TransferSide* side : {&sender, &receiver}) {
    EXPECT_EQ(side->result(), 0);
    EXPECT_EQ(side->record->totalDone, total);
    EXPECT_EQ(side->record->fileDone, 0u);
    EXPECT_TRUE(side->frontend.notices().empty()) << side->frontend.notices().front();
    EXPECT_EQ(side->frontend.beeps(), 1);
    EXPECT_FALSE(side->record->pathBuffer);
    EXPECT_TRUE(side->record->fileQueue.empty());
  }
  EXPECT_EQ(receiver.fileNames().size(), 6u);
}

TEST_F(TransferPair, ASingleFileIsSavedUnderTheChosenNameWithRolesSwapped) {
  writeFile(root() / "out/原名.txt", patternBytes(70000));
  TransferSide sender;
  TransferSide receiver;
  receiver.record->saveAsName = "另存为.txt";
  run(sender, receiver, {"原名.txt"}, 1, true);

  EXPECT_EQ(readFile(root() / "in/另存为.txt"), patternBytes(70000));
  EXPECT_FALSE(fs::exists(root() / "in/原名.txt"));
  EXPECT_FALSE(receiver.record->saveAsName);
  // In a single-file transfer the file's bytes stay in fileDone.
  for (TransferSide* side : {&sender, &receiver}) {
    EXPECT_EQ(side->record->fileDone, 70000u);
    EXPECT_EQ(side->record->totalDone, 0u);
    EXPECT_EQ(side->record->totalSize, 70000u);
    EXPECT_TRUE(side->frontend.notices().empty());
  }
}

TEST_F(TransferPair, ItemsFromSeveralFoldersAreEachSentFromTheirOwn) {
  writeFile(root() / "desk/a.txt", "from the desk");
  writeFile(root() / "docs/sub/b.txt", "from the docs");
  writeFile(root() / "out/c.txt", "from the offer folder");
  TransferSide sender;
  TransferSide receiver;
  const int port = freePortRange();
  sender.offer(root() / "out", {"c.txt"}, port, true);
  fileQueuePush(sender.record->fileQueue, "a.txt", attributesOf(root() / "desk/a.txt"),
                root() / "desk");
  fileQueuePush(sender.record->fileQueue, "sub", attributesOf(root() / "docs/sub"),
                root() / "docs");
  fileQueuePush(sender.record->fileQueue, "gone.txt", attributesOf(root() / "out/c.txt"),
                root() / "nowhere");
  sender.frontend.onYesNo = [](const std::string&) { return true; };
  receiver.accept(folder("in"), 4, 0, port, false);
  receiver.start();
  ASSERT_TRUE(waitUntilListening(port));
  sender.start();
  ASSERT_TRUE(sender.join());
  ASSERT_TRUE(receiver.join());

  EXPECT_EQ(readFile(root() / "in/c.txt"), "from the offer folder");
  EXPECT_EQ(readFile(root() / "in/a.txt"), "from the desk");
  EXPECT_EQ(readFile(root() / "in/sub/b.txt"), "from the docs");
  EXPECT_EQ(sender.frontend.questions().size(), 1u);  // the file whose folder is gone
  EXPECT_TRUE(receiver.frontend.notices().empty());
}

TEST_F(TransferPair, ResumesAPartlyReceivedFile) {
  const std::string content = patternBytes(200 * 1024, 7);
  writeFile(root() / "out/movie.bin", content);
  setLastWrite(root() / "out/movie.bin", 1300000000);
  writeFile(root() / "in/movie.bin", content.substr(0, 70001));
  TransferSide sender;
  TransferSide receiver;
  receiver.record->openMode = kOpenModeResume;
  receiver.frontend.onFileExists = [](const std::string&) {
    return FileExistsReply{FileExistsAnswer::Resume, false};
  };
  run(sender, receiver, {"movie.bin"}, 1);

  EXPECT_EQ(readFile(root() / "in/movie.bin"), content);
  EXPECT_EQ(lastWriteNanoseconds(root() / "in/movie.bin"), 1300000000123456700LL);
  // Asked about the existing file by its full path (the dialog words the question).
  EXPECT_EQ(receiver.frontend.questions(),
            std::vector<std::string>{(root() / "in/movie.bin").string()});
  EXPECT_EQ(receiver.record->fileDone, content.size());
  EXPECT_TRUE(sender.frontend.notices().empty());
  EXPECT_TRUE(receiver.frontend.notices().empty());
}

// A local file longer than the offered one is not its beginning: "resuming" it would move
// nothing, and both sides would count two different files as one transfer. It is skipped,
// untouched, the person is told, and neither side reports the transfer complete.
TEST_F(TransferPair, ResumingOntoALongerLocalFileSkipsItAndNothingIsComplete) {
  writeFile(root() / "out/short.txt", "short");
  setLastWrite(root() / "out/short.txt", 1200000000);
  writeFile(root() / "out/other.txt", "other");
  writeFile(root() / "in/short.txt", "much longer local text");
  setLastWrite(root() / "in/short.txt", 1100000000);
  for (const int fileCount : {2, 1}) {
    SCOPED_TRACE(fileCount == 1 ? "the one file, chosen to resume" : "one of two files");
    TransferSide sender;
    TransferSide receiver;
    if (fileCount == 1) receiver.record->openMode = kOpenModeResume;
    receiver.frontend.onFileExists = [](const std::string&) {
      return FileExistsReply{FileExistsAnswer::Resume, false};
    };
    run(sender, receiver,
        fileCount == 1 ? std::vector<std::string>{"short.txt"}
                       : std::vector<std::string>{"short.txt", "other.txt"},
        fileCount);

    EXPECT_EQ(readFile(root() / "in/short.txt"), "much longer local text");
    EXPECT_EQ(lastWriteNanoseconds(root() / "in/short.txt"), 1100000000123456700LL);
    EXPECT_EQ(receiver.frontend.notices(),
              std::vector<std::string>{"本地文件比对方的文件大，不能续传，已跳过：\r\n" +
                                       (root() / "in/short.txt").string() +
                                       "\r\n本地文件 22 字节，对方的文件 5 字节。"});
    EXPECT_TRUE(sender.frontend.notices().empty());
    EXPECT_FALSE(receiver.record->protocolFinished);
    EXPECT_FALSE(sender.record->protocolFinished);
    EXPECT_EQ(sender.record->fileDone + sender.record->totalDone, fileCount == 1 ? 0u : 5u);
  }
  EXPECT_EQ(readFile(root() / "in/other.txt"), "other");
}

TEST_F(TransferPair, AMissingResumeTargetEndsTheTransferOnBothSides) {
  writeFile(root() / "out/gone.txt", "data");
  TransferSide sender;
  TransferSide receiver;
  receiver.record->openMode = kOpenModeResume;
  run(sender, receiver, {"gone.txt"}, 1);

  EXPECT_FALSE(fs::exists(root() / "in/gone.txt"));
  EXPECT_EQ(receiver.frontend.notices(), std::vector<std::string>{"要续传的文件不存在。"});
  EXPECT_EQ(sender.frontend.notices(), std::vector<std::string>{"要续传的文件不存在\r\n对方"});
}

struct ExistsCase {
  const char* name;
  std::vector<FileExistsReply> replies;  // in the order the dialog is shown
  std::size_t questions;
  std::vector<std::string> results;  // contents of a, b and c afterwards
  std::vector<std::string> senderNotices;
  bool receiverNotice;
};

class FileExists : public TransferPair, public ::testing::WithParamInterface<ExistsCase> {};

TEST_P(FileExists, EachAnswerIsCarriedOut) {
  const ExistsCase& c = GetParam();
  for (const char* name : {"a", "b", "c"}) {
    writeFile(root() / "out" / name, std::string(name) + "-remote-content");
  }
  writeFile(root() / "in/a", "a-remote");  // a partial copy
  writeFile(root() / "in/b", "b-local-content-that-is-long");
  writeFile(root() / "in/c", "c-local");
  TransferSide sender;
  TransferSide receiver;
  std::size_t asked = 0;
  receiver.frontend.onFileExists = [&](const std::string&) {
    return asked < c.replies.size() ? c.replies[asked++] : FileExistsReply{};
  };
  run(sender, receiver, {"a", "b", "c"}, 3);

  EXPECT_EQ(receiver.frontend.questions().size(), c.questions);
  EXPECT_EQ(readFile(root() / "in/a"), c.results[0]);
  EXPECT_EQ(readFile(root() / "in/b"), c.results[1]);
  EXPECT_EQ(readFile(root() / "in/c"), c.results[2]);
  EXPECT_EQ(sender.frontend.notices(), c.senderNotices);
  EXPECT_EQ(receiver.frontend.notices().size(), c.receiverNotice ? 1u : 0u);
}

const std::string kRemoteA = "a-remote-content";
const std::string kRemoteB = "b-remote-content";
const std::string kRemoteC = "c-remote-content";
const std::string kLocalB = "b-local-content-that-is-long";

INSTANTIATE_TEST_SUITE_P(Answers, FileExists,
                         ::testing::Values(ExistsCase{"EachAskedResumeAgainSkip",
                                                      {{FileExistsAnswer::Resume, false},
                                                       {FileExistsAnswer::TransferAgain, false},
                                                       {FileExistsAnswer::Skip, false}},
                                                      3,
                                                      {kRemoteA, kRemoteB, "c-local"},
                                                      {},
                                                      false},
                                           ExistsCase{"AlwaysSkip",
                                                      {{FileExistsAnswer::Skip, true}},
                                                      1,
                                                      {"a-remote", kLocalB, "c-local"},
                                                      {},
                                                      false},
                                           ExistsCase{"AlwaysTransferAgain",
                                                      {{FileExistsAnswer::TransferAgain, true}},
                                                      1,
                                                      {kRemoteA, kRemoteB, kRemoteC},
                                                      {},
                                                      false},
                                           // b is longer here than offered: not resumed.
                                           ExistsCase{
                                               "AlwaysResume",
                                               {{FileExistsAnswer::Resume, true}},
                                               1,
                                               {kRemoteA, kLocalB, "c-local" + kRemoteC.substr(7)},
                                               {},
                                               true},
                                           ExistsCase{"SkipThenAlwaysAgain",
                                                      {{FileExistsAnswer::Skip, false},
                                                       {FileExistsAnswer::TransferAgain, true}},
                                                      2,
                                                      {"a-remote", kRemoteB, kRemoteC},
                                                      {},
                                                      false},
                                           ExistsCase{"Stop",
                                                      {{FileExistsAnswer::Stop, false}},
                                                      1,
                                                      {"a-remote", kLocalB, "c-local"},
                                                      {"对方已终止文件传输。"},
                                                      false},
                                           ExistsCase{"ClosedWithoutAnswer",
                                                      {{FileExistsAnswer::None, true}},
                                                      1,
                                                      {"a-remote", kLocalB, "c-local"},
                                                      {"对方创建打开文件失败。"},
                                                      true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferPair, AMissingFolderOnEitherSideIsReportedToBoth) {
  writeFile(root() / "out/a.txt", "a");
  {
    TransferSide sender;
    TransferSide receiver;
    const int port = freePortRange();
    sender.offer(root() / "out", {"a.txt"}, port, true);
    receiver.accept(root() / "nowhere/", 1, 0, port, false);
    receiver.start();
    ASSERT_TRUE(waitUntilListening(port));
    sender.start();
    ASSERT_TRUE(sender.join());
    ASSERT_TRUE(receiver.join());
    const std::string text = "Cannot find the path specified:\r\n" + (root() / "nowhere").string();
    EXPECT_EQ(receiver.frontend.notices(), std::vector<std::string>{text});
    EXPECT_EQ(sender.frontend.notices(), std::vector<std::string>{text + "\r\n对方"});
    EXPECT_EQ(receiver.frontend.beeps(), 1);
  }
  {
    TransferSide sender;
    TransferSide receiver;
    const int port = freePortRange();
    sender.offer(root() / "out", {"a.txt"}, port, true);
    sender.record->pathBuffer = root() / "out/a.txt";
    receiver.accept(folder("in"), 1, 0, port, false);
    receiver.start();
    ASSERT_TRUE(waitUntilListening(port));
    sender.start();
    ASSERT_TRUE(sender.join());
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(sender.frontend.notices(),
              std::vector<std::string>{"It's not a directory but a file:\r\n" +
                                       (root() / "out/a.txt").string()});
    EXPECT_TRUE(receiver.frontend.notices().empty());
  }
}

TEST_F(TransferPair, AFileThatCannotBeOpenedIsSkippedOrEndsTheTransfer) {
  writeFile(root() / "out/gone.txt", "soon gone");
  writeFile(root() / "out/kept.txt", "kept");
  for (const bool skip : {true, false}) {
    TransferSide sender;
    TransferSide receiver;
    sender.frontend.onYesNo = [skip](const std::string&) { return skip; };
    const int port = freePortRange();
    sender.offer(root() / "out", {"gone.txt", "kept.txt"}, port, true);
    fs::rename(root() / "out/gone.txt", root() / "out/moved.txt");
    receiver.accept(folder(skip ? "in-skip" : "in-stop"), 2, 0, port, false);
    receiver.start();
    ASSERT_TRUE(waitUntilListening(port));
    sender.start();
    ASSERT_TRUE(sender.join());
    ASSERT_TRUE(receiver.join());
    fs::rename(root() / "out/moved.txt", root() / "out/gone.txt");

    const std::string line = "CreateFile failed:\r\n" + (root() / "out/gone.txt").string() +
                             "\r\nError code: 2\r\nNo such file or directory\r\n";
    EXPECT_EQ(sender.frontend.questions(),
              std::vector<std::string>{"本地打开文件失败：\r\n" + line +
                                       "\r\n\r\n您要忽略跳过此文件以继续吗？"});
    EXPECT_TRUE(sender.frontend.notices().empty());
    if (skip) {
      EXPECT_EQ(readFile(root() / "in-skip/kept.txt"), "kept");
      EXPECT_TRUE(receiver.frontend.notices().empty());
    } else {
      EXPECT_FALSE(fs::exists(root() / "in-stop/kept.txt"));
      EXPECT_EQ(receiver.frontend.notices(),
                std::vector<std::string>{"对方打开文件失败：\r\n" + line});
    }
  }
}

TEST_F(TransferPair, TheListeningSideTakesOnlyThePeersConnection) {
  writeFile(root() / "out/a.txt", "only for the peer");
  TransferSide sender;
  TransferSide receiver;
  const int port = freePortRange();
  sender.offer(root() / "out", {"a.txt"}, port, true);
  receiver.accept(folder("in"), 1, 0, port, false);
  receiver.start();
  ASSERT_TRUE(waitUntilListening(port));
  RawConnection stranger = RawConnection::connectTo(port, "127.0.0.2");
  if (!stranger.isOpen()) {
    receiver.record->dataSocket.interrupt();
    GTEST_SKIP() << "cannot connect from 127.0.0.2 on this machine";
  }
  EXPECT_TRUE(stranger.waitForClose());
  sender.start();
  ASSERT_TRUE(sender.join());
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(readFile(root() / "in/a.txt"), "only for the peer");
  EXPECT_TRUE(receiver.frontend.notices().empty());
}

TEST_F(TransferPair, AConnectingSideThatComesFirstWaitsForTheListener) {
  writeFile(root() / "out/a.txt", "early");
  TransferSide sender;
  TransferSide receiver;
  const int port = freePortRange();
  sender.offer(root() / "out", {"a.txt"}, port, true);
  receiver.accept(folder("in"), 1, 0, port, false);
  sender.start();
  receiver.start();
  ASSERT_TRUE(sender.join());
  ASSERT_TRUE(receiver.join());
  EXPECT_EQ(readFile(root() / "in/a.txt"), "early");
  EXPECT_TRUE(sender.frontend.notices().empty());
}

// Fills the accept queue of a loopback listener that never accepts, so that the system drops
// every further SYN to it: each connection is kept until one is left unanswered for a
// second (the first SYN retry), which only a full queue does on loopback.
std::vector<Socket> fillAcceptQueue(int port) {
  std::vector<Socket> held;
  for (int attempt = 0; attempt < 64; ++attempt) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    pollfd pfd{socket.fd(), POLLOUT, 0};
    const bool answered = ::poll(&pfd, 1, 1000) == 1;
    held.push_back(std::move(socket));
    if (!answered) break;
  }
  return held;
}

TEST_F(TransferPair, AConnectThatIsNeverAnsweredEndsAtTheAcceptLimit) {
  const int port = freePortRange();
  SocketResult deaf = listenTcp(static_cast<std::uint16_t>(port), 0);
  ASSERT_TRUE(deaf.ok());
  const std::vector<Socket> held = fillAcceptQueue(port);
  writeFile(root() / "out/a.txt", "a");
  TransferSide sender;
  sender.timing.acceptLimit = std::chrono::milliseconds(300);
  sender.offer(root() / "out", {"a.txt"}, port, true);
  sender.start();
  // Without the limit the system's SYN retries would hold the thread about two minutes.
  ASSERT_TRUE(sender.join(std::chrono::seconds(5)));
  EXPECT_EQ(sender.result(), -1);
  ASSERT_EQ(sender.frontend.notices().size(), 1u);
  EXPECT_EQ(sender.frontend.notices()[0].rfind("connect failed.\r\nError code: 110\r\n", 0), 0u);
}

TEST_F(TransferPair, SetUpFailuresEndWithoutABeep) {
  {
    TransferSide receiver;
    receiver.timing.acceptLimit = std::chrono::milliseconds(50);
    receiver.accept(folder("in"), 1, 0, freePortRange(), false);
    receiver.record->saveAsName = "x";
    receiver.start();
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(receiver.result(), -1);
    ASSERT_EQ(receiver.frontend.notices().size(), 1u);
    EXPECT_EQ(receiver.frontend.notices()[0].rfind("accept failed.\r\nError code: 110\r\n", 0), 0u);
    EXPECT_EQ(receiver.frontend.beeps(), 0);
    EXPECT_FALSE(receiver.record->pathBuffer);
    EXPECT_FALSE(receiver.record->saveAsName);
  }
  {
    TransferSide sender;
    sender.timing.acceptLimit = std::chrono::milliseconds(50);
    writeFile(root() / "out/a.txt", "a");
    sender.offer(root() / "out", {"a.txt"}, freePortRange(), true);
    sender.start();
    ASSERT_TRUE(sender.join());
    EXPECT_EQ(sender.result(), -1);
    ASSERT_EQ(sender.frontend.notices().size(), 1u);
    EXPECT_EQ(sender.frontend.notices()[0].rfind("connect failed.\r\nError code: 111\r\n", 0), 0u);
    EXPECT_TRUE(sender.record->fileQueue.empty());
  }
  {
    // A shutdown that came first: nothing is tried and nothing shown.
    TransferSide receiver;
    receiver.stopping = true;
    receiver.accept(folder("in"), 1, 0, freePortRange(), false);
    receiver.start();
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(receiver.result(), -1);
    EXPECT_TRUE(receiver.frontend.notices().empty());
  }
}

}  // namespace
}  // namespace brisk::test
