// Streamed transfers between two peers that both offered them: the manifest, every
// question settled before the data, verified resume and the end-to-end check.

#include <gtest/gtest.h>

#include <fstream>

#include "common/diagnostics.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "support/raw_connection.h"
#include "transfer/content_hash.h"
#include "transfer/stream_frames.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

class StreamedTransfer : public Sandbox {
 protected:
  // Runs a streamed transfer of `names` (items of out/) into in/; the receiving side
  // listens.
  void run(TransferSide& sender, TransferSide& receiver, const std::vector<std::string>& names,
           int receiverFileCount) {
    const int port = freePortRange();
    sender.streamed = receiver.streamed = true;
    sender.offer(root() / "out", names, port, true);
    receiver.accept(folder("in"), receiverFileCount,
                    receiverFileCount == 1 ? 0 : sender.record->totalSize.load(), port, false);
    receiver.start();
    ASSERT_TRUE(waitUntilListening(port));
    sender.start();
    ASSERT_TRUE(sender.join()) << ::testing::PrintToString(sender.frontend.notices());
    ASSERT_TRUE(receiver.join()) << ::testing::PrintToString(receiver.frontend.notices());
  }

  // A tree of several files, one of them large enough to arrive in many pieces.
  fs::path makeTree() {
    const fs::path tree = root() / "out/照片";
    writeFile(tree / "子/深/文件.txt", patternBytes(5000, 1));
    writeFile(tree / "子/大.bin", patternBytes(3 << 20, 2));
    writeFile(tree / ".hidden", "secret");
    writeFile(tree / "zero.bin", "");
    writeFile(tree / "ro.txt", "read only");
    writeFile(root() / "out/elsewhere/not-sent.txt", "no");
    fs::create_directories(tree / "空");
    fs::create_symlink(root() / "out/elsewhere", tree / "link-to-folder");
    fs::permissions(tree / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
    std::int64_t when = 1400000000;
    for (const fs::path& p :
         {tree / "子/深/文件.txt", tree / "子/大.bin", tree / ".hidden", tree / "zero.bin",
          tree / "ro.txt", tree / "子/深", tree / "子", tree / "空", tree}) {
      setLastWrite(p, when += 1000);
    }
    return tree;
  }
};

TEST_F(StreamedTransfer, MovesATreeByteForByteWithAttributesAndTimes) {
  const fs::path tree = makeTree();
  writeFile(root() / "out/top.txt", patternBytes(777, 3));
  TransferSide sender;
  TransferSide receiver;
  run(sender, receiver, {"照片", "top.txt"}, 2);

  expectSameTree(tree, root() / "in/照片");
  EXPECT_EQ(readFile(root() / "in/top.txt"), patternBytes(777, 3));
  const std::uint64_t total = 5000 + (3 << 20) + 6 + 9 + 777;
  for (TransferSide* side : {&sender, &receiver}) {
    EXPECT_TRUE(side->record->protocolFinished);
    EXPECT_EQ(side->record->totalDone, total);
    EXPECT_TRUE(side->frontend.notices().empty()) << side->frontend.notices().front();
  }
  EXPECT_EQ(receiver.fileNames().size(), 6u);
}

// Every answer to the existing-file question, settled before any data; a resume whose
// part on disk is not the start of the offered file sends it again from the beginning.
TEST_F(StreamedTransfer, EveryExistingFileAnswerIsSettledBeforeTheData) {
  const std::string content = patternBytes(200 * 1024, 7);
  std::string otherStart = content.substr(0, 70001);
  otherStart[5] ^= 1;
  struct Case {
    const char* name;
    FileExistsAnswer answer;
    std::string onDisk;
    std::string expected;
    bool finished;
    bool notTheStart;
    std::vector<std::uint64_t> resumedAt;  // told on both sides
  } const cases[] = {
      {"resume", FileExistsAnswer::Resume, content.substr(0, 70001), content, true, false, {70001}},
      {"resume of a whole file",
       FileExistsAnswer::Resume,
       content,
       content,
       true,
       false,
       {content.size()}},
      {"resume of another file", FileExistsAnswer::Resume, otherStart, content, true, true, {}},
      {"again", FileExistsAnswer::TransferAgain, "old longer text", content, true, false, {}},
      {"skip", FileExistsAnswer::Skip, "kept", "kept", false, false, {}},
      {"stop", FileExistsAnswer::Stop, "kept", "kept", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root() / "in");
    writeFile(root() / "out/f/movie.bin", content);
    writeFile(root() / "out/f/new.txt", "new");
    writeFile(root() / "in/f/movie.bin", c.onDisk);
    TransferSide sender;
    TransferSide receiver;
    receiver.frontend.onFileExists = [&c](const std::filesystem::path&) {
      return FileExistsReply{c.answer, false};
    };
    run(sender, receiver, {"f"}, -1);

    EXPECT_EQ(readFile(root() / "in/f/movie.bin"), c.expected);
    EXPECT_EQ(fs::exists(root() / "in/f/new.txt"), c.answer != FileExistsAnswer::Stop);
    EXPECT_EQ(receiver.frontend.questions().size(), 1u);
    for (TransferSide* side : {&sender, &receiver}) {
      EXPECT_EQ(side->record->protocolFinished, c.finished);
      const auto& notices = side->frontend.notices();
      const bool told = std::any_of(notices.begin(), notices.end(), [](const std::string& text) {
        return text.starts_with("已有的文件不是这个文件的开头");
      });
      EXPECT_EQ(told, c.notTheStart);
      EXPECT_EQ(side->frontend.transferWindow(side->record->window).resumedAt, c.resumedAt);
    }
  }
}

TEST_F(StreamedTransfer, TheAlwaysAnswerStandsForEveryExistingFile) {
  for (const char* name : {"a", "b", "c"}) {
    writeFile(root() / "out/f" / name, std::string(100, *name));
    writeFile(root() / "in/f" / name, std::string(40, *name));
  }
  TransferSide sender;
  TransferSide receiver;
  receiver.frontend.onFileExists = [](const std::filesystem::path&) {
    return FileExistsReply{FileExistsAnswer::Resume, true};
  };
  run(sender, receiver, {"f"}, -1);
  EXPECT_EQ(receiver.frontend.questions().size(), 1u);
  for (const char* name : {"a", "b", "c"}) {
    EXPECT_EQ(readFile(root() / "in/f" / name), std::string(100, *name));
  }
  EXPECT_TRUE(sender.record->protocolFinished && receiver.record->protocolFinished);
}

// A stop from either side ends both; sending again, with a file cut in the middle as a
// broken connection leaves it, resumes to the same tree.
TEST_F(StreamedTransfer, AStopFromEitherSideThenSendingAgainResumesTheSameTree) {
  const fs::path tree = makeTree();
  for (const bool senderStops : {false, true}) {
    SCOPED_TRACE(senderStops ? "the sending side stops" : "the receiving side stops");
    fs::remove_all(root() / "in");
    {
      TransferSide sender;
      TransferSide receiver;
      TransferSide& stopping = senderStops ? sender : receiver;
      int shown = 0;
      stopping.frontend.onTransferFileName = [&](const std::string&) {
        if (++shown == 3) stopping.record->dataSocket.interrupt();
      };
      run(sender, receiver, {"照片"}, -1);
      EXPECT_TRUE(stopping.frontend.notices().empty()) << stopping.frontend.notices().front();
      EXPECT_FALSE(sender.record->protocolFinished || receiver.record->protocolFinished);
    }
    if (fs::exists(root() / "in/照片/子/大.bin")) {
      fs::resize_file(root() / "in/照片/子/大.bin", 123457);
    } else {
      writeFile(root() / "in/照片/子/大.bin", patternBytes(3 << 20, 2).substr(0, 123457));
    }
    TransferSide sender;
    TransferSide receiver;
    receiver.frontend.onFileExists = [](const std::filesystem::path&) {
      return FileExistsReply{FileExistsAnswer::Resume, true};
    };
    run(sender, receiver, {"照片"}, -1);
    expectSameTree(tree, root() / "in/照片");
    EXPECT_TRUE(sender.record->protocolFinished && receiver.record->protocolFinished);
  }
}

// A file that changes after it was listed or while it is read is named on both sides and
// the transfer does not complete; the other files still arrive.
TEST_F(StreamedTransfer, AFileThatChangesWhileSentIsNamedOnBothSides) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
  } const cases[] = {
      {"grows", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "more"; }},
      {"is rewritten", [](const fs::path& p) { setLastWrite(p, 1500000000); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root() / "in");
    const fs::path changing = root() / "out/f/changing.txt";
    writeFile(changing, patternBytes(4096, 5));
    writeFile(root() / "out/f/steady.txt", "steady");
    TransferSide sender;
    TransferSide receiver;
    sender.frontend.onTransferFileName = [&](const std::string& name) {
      if (name == changing.string()) c.change(changing);
    };
    run(sender, receiver, {"f"}, -1);

    EXPECT_EQ(readFile(root() / "in/f/steady.txt"), "steady");
    for (TransferSide* side : {&sender, &receiver}) {
      EXPECT_FALSE(side->record->protocolFinished);
      ASSERT_EQ(side->frontend.notices().size(), 1u);
      EXPECT_NE(side->frontend.notices()[0].find("changing.txt"), std::string::npos);
      EXPECT_NE(side->frontend.notices()[0].find("被改动"), std::string::npos);
    }
  }
}

// A manifest the receiving side must refuse: it answers with an error line and creates
// nothing.
TEST_F(StreamedTransfer, AHostileManifestIsRefusedBeforeAnythingIsCreated) {
  const auto file = [](std::string_view name) {
    return manifestRecord({ManifestEntry::Kind::File, std::string(name), 1, {}});
  };
  const auto folderNamed = [](std::string_view name) {
    FileAttributeData data;
    data.attributes = kAttributeDirectory;
    return manifestRecord({ManifestEntry::Kind::Folder, std::string(name), 0, data});
  };
  const std::string upward = manifestRecord({ManifestEntry::Kind::Upward, {}, 0, {}});
  struct Case {
    const char* name;
    std::string frames;
  } const cases[] = {
      {"dot dot", frameBytes(FrameKind::Manifest, folderNamed("..") + file("x") + upward)},
      {"a slash", frameBytes(FrameKind::Manifest, file("a/b"))},
      {"an upward step first", frameBytes(FrameKind::Manifest, upward + file("x"))},
      {"a broken record", frameBytes(FrameKind::Manifest, "\\x\r\nFileSize:1")},
      {"a folder left open", frameBytes(FrameKind::Manifest, folderNamed("d")) +
                                 frameBytes(FrameKind::ManifestEnd) +
                                 frameBytes(FrameKind::PlanEnd)},
      {"not a frame", std::string("Q\0\0\0\0", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TransferSide receiver;
    receiver.streamed = true;
    const int port = freePortRange();
    receiver.accept(folder("in"), 1, 0, port, false);
    receiver.start();
    RawConnection peer = RawConnection::connectTo(port);
    peer.send(c.frames);
    const std::string answer = peer.receiveToEnd();
    peer.close();
    ASSERT_TRUE(receiver.join());
    EXPECT_EQ(answer.substr(0, 1), "X");
    EXPECT_NE(answer.find(gbk(kMalformedLine)), std::string::npos);
    EXPECT_TRUE(fs::is_empty(root() / "in"));
    EXPECT_FALSE(receiver.record->protocolFinished);
  }
}

// A sending side whose check of a file differs from what the receiving side wrote: the
// file is named, failed back to the sender, and the transfer does not complete; the other
// file is kept. Once for a small file and once for one that arrives in many pieces.
TEST_F(StreamedTransfer, AFileWhoseCheckDiffersIsNamedAndFailsTheTransfer) {
  const std::string contents[] = {patternBytes(100, 3), patternBytes((1 << 20) + 5, 4)};
  const char* const names[] = {"small.bin", "large.bin"};
  for (const std::uint32_t wrong : {0u, 1u}) {
    SCOPED_TRACE(names[wrong]);
    TransferSide receiver;
    receiver.streamed = true;
    const int port = freePortRange();
    const fs::path in = folder(std::string("in-") + names[wrong]);
    receiver.accept(in, 2, contents[0].size() + contents[1].size(), port, false);
    receiver.start();
    RawConnection peer = RawConnection::connectTo(port);
    std::string manifest;
    for (int i = 0; i < 2; ++i) {
      manifest += manifestRecord({ManifestEntry::Kind::File, names[i], contents[i].size(), {}});
    }
    ASSERT_TRUE(
        peer.send(frameBytes(FrameKind::Manifest, manifest) + frameBytes(FrameKind::ManifestEnd)));
    std::string received;
    const auto nextFrame = [&]() -> std::optional<Frame> {
      for (;;) {
        if (const auto length = completeFrameLength(received)) {
          std::optional<Frame> frame = parseFrame(std::string_view(received).substr(0, *length));
          received.erase(0, *length);
          return frame;
        }
        const std::string more = peer.receiveSome();
        if (more.empty()) return std::nullopt;
        received += more;
      }
    };
    for (std::optional<Frame> frame = nextFrame(); frame && frame->kind != FrameKind::PlanEnd;
         frame = nextFrame()) {
      ASSERT_EQ(frame->kind, FrameKind::Plan);
    }
    ContentCheck check(ContentKey{});  // a plain connection's key
    for (std::uint32_t i = 0; i < 2; ++i) {
      check.start(i);
      check.update(contents[i].data(), contents[i].size());
      FileEnd end{i, FileProblem::None, check.finish()};
      if (i == wrong) end.tag[0] ^= 1;
      ASSERT_TRUE(peer.send(frameBytes(FrameKind::FileStart, fileStartBytes({i, 0})) + contents[i] +
                            frameBytes(FrameKind::FileEnd, fileEndBytes(end))));
    }
    ASSERT_TRUE(peer.send(frameBytes(FrameKind::End)));
    std::optional<FileNumber> failed;
    for (std::optional<Frame> frame = nextFrame(); frame; frame = nextFrame()) {
      if (frame->kind == FrameKind::FileFailed) failed = parseFileNumber(frame->payload);
      if (frame->kind == FrameKind::Done || frame->kind == FrameKind::Abort) break;
    }
    peer.close();
    ASSERT_TRUE(receiver.join());
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->file, wrong);
    EXPECT_EQ(failed->problem, FileProblem::Mismatch);
    EXPECT_FALSE(receiver.record->protocolFinished);
    const std::vector<std::string> notices = receiver.frontend.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(names[wrong]), std::string::npos);
    EXPECT_EQ(readFile(in / names[1 - wrong]), contents[1 - wrong]);
  }
}

}  // namespace
}  // namespace brisk::test
