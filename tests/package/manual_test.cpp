// The manual pages: they render without a single warning, document exactly
// the options each program's usage text lists, carry the project's version,
// and their examples of output are the programs' real output.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>

#include "decode/decoder_sets.h"
#include "package/system_tools.h"

namespace vestrel::package {
namespace {

const std::string kSourceDir = VESTREL_SOURCE_DIR;
const std::string kVersion = VESTREL_PROJECT_VERSION;

struct ManualPage {
  const char* page;     // file in man/
  const char* program;  // the built program it documents
};

// Cases are named and printed by the page.
void PrintTo(const ManualPage& manual, std::ostream* out) { *out << manual.page; }

std::string caseName(const ::testing::TestParamInfo<ManualPage>& info) {
  std::string name = info.param.page;
  std::replace_if(
      name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  return name;
}

std::string pageText(const ManualPage& manual) { return readFile(kSourceDir + "/man/" + manual.page); }

// Option letter -> whether it takes a value.
using OptionSet = std::map<char, bool>;

// Usage lines list an option as "-x", "-x:", "-x <value>:" or "-x VALUE  text"
// after some indentation; one blank and a word after the letter is a value.
OptionSet optionsOfUsage(const std::string& usage) {
  OptionSet options;
  for (const std::string& line : splitLines(usage)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.size() < start + 2 || line[start] != '-') continue;
    const char letter = line[start + 1];
    if (std::isalpha(static_cast<unsigned char>(letter)) == 0) continue;
    const std::string rest = line.substr(start + 2);
    options[letter] = rest.size() > 1 && rest[0] == ' ' && rest[1] != ' ';
  }
  return options;
}

// The lines of one .SH section, without its heading.
std::vector<std::string> section(const std::string& page, const std::string& name) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const std::string& line : splitLines(page)) {
    if (line.starts_with(".SH ")) {
      inside = line == ".SH " + name;
      continue;
    }
    if (inside) lines.push_back(line);
  }
  return lines;
}

// An option entry of OPTIONS: a .TP tag line ".B \-x" or ".BI \-x " value"";
// the italic value marks an option that takes one.
OptionSet optionsOfManual(const std::string& page) {
  OptionSet options;
  const std::vector<std::string> lines = section(page, "OPTIONS");
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i - 1] != ".TP") continue;
    const std::string& tag = lines[i];
    if (tag.starts_with(".B \\-") && tag.size() == 6) options[tag[5]] = false;
    if (tag.starts_with(".BI \\-") && tag.size() > 7) options[tag[6]] = true;
  }
  return options;
}

// The options SYNOPSIS names: ".OP \-x [value]" and ".B \-x".
OptionSet optionsOfSynopsis(const std::string& page) {
  OptionSet options;
  for (const std::string& line : section(page, "SYNOPSIS")) {
    if (line.starts_with(".OP \\-") && line.size() > 6) options[line[6]] = line.size() > 7;
    if (line.starts_with(".B \\-") && line.size() == 6) options[line[5]] = false;
  }
  return options;
}

std::string describe(const OptionSet& options) {
  std::string text;
  for (const auto& [letter, takesValue] : options) text += std::string(" -") + letter + (takesValue ? " VALUE" : "");
  return text;
}

class EveryManualPage : public ::testing::TestWithParam<ManualPage> {};

TEST_P(EveryManualPage, RendersWithoutWarnings) {
  const std::string path = kSourceDir + "/man/" + GetParam().page;
  const ChildResult groff = runTool("groff", {"-man", "-Tutf8", "-ww", "-z", path});
  EXPECT_EQ(groff.status, "exit 0");
  EXPECT_EQ(groff.errors, "");

  const ChildResult man = runTool("man", {"--warnings", "-l", path}, {"MANWIDTH=80", "LC_ALL=C.UTF-8"});
  EXPECT_EQ(man.status, "exit 0");
  EXPECT_EQ(man.errors, "");
  EXPECT_NE(man.output.find("EXIT STATUS"), std::string::npos) << man.output.substr(0, 300);
}

TEST_P(EveryManualPage, DocumentsExactlyTheOptionsOfTheUsageText) {
  const ChildResult usage = runTool(GetParam().program, {"-h"});
  ASSERT_EQ(usage.status, "exit 0");
  const OptionSet programOptions = optionsOfUsage(usage.output);
  ASSERT_GE(programOptions.size(), 5U) << usage.output;

  const std::string page = pageText(GetParam());
  EXPECT_EQ(describe(optionsOfManual(page)), describe(programOptions)) << "OPTIONS of " << GetParam().page;
  EXPECT_EQ(describe(optionsOfSynopsis(page)), describe(programOptions)) << "SYNOPSIS of " << GetParam().page;
}

TEST_P(EveryManualPage, NamesTheProjectVersion) {
  const std::vector<std::string> lines = splitLines(pageText(GetParam()));
  const auto heading =
      std::find_if(lines.begin(), lines.end(), [](const auto& line) { return line.starts_with(".TH "); });
  ASSERT_NE(heading, lines.end());
  EXPECT_NE(heading->find("\"Vestrel " + kVersion + "\""), std::string::npos) << *heading;
}

INSTANTIATE_TEST_SUITE_P(Pages, EveryManualPage,
                         ::testing::Values(ManualPage{"vestrel.1", VESTREL_BINARY},
                                           ManualPage{"vestrel-trace.1", VESTREL_TRACE_BINARY}),
                         caseName);

// Lines shown as the programs print them, with the page's escapes undone;
// an escape not known here fails the case rather than pass unchecked.
std::string unescape(const std::string& line, std::string& unknown) {
  static const std::pair<std::string_view, std::string_view> kEscapes[] = {
      {"\\-", "-"},   {"\\e", "\\"},     {"\\&", ""},  {"\\ ", " "},
      {"\\(aq", "'"}, {"\\(:y", "\xFF"}, {"\\fI", ""}, {"\\fP", ""}};
  std::string text;
  for (size_t at = 0; at < line.size();) {
    const auto* const escape = std::find_if(std::begin(kEscapes), std::end(kEscapes), [&](const auto& pair) {
      return line.compare(at, pair.first.size(), pair.first) == 0;
    });
    if (escape != std::end(kEscapes)) {
      text += escape->second;
      at += escape->first.size();
    } else {
      if (line[at] == '\\') unknown += line.substr(at, 4) + " ";
      text += line[at++];
    }
  }
  return text;
}

// The .EX blocks that show output: those starting as a message line does,
// or with the time in front of one.
std::vector<std::string> outputExamples(const std::string& page, std::string& unknownEscapes) {
  std::vector<std::string> blocks;
  std::optional<std::string> block;
  for (const std::string& line : splitLines(page)) {
    if (line == ".EX") {
      block = "";
    } else if (line == ".EE" && block) {
      const bool timed = !block->empty() && std::isdigit(static_cast<unsigned char>(block->front())) != 0 &&
                         block->find(" -> ") < block->find('\n');
      if (block->starts_with("Sent ") || block->starts_with("Rcvd ") || timed) blocks.push_back(*block);
      block.reset();
    } else if (block) {
      *block += unescape(line, unknownEscapes) + "\n";
    }
  }
  return blocks;
}

// The console as a terminal shows it: tabs at 8-column stops.
std::string expandTabs(const std::string& text) {
  std::string expanded;
  size_t column = 0;
  for (const char c : text) {
    if (c == '\t') {
      const size_t width = 8 - column % 8;
      expanded.append(width, ' ');
      column += width;
    } else {
      expanded += c;
      column = c == '\n' ? 0 : column + 1;
    }
  }
  return expanded;
}

TEST_P(EveryManualPage, ExamplesOfOutputAreRealOutput) {
  std::string unknownEscapes;
  const std::vector<std::string> examples = outputExamples(pageText(GetParam()), unknownEscapes);
  EXPECT_EQ(unknownEscapes, "");
  ASSERT_FALSE(examples.empty());
  const std::string golden = kSourceDir + "/tests/read/golden/";
  // vestrel prints the classic output, vestrel-trace's shared stream too.
  const bool classic = std::string(GetParam().page) == "vestrel.1";
  const std::string console =
      expandTabs(readFile(golden + (classic ? "chat-session-single-stream.txt" : "chat-session.txt")));
  const std::string log = readFile(golden + "chat-session.log");
  for (const std::string& example : examples) {
    const bool isLog = example.find(" packet 0x") != std::string::npos;
    EXPECT_NE((isLog ? log : console).find(example), std::string::npos) << example;
  }
}

// Every key a decoder writes, list entries' keys too, is named in the
// JSON OUTPUT section of vestrel-trace(1).
void expectNamed(const std::string& section, std::span<const Field> fields, const std::string& where) {
  for (const Field& field : fields) {
    if (field.form == Form::Literal || field.form == Form::Hidden) continue;
    const std::regex word("(^|[^a-z0-9_])" + std::string(field.key) + "([^a-z0-9_]|$)");
    EXPECT_TRUE(std::regex_search(section, word)) << where << ": " << field.key;
    expectNamed(section, field.entry, where);
    expectNamed(section, field.parts, where);
  }
}

TEST(TraceManualPage, NamesTheKeyOfEveryField) {
  const std::string page = readFile(kSourceDir + "/man/vestrel-trace.1");
  const size_t start = page.find(".SH JSON OUTPUT");
  ASSERT_NE(start, std::string::npos);
  const std::string jsonOutput = page.substr(start, page.find("\n.SH ", start + 1) - start);
  for (const DecoderSet set : {DecoderSet::Classic, DecoderSet::Full}) {
    for (const bool sent : {true, false}) {
      for (const DecoderEntry* decoder : decoderIndex(set, sent)) {
        if (decoder != nullptr) expectNamed(jsonOutput, decoder->fields, "id " + std::to_string(decoder->id));
      }
    }
  }
}

}  // namespace
}  // namespace vestrel::package
