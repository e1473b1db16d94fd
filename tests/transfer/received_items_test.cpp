// What the receiving side makes of folders and names from other systems: read-only folders,
// folders that are already there (resuming a folder), and names that must not be created.

#include <functional>
#include <map>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

class ReceivedItems : public Sandbox {
 protected:
  // A receiving transfer thread that listens; the raw peer connects as the sender.
  RawConnection startReceiver(TransferSide& side) {
    const int port = freePortRange();
    side.accept(folder("in"), -1, 0, port, false);
    side.start();
    return RawConnection::connectTo(port);
  }

  static FileAttributeData attributes(std::uint32_t bits) {
    FileAttributeData data;
    data.attributes = bits;
    data.lastWriteTime = fileTimeFromUnix(1600000000, 0);
    data.lastAccessTime = data.lastWriteTime;
    return data;
  }

  // Every entry below `top`, relative, with a file's bytes or "/" for a folder.
  static std::map<std::string, std::string> treeOf(const fs::path& top) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
      const std::string name = fs::relative(entry.path(), top).string();
      tree[name] = entry.is_directory() ? "/" : readFile(entry.path());
    }
    return tree;
  }
};

TEST_F(ReceivedItems, AReadOnlyFolderStaysWritableWhileItsFilesKeepTheBit) {
  TransferSide receiver;
  RawConnection peer = startReceiver(receiver);
  peer.send(folderRecord("Documents", attributes(kAttributeDirectory | kAttributeReadOnly)));
  ASSERT_EQ(peer.receive(1), "0");
  peer.send(fileHeader("note.txt", 4, attributes(kAttributeArchive | kAttributeReadOnly)));
  ASSERT_EQ(peer.receive(2), "+0");
  peer.send("note");
  ASSERT_EQ(peer.receive(1), "0");
  peer.send(kUpwardRecord);
  ASSERT_EQ(peer.receive(1), "0");
  peer.send(fixedRecord(kEndText));
  peer.close();
  ASSERT_TRUE(receiver.join());

  EXPECT_TRUE(receiver.frontend.notices().empty());
  EXPECT_TRUE(isOwnerWritable(root() / "in/Documents"));
  EXPECT_FALSE(isOwnerWritable(root() / "in/Documents/note.txt"));
  // Writable for real: the person can add files to it.
  writeFile(root() / "in/Documents/added.txt", "mine");
  EXPECT_EQ(readFile(root() / "in/Documents/added.txt"), "mine");
}

TEST_F(ReceivedItems, AnInterruptedFolderTransferIsResumedByteForByte) {
  const std::string big = patternBytes(3 << 20, 7);
  writeFile(root() / "out/Tree/a.txt", patternBytes(5000, 1));
  writeFile(root() / "out/Tree/sub/big.bin", big);
  writeFile(root() / "out/Tree/sub/deeper/c.txt", patternBytes(70000, 3));
  writeFile(root() / "out/Tree/z.txt", "");
  {
    // The first attempt ends in the middle of sub/big.bin.
    TransferSide receiver;
    RawConnection peer = startReceiver(receiver);
    peer.send(folderRecord("Tree", attributes(kAttributeDirectory)));
    ASSERT_EQ(peer.receive(1), "0");
    peer.send(fileHeader("a.txt", 5000, attributes(kAttributeArchive)));
    ASSERT_EQ(peer.receive(2), "+0");
    peer.send(readFile(root() / "out/Tree/a.txt"));
    ASSERT_EQ(peer.receive(1), "0");
    peer.send(folderRecord("sub", attributes(kAttributeDirectory)));
    ASSERT_EQ(peer.receive(1), "0");
    peer.send(fileHeader("big.bin", big.size(), attributes(kAttributeArchive)));
    ASSERT_EQ(peer.receive(2), "+0");
    peer.send(std::string_view(big).substr(0, 100000));
    ASSERT_TRUE(waitFor([&] { return receiver.record->fileDone == 100000; }));
    peer.close();
    ASSERT_TRUE(receiver.join());
  }

  TransferSide sender;
  TransferSide receiver;
  std::vector<std::string> asked;
  receiver.frontend.onFileExists = [&](const std::string& text) {
    asked.push_back(text);
    return FileExistsReply{FileExistsAnswer::Resume, true};  // 断点续传, 始终采取相同操作
  };
  const int port = freePortRange();
  sender.offer(root() / "out", {"Tree"}, port, true);
  receiver.accept(root() / "in", -1, sender.record->totalSize, port, false);
  receiver.start();
  ASSERT_TRUE(waitUntilListening(port));
  sender.start();
  ASSERT_TRUE(sender.join());
  ASSERT_TRUE(receiver.join());

  EXPECT_TRUE(receiver.frontend.notices().empty());
  EXPECT_TRUE(sender.frontend.notices().empty());
  ASSERT_EQ(asked.size(), 1u);  // the first file already there, then "always"
  EXPECT_NE(asked[0].find("in/Tree/"), std::string::npos);
  EXPECT_EQ(treeOf(root() / "in/Tree"), treeOf(root() / "out/Tree"));
}

TEST_F(ReceivedItems, AFileOrALinkWhereTheFolderShouldBeStillFails) {
  folder("elsewhere");
  writeFile(root() / "in/plain", "file");
  fs::create_symlink(root() / "elsewhere", root() / "in/linked");
  for (const std::string name : {"plain", "linked"}) {
    SCOPED_TRACE(name);
    TransferSide receiver;
    RawConnection peer = startReceiver(receiver);
    peer.send(folderRecord(name, attributes(kAttributeDirectory)));
    const std::string answer = peer.receiveToEnd();
    EXPECT_EQ(answer.rfind("| CreateDirectory failed:\r\n", 0), 0u);
    EXPECT_NE(answer.find("File exists"), std::string::npos);
    peer.close();
    ASSERT_TRUE(receiver.join());
    EXPECT_TRUE(receiver.frontend.waitForNotice("本地创建打开目录失败："));
  }
  EXPECT_EQ(readFile(root() / "in/plain"), "file");
  EXPECT_TRUE(fs::is_empty(root() / "elsewhere"));
}

// Whatever already holds a received file's name is asked about once, like a file, and each
// answer is carried out without writing to it: only a regular file is ever opened.
TEST_F(ReceivedItems, AnythingInTheWayOfAFileIsAskedAboutAndLeftAlone) {
  writeFile(root() / "outside/victim", "keep");
  struct Item {
    const char* name;
    std::function<void(const fs::path&)> make;
    const char* openError;  // what opening it for resuming or writing again says
  };
  const std::vector<Item> items = {
      {"folder", [](const fs::path& at) { fs::create_directories(at); }, "Is a directory"},
      {"link", [&](const fs::path& at) { fs::create_symlink(root() / "outside/victim", at); },
       "Too many levels of symbolic links"},
      {"dangling", [&](const fs::path& at) { fs::create_symlink(root() / "outside/ghost", at); },
       "Too many levels of symbolic links"},
      {"fifo", [](const fs::path& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); },
       "Invalid argument"},
  };
  for (const Item& item : items) {
    const std::vector<std::pair<FileExistsAnswer, std::string>> answers = {
        {FileExistsAnswer::Resume, item.openError},
        {FileExistsAnswer::TransferAgain, item.openError},
        {FileExistsAnswer::Skip, fixedRecord(kSkipText)},
        {FileExistsAnswer::Stop, fixedRecord(kStopText)},
        {FileExistsAnswer::None, "File exists"},
    };
    for (const auto& [answer, expected] : answers) {
      SCOPED_TRACE(std::string(item.name) + ", answer " + std::to_string(static_cast<int>(answer)));
      fs::remove_all(root() / "in");
      fs::create_directories(root() / "in");
      const fs::path target = root() / "in" / item.name;
      item.make(target);
      const fs::file_type before = fs::symlink_status(target).type();
      TransferSide receiver;
      receiver.frontend.onFileExists = [answer = answer](const fs::path&) {
        return FileExistsReply{answer, false};
      };
      RawConnection peer = startReceiver(receiver);
      peer.send(fileHeader(item.name, 4, attributes(kAttributeArchive)));
      std::string reply;
      if (answer == FileExistsAnswer::Skip) {
        reply = peer.receive(kFixedRecordSize);
        peer.send(fixedRecord(kEndText));
      } else {
        reply = peer.receiveToEnd();
      }
      peer.close();
      ASSERT_TRUE(receiver.join());

      ASSERT_EQ(receiver.frontend.questions().size(), 1u);
      EXPECT_NE(receiver.frontend.questions()[0].find("in/" + std::string(item.name)),
                std::string::npos);
      if (answer == FileExistsAnswer::Skip || answer == FileExistsAnswer::Stop) {
        EXPECT_EQ(reply, expected);
      } else {
        EXPECT_EQ(reply.rfind("| CreateFile failed:\r\n", 0), 0u) << reply;
        EXPECT_NE(reply.find(expected), std::string::npos) << reply;
      }
      EXPECT_EQ(fs::symlink_status(target).type(), before);
      if (before == fs::file_type::directory) {
        EXPECT_TRUE(fs::is_empty(target));
      }
      EXPECT_EQ(readFile(root() / "outside/victim"), "keep");
      EXPECT_FALSE(fs::exists(fs::symlink_status(root() / "outside/ghost")));
    }
  }
}

TEST_F(ReceivedItems, NamesThatReadAsOthersOrAreNotGbkAreRefused) {
  const std::string malformed = gbk("| 接收文件名出错，首字符不是'\\'：\r\n");
  struct Case {
    const char* what;
    std::string wireName;
  };
  const std::vector<Case> cases = {
      {"C1 control U+0085", gbk("next\u0085line")},
      {"C1 control U+009B", gbk("csi\u009B2J")},
      {"right-to-left override U+202E", gbk("photo\u202Egpj.exe")},
      {"left-to-right embedding U+202A", gbk("\u202Aname")},
      {"first strong isolate U+2068", gbk("a\u2068b")},
      {"pop directional isolate U+2069", gbk("a\u2069")},
      {"a lead byte with no trail", "name\x81"},
      {"a lead byte before a space", "a\x81 b"},
      {"byte 0xFF", "x\xFFy"},
      {"a lead byte before DEL",
       "a\x81\x7f"
       "b"},
  };
  for (const Case& c : cases) {
    for (const bool isFolder : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (isFolder ? " (folder)" : " (file)"));
      TransferSide receiver;
      RawConnection peer = startReceiver(receiver);
      peer.send(isFolder ? folderRecord(c.wireName, attributes(kAttributeDirectory))
                         : fileHeader(c.wireName, 4, attributes(kAttributeArchive)));
      EXPECT_EQ(peer.receiveToEnd().substr(0, malformed.size()), malformed);
      peer.close();
      ASSERT_TRUE(receiver.join());
      ASSERT_EQ(receiver.frontend.notices().size(), 1u);
      EXPECT_EQ(receiver.frontend.notices()[0].rfind("接收文件名出错", 0), 0u);
      EXPECT_TRUE(fs::is_empty(root() / "in"));
    }
  }
}

TEST_F(ReceivedItems, OrdinaryNamesFromOtherSystemsStillPass) {
  for (const char* name :
       {"报告 2024.txt", "naïve café", "a\u200Db", "日本語ファイル", "€uro", "odd\uFFFDone"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(isValidReceivedName(name));
    EXPECT_TRUE(isValidWireText(gbk(name)));
  }
  // A GBK peer's euro sign is the single byte 0x80.
  EXPECT_TRUE(isValidWireText("\x80uro"));
  EXPECT_EQ(fromWire("\x80uro"), "€uro");
}

}  // namespace
}  // namespace brisk::test
