// Names and symbolic links a hostile sending side can aim at the save folder, as files and
// as folders, at the top level and inside a folder. Whatever is refused, nothing may appear
// outside the save folder and nothing may be written through a link.

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/raw_connection.h"
#include "transfer/data_records.h"
#include "transfer/transfer_fixture.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

enum class Kind { File, Folder };
enum class Place {
  Top,             // right in the save folder
  NewFolder,       // inside a folder the transfer creates first
  ExistingFolder,  // inside "deep", a real folder already there, holding links of its own
};
enum class Outcome { Refused, Created };

struct Row {
  const char* label;
  std::string wireName;
  Kind kind = Kind::File;
  Place place = Place::Top;
  Outcome outcome = Outcome::Refused;
};

std::string repeated(std::size_t count) {
  return std::string(count, 'x');
}

// The same hostile name as a file and as a folder, at every place.
std::vector<Row> everywhere(const char* label, const std::string& wireName) {
  std::vector<Row> rows;
  for (const Kind kind : {Kind::File, Kind::Folder}) {
    for (const Place place : {Place::Top, Place::NewFolder}) {
      rows.push_back(Row{label, wireName, kind, place, Outcome::Refused});
    }
  }
  return rows;
}

std::string describe(const Row& row) {
  std::string text = row.label;
  text += row.kind == Kind::File ? " as a file" : " as a folder";
  text += row.place == Place::Top         ? " at the top"
          : row.place == Place::NewFolder ? " in a new folder"
                                          : " in an existing folder";
  return text;
}

class HostileNames : public Sandbox {
 protected:
  fs::path box() const { return root() / "box"; }
  fs::path save() const { return box() / "in"; }
  fs::path outside() const { return box() / "outside"; }

  // A fresh save folder with links to a file and a folder outside, a dangling link and a
  // link to "..", both at its top and in its folder "deep".
  void prepare() {
    fs::remove_all(box());
    writeFile(outside() / "victim", "keep");
    for (const fs::path& folder : {save(), save() / "deep"}) {
      fs::create_directories(folder);
      fs::create_symlink(outside() / "victim", folder / "link");
      fs::create_symlink(outside(), folder / "linkdir");
      fs::create_symlink(outside() / "ghost", folder / "dangling");
      fs::create_symlink("..", folder / "up");
    }
  }

  // Every entry below the box, links listed but not followed.
  std::set<std::string> listing() const {
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(box())) {
      entries.insert(entry.path().lexically_relative(box()).string());
    }
    return entries;
  }

  // Runs one row against a receiving transfer thread; `existsAnswer` answers the
  // file-exists question. Returns the answer to the hostile record.
  std::string run(const Row& row, FileExistsAnswer existsAnswer) {
    TransferSide receiver;
    receiver.frontend.onFileExists = [existsAnswer](const std::string&) {
      return FileExistsReply{existsAnswer, false};
    };
    const int port = freePortRange();
    receiver.accept(save(), 2, 0, port, false);
    receiver.start();
    RawConnection peer = RawConnection::connectTo(port);
    EXPECT_TRUE(peer.isOpen());
    FileAttributeData folderData;
    folderData.attributes = kAttributeDirectory;
    if (row.place != Place::Top) {
      peer.send(folderRecord(row.place == Place::NewFolder ? gbk("新建") : "deep", folderData));
      EXPECT_EQ(peer.receive(1), "0") << "the folder around the name was not entered";
    }
    std::string answer;
    if (row.kind == Kind::File) {
      peer.send(fileHeader(row.wireName, 4, FileAttributeData{}));
      answer = peer.receive(2);
      if (answer == "+0") {
        peer.send("data");
        answer += peer.receive(1);
      } else {
        answer += peer.receiveToEnd();
      }
    } else {
      peer.send(folderRecord(row.wireName, folderData));
      answer = peer.receive(1);
      if (answer != "0") answer += peer.receiveToEnd();
    }
    peer.close();
    EXPECT_TRUE(receiver.join());
    return answer;
  }

  // The entries a row may add to the box.
  std::set<std::string> expectedAfter(const Row& row, const std::set<std::string>& before) {
    std::set<std::string> expected = before;
    fs::path folder = "in";
    if (row.place == Place::NewFolder) {
      folder /= "新建";
      expected.insert(folder.string());
    } else if (row.place == Place::ExistingFolder) {
      folder /= "deep";
    }
    if (row.outcome == Outcome::Created) expected.insert((folder / row.wireName).string());
    return expected;
  }

  // Runs every row once for each answer to the file-exists question.
  void runTable(const std::vector<Row>& rows, const std::vector<FileExistsAnswer>& existsAnswers = {
                                                  FileExistsAnswer::TransferAgain}) {
    for (const Row& row : rows) {
      for (const FileExistsAnswer existsAnswer : existsAnswers) {
        SCOPED_TRACE(describe(row) +
                     (existsAnswer == FileExistsAnswer::Resume ? ", resume" : ", again"));
        prepare();
        const std::set<std::string> before = listing();
        const std::string answer = run(row, existsAnswer);
        if (row.outcome == Outcome::Refused) {
          EXPECT_EQ(answer.substr(0, 1), "|") << answer;
        } else {
          EXPECT_EQ(answer, row.kind == Kind::File ? "+00" : "0");
        }
        EXPECT_EQ(listing(), expectedAfter(row, before));
        EXPECT_EQ(readFile(outside() / "victim"), "keep");
      }
    }
  }
};

TEST_F(HostileNames, PathTricksAreRefusedEverywhere) {
  std::vector<Row> rows;
  for (const auto& [label, name] : std::vector<std::pair<const char*, std::string>>{
           {"..", ".."},
           {".", "."},
           {"empty", ""},
           {"up and out", "../outside/victim"},
           {"slash", "a/b"},
           {"backslash", "a\\b"},
           {"backslash up", "..\\..\\x"},
           {"absolute", "/tmp/brisk-absolute"},
           {"absolute backslash", "\\x"},
           {"trailing slash", "x/"},
       }) {
    const std::vector<Row> more = everywhere(label, name);
    rows.insert(rows.end(), more.begin(), more.end());
  }
  runTable(rows);
  EXPECT_FALSE(fs::exists("/tmp/brisk-absolute"));
}

TEST_F(HostileNames, ControlCharactersAreRefusedEverywhere) {
  std::vector<Row> rows;
  for (const auto& [label, name] : std::vector<std::pair<const char*, std::string>>{
           {"NUL", "nul\0x"s},
           {"only NUL", "\0"s},
           {"ESC", "esc\x1b[31mred"},
           {"tab", "tab\there"},
           {"line break", "two\r\nlines"},
           {"DEL", "del\x7f"},
       }) {
    const std::vector<Row> more = everywhere(label, name);
    rows.insert(rows.end(), more.begin(), more.end());
  }
  runTable(rows);
}

TEST_F(HostileNames, UnicodeControlsAndDirectionOverridesAreRefused) {
  std::vector<Row> rows;
  for (const auto& [label, name] : std::vector<std::pair<const char*, std::string>>{
           {"C1 NEL", gbk("next\u0085line")},
           {"C1 CSI", gbk("csi\u009b31m")},
           {"right-to-left override", gbk("invoice\u202Etxt.exe")},
           {"right-to-left isolate", gbk("a\u2067b")},
           {"left-to-right mark", gbk("\u200Ename")},
           {"right-to-left mark", gbk("gpj\u200F.exe")},
           {"Arabic letter mark", gbk("a\u061Cb")},
           {"line separator", gbk("two\u2028lines")},
           {"paragraph separator", gbk("two\u2029paragraphs")},
       }) {
    const std::vector<Row> more = everywhere(label, name);
    rows.insert(rows.end(), more.begin(), more.end());
  }
  runTable(rows);
}

TEST_F(HostileNames, InvalidWireBytesAreRefused) {
  std::vector<Row> rows;
  for (const auto& [label, name] : std::vector<std::pair<const char*, std::string>>{
           {"lone lead byte", "bad\x81"},
           {"0xFF", "bad\xff\xff"},
           {"lead byte before DEL", "bad\x81\x7f"},
           {"cut four-byte sequence", "bad\x81\x30"},
           {"four-byte sequence out of range", "bad\xfe\x39\xfe\x39"},
       }) {
    const std::vector<Row> more = everywhere(label, name);
    rows.insert(rows.end(), more.begin(), more.end());
  }
  runTable(rows);
}

TEST_F(HostileNames, LongNamesAreCreatedUpToTheSystemsLimitAndRefusedBeyond) {
  runTable({
      {"255 bytes", repeated(255), Kind::File, Place::Top, Outcome::Created},
      {"255 bytes", repeated(255), Kind::Folder, Place::NewFolder, Outcome::Created},
      {"256 bytes", repeated(256), Kind::File, Place::Top, Outcome::Refused},
      {"256 bytes", repeated(256), Kind::Folder, Place::NewFolder, Outcome::Refused},
      {"4096 bytes", repeated(4096), Kind::File, Place::NewFolder, Outcome::Refused},
      {"4096 bytes", repeated(4096), Kind::Folder, Place::Top, Outcome::Refused},
  });
}

TEST_F(HostileNames, NothingIsWrittenThroughLinksInTheSaveFolder) {
  std::vector<Row> rows;
  for (const char* name : {"link", "linkdir", "dangling", "up"}) {
    for (const Kind kind : {Kind::File, Kind::Folder}) {
      rows.push_back(Row{name, name, kind, Place::Top, Outcome::Refused});
    }
  }
  runTable(rows, {FileExistsAnswer::TransferAgain, FileExistsAnswer::Resume});
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside() / "ghost")));
}

// A folder record naming a real folder that is already there enters it; its links are
// refused like those at the top.
TEST_F(HostileNames, NothingIsWrittenThroughLinksInAnExistingFolder) {
  std::vector<Row> rows;
  for (const char* name : {"link", "linkdir", "dangling", "up"}) {
    for (const Kind kind : {Kind::File, Kind::Folder}) {
      rows.push_back(Row{name, name, kind, Place::ExistingFolder, Outcome::Refused});
    }
  }
  rows.push_back(Row{"a new file", "new.txt", Kind::File, Place::ExistingFolder, Outcome::Created});
  runTable(rows, {FileExistsAnswer::TransferAgain, FileExistsAnswer::Resume});
  EXPECT_FALSE(fs::exists(fs::symlink_status(outside() / "ghost")));
}

}  // namespace
}  // namespace brisk::test
