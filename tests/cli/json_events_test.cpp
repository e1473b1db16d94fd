#include "cli/json_events.h"

#include <sstream>

#include <gtest/gtest.h>

namespace brisk {
namespace {

TEST(JsonString, EscapesWhatJsonRequiresAndReplacesWhatIsNotUtf8) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"", R"("")"},
      {"你好", "\"你好\""},
      {R"(say "hi" \ bye)", R"("say \"hi\" \\ bye")"},
      {"line\r\nnext\ttab\x1B[2J\x7F", R"("line\u000d\u000anext\u0009tab\u001b[2J\u007f")"},
      // A cut character, a lone continuation byte, an overlong slash and a surrogate.
      {"cut \xE4\xBD", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\x80/\xC0\xAF", "\"\xEF\xBF\xBD/\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const auto& [text, json] : cases) EXPECT_EQ(jsonString(text), json) << text;
}

TEST(JsonEvents, EachEventIsOneObjectOnItsOwnLineNamingItsTransfer) {
  std::ostringstream out;
  Console console(out, false);
  std::int64_t now = 1000;
  JsonEvents events(console, [&now] { return now; });
  events.link(LinkState::Connected);
  TransferWindowSetup setup;
  setup.index = 3;
  setup.isSender = true;
  events.openTransfer(7, setup);
  now += 25;
  events.fileName(7, "a\"b.txt");
  TransferFigures figures;
  events.figures(7, figures);  // nothing to count yet: no event
  figures.numbers = TransferNumbers{.fileSize = 10,
                                    .fileDone = 4,
                                    .totalSize = 20,
                                    .totalDone = 14,
                                    .bytesPerSecond = 5,
                                    .seconds = 2};
  events.figures(7, figures);
  now += 2000;
  events.transferEnded(TransferEnd{
      .index = 3, .isSender = true, .complete = false, .cause = TransferCause::StoppedByPeer});
  EXPECT_EQ(out.str(),
            "{\"event\":\"link\",\"state\":\"connected\"}\n"
            "{\"event\":\"transfer\",\"index\":3,\"sender\":true,\"file\":\"a\\\"b.txt\","
            "\"ms\":25}\n"
            "{\"event\":\"progress\",\"index\":3,\"sender\":true,\"fileDone\":4,\"fileSize\":10,"
            "\"done\":14,\"total\":20,\"bytesPerSecond\":5,\"seconds\":2}\n"
            "{\"event\":\"verdict\",\"index\":3,\"sender\":true,\"complete\":false,"
            "\"cause\":\"stopped-by-peer\",\"ms\":2025}\n");
}

}  // namespace
}  // namespace brisk
