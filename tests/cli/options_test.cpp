#include "cli/options.h"

#include <gtest/gtest.h>

#include "common/frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using Args = std::vector<std::string>;

PeerOptions parsed(const Args& args) {
  ParsedCommandLine result = parseCommandLine(args);
  EXPECT_TRUE(result.error.empty()) << result.error;
  EXPECT_TRUE(result.options.has_value());
  return result.options.value_or(PeerOptions{});
}

TEST(PeerOptions, ListenAloneTakesTheDefaults) {
  const PeerOptions options = parsed({"listen"});
  EXPECT_EQ(options.role, PeerOptions::Role::Listen);
  EXPECT_EQ(options.port, "6000");
  EXPECT_FALSE(options.saveTo);
  EXPECT_FALSE(options.refuse);
  EXPECT_FALSE(options.resume);
  EXPECT_FALSE(options.existsAnswer);
  EXPECT_TRUE(options.actions.empty());
  EXPECT_FALSE(options.once);
  EXPECT_FALSE(options.noStream);
  EXPECT_TRUE(parsed({"listen", "--refuse"}).refuse);
  EXPECT_TRUE(parsed({"connect", "h", "--no-stream"}).noStream);
}

TEST(PeerOptions, ConnectReadsEveryOptionAndKeepsTheActionsInOrder) {
  const PeerOptions options = parsed(
      {"connect", "10.0.0.2", "--port", "7000", "--save-to", "in", "--resume", "--exists", "again",
       "--send", "a", "b c", "--say", "你好", "--send", "d", "--once", "--max-size", "2G"});
  EXPECT_EQ(options.role, PeerOptions::Role::Connect);
  EXPECT_EQ(options.address, "10.0.0.2");
  EXPECT_EQ(options.port, "7000");
  EXPECT_EQ(options.saveTo, std::filesystem::path("in"));
  EXPECT_TRUE(options.resume);
  EXPECT_EQ(options.existsAnswer, FileExistsAnswer::TransferAgain);
  EXPECT_TRUE(options.once);
  EXPECT_EQ(options.maxSize, 2ULL << 30);
  ASSERT_EQ(options.actions.size(), 3u);
  const auto* first = std::get_if<PeerOptions::Send>(&options.actions[0]);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->paths, (std::vector<std::filesystem::path>{"a", "b c"}));
  const auto* say = std::get_if<PeerOptions::Say>(&options.actions[1]);
  ASSERT_NE(say, nullptr);
  EXPECT_EQ(say->text, "你好");
  const auto* second = std::get_if<PeerOptions::Send>(&options.actions[2]);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->paths, (std::vector<std::filesystem::path>{"d"}));
}

TEST(PeerOptions, AddressMayFollowTheOptionsAndValuesMayBeJoinedWithEquals) {
  const PeerOptions options =
      parsed({"connect", "--port=6100", "host.example", "--say=--not-an-option", "--send=x", "y"});
  EXPECT_EQ(options.address, "host.example");
  EXPECT_EQ(options.port, "6100");
  ASSERT_EQ(options.actions.size(), 2u);
  EXPECT_EQ(std::get<PeerOptions::Say>(options.actions[0]).text, "--not-an-option");
  EXPECT_EQ(std::get<PeerOptions::Send>(options.actions[1]).paths,
            (std::vector<std::filesystem::path>{"x", "y"}));
}

TEST(PeerOptions, HelpWinsWhereverItStands) {
  EXPECT_TRUE(parseCommandLine({"--help"}).helpRequested);
  EXPECT_TRUE(parseCommandLine({"listen", "--bogus", "-h"}).helpRequested);
}

TEST(PeerOptions, MistakesAreUsageErrors) {
  const std::vector<Args> mistakes{
      {},
      {"serve"},
      {"listen", "--bogus"},
      {"listen", "-p", "7000"},
      {"listen", "--port"},
      {"listen", "--port", "abc"},
      {"listen", "--port", "0"},
      {"listen", "--port", "65536"},
      {"listen", "--port", "123456"},
      {"listen", "--port", "--once"},
      {"connect"},
      {"connect", "--port", "7000"},
      {"connect", "a", "b"},
      {"listen", "somewhere"},
      {"listen", "--exists"},
      {"listen", "--exists", "maybe"},
      {"listen", "--exists", "Stop"},
      {"listen", "--send"},
      {"listen", "--send", "--once"},
      {"listen", "--send="},
      {"listen", "--say"},
      {"listen", "--save-to"},
      {"listen", "--save-to="},
      {"listen", "--once=yes"},
      {"listen", "--refuse", "--save-to", "in"},
      {"listen", "--refuse", "--resume", "--save-to", "in"},
      {"listen", "--resume"},
      {"listen", "--max-size"},
      {"listen", "--max-size", "ten"},
      {"listen", "--max-size", "10T"},
      {"listen", "--max-size", "K"},
      {"listen", "--max-size", "17179869184G"},
      {"listen", "--no-stream=yes"},
      {"listen", "--plain", "--no-stream"},
  };
  for (const Args& args : mistakes) {
    std::string joined;
    for (const auto& arg : args) joined += arg + " ";
    const ParsedCommandLine result = parseCommandLine(args);
    EXPECT_FALSE(result.options) << joined;
    EXPECT_FALSE(result.error.empty()) << joined;
    EXPECT_FALSE(result.helpRequested) << joined;
  }
}

class PeerOptionPaths : public test::Sandbox {};

TEST_F(PeerOptionPaths, SaveFolderMustBeAFolder) {
  test::writeFile(root() / "file", "x");
  PeerOptions options = parsed({"listen", "--save-to", (root() / "file").string()});
  EXPECT_TRUE(resolvePaths(options));
  options = parsed({"listen", "--save-to", (root() / "missing").string()});
  EXPECT_TRUE(resolvePaths(options));
  options = parsed({"listen", "--save-to", (root() / "in/").string()});
  std::filesystem::create_directories(root() / "in");
  EXPECT_FALSE(resolvePaths(options));
  EXPECT_EQ(*options.saveTo, (root() / "in/").lexically_normal());
}

TEST_F(PeerOptionPaths, PathsToSendMustExistAndBecomeFullPathsWithALastPart) {
  test::writeFile(root() / "tree/a.txt", "a");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root());
  PeerOptions options = parsed({"listen", "--send", "tree/", "tree/a.txt", "."});
  EXPECT_FALSE(resolvePaths(options));
  std::filesystem::current_path(previous);
  const auto& paths = std::get<PeerOptions::Send>(options.actions[0]).paths;
  EXPECT_EQ(paths[0].filename(), "tree");
  EXPECT_EQ(paths[1], std::filesystem::canonical(root()) / "tree/a.txt");
  EXPECT_EQ(paths[2].filename(), root().filename());
  for (const auto& path : paths) EXPECT_TRUE(path.is_absolute()) << path;

  options =
      parsed({"listen", "--send", (root() / "tree").string(), (root() / "nothing-here").string()});
  const auto problem = resolvePaths(options);
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("nothing-here"), std::string::npos);
}

}  // namespace
}  // namespace brisk

namespace brisk {
namespace {

TEST(PeerOptions, DiscoveryOptionsForListenAndPeers) {
  const PeerOptions listen = parseCommandLine({"listen"}).options.value();
  EXPECT_TRUE(listen.announce);
  EXPECT_TRUE(listen.name.empty());
  const PeerOptions named = parseCommandLine({"listen", "--name",
                                              " Ali\xE2\x80\xAE"
                                              "ce\n",
                                              "--no-announce"})
                                .options.value();
  EXPECT_EQ(named.name, "Alice");
  EXPECT_FALSE(named.announce);

  const PeerOptions peers = parseCommandLine({"peers"}).options.value();
  EXPECT_EQ(peers.role, PeerOptions::Role::Peers);
  EXPECT_EQ(peers.waitSeconds, 3);
  EXPECT_EQ(parseCommandLine({"peers", "--wait", "0"}).options.value().waitSeconds, 0);
  EXPECT_EQ(parseCommandLine({"peers", "--wait=10"}).options.value().waitSeconds, 10);

  const std::vector<std::vector<std::string>> mistakes{
      {"peers", "--wait"},
      {"peers", "--wait", "-1"},
      {"peers", "--wait", "1.5"},
      {"peers", "--wait", "3601"},
      {"peers", "--port", "6000"},
      {"peers", "extra"},
      {"connect", "h", "--name", "x"},
      {"connect", "h", "--no-announce"},
      {"listen", "--name", "\n\t"},
      {"listen", "--no-announce=1"},
  };
  for (const auto& args : mistakes) {
    const ParsedCommandLine result = parseCommandLine(args);
    EXPECT_FALSE(result.options) << args.back();
    EXPECT_FALSE(result.error.empty()) << args.back();
  }
}

}  // namespace
}  // namespace brisk
