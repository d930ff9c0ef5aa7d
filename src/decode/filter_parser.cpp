// -Y's expressions read into tests and the tree that joins them; every
// name checked against the decoder tables, so a misspelt key is an error at
// start, not a filter that silently takes nothing.
#include <re2/re2.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>

#include "decode/decoder_sets.h"
#include "decode/message_filter.h"
#include "decode/message_names.h"

namespace vestrel {

namespace {

// What the values under one key are; a key may be a number in one message
// and a text in another.
struct KeyUse {
  bool number = false;
  bool text = false;
  bool list = false;
  std::bitset<512> messages;  // sent * 256 + id
};

bool isNumeric(Form form) { return form == Form::Number || form == Form::Code || form == Form::Flags; }

void addKeys(std::map<std::string, KeyUse, std::less<>>& keys, std::span<const Field> fields, size_t message) {
  for (const Field& field : fields) {
    if (field.key.empty() || field.form == Form::Hidden || field.form == Form::Literal) continue;
    KeyUse& use = keys[std::string(field.key)];
    use.messages.set(message);
    if (field.form == Form::List) {
      use.list = true;
      addKeys(keys, field.entry, message);
    } else if (isNumeric(field.form)) {
      use.number = true;
    } else {
      use.text = true;
    }
    for (const Field& part : field.parts) addKeys(keys, std::span<const Field>(&part, 1), message);
  }
}

// Every field key of the full set; "trailing", the bytes after the last
// field, in any message.
const std::map<std::string, KeyUse, std::less<>>& fieldKeys() {
  static const auto keys = [] {
    std::map<std::string, KeyUse, std::less<>> all;
    for (const bool sent : {false, true}) {
      for (const DecoderEntry* decoder : decoderIndex(DecoderSet::Full, sent)) {
        if (decoder != nullptr) addKeys(all, decoder->fields, (sent ? 256U : 0U) + decoder->id);
      }
    }
    KeyUse& trailing = all["trailing"];
    trailing.text = true;
    trailing.messages.set();
    return all;
  }();
  return keys;
}

// The names of the full set, without the blanks some end with.
const std::array<std::string, 256>& messageNames() {
  static const auto names = [] {
    std::array<std::string, 256> all;
    for (size_t id = 0; id < all.size(); ++id) {
      std::string name = messageName(static_cast<uint8_t>(id), DecoderSet::Full);
      name.erase(name.find_last_not_of(" \t") + 1);
      all[id] = std::move(name);
    }
    return all;
  }();
  return names;
}

constexpr std::string_view kHeaderKeys[] = {"direction", "id", "length", "name"};
constexpr std::string_view kDirections[] = {"received", "sent"};
constexpr std::string_view kKeywords[] = {"and", "contains", "matches", "not", "or"};

size_t editDistance(std::string_view one, std::string_view other) {
  std::vector<size_t> row(other.size() + 1);
  for (size_t column = 0; column < row.size(); ++column) row[column] = column;
  for (size_t line = 1; line <= one.size(); ++line) {
    size_t diagonal = row[0];
    row[0] = line;
    for (size_t column = 1; column <= other.size(); ++column) {
      const size_t above = row[column];
      const size_t replaced = diagonal + (one[line - 1] == other[column - 1] ? 0 : 1);
      row[column] = std::min({above + 1, row[column - 1] + 1, replaced});
      diagonal = above;
    }
  }
  return row[other.size()];
}

// The known words nearest to word: the nearest and those one edit further,
// three at most.
template <class Words>
std::string nearest(std::string_view word, const Words& known) {
  constexpr size_t kLongestCompared = 64;
  std::vector<std::pair<size_t, std::string_view>> ranked;
  for (const auto& candidate : known) {
    const std::string_view text = candidate;
    if (word.size() > kLongestCompared || text.empty()) continue;
    ranked.emplace_back(editDistance(word, text), text);
  }
  std::sort(ranked.begin(), ranked.end());
  ranked.erase(std::unique(ranked.begin(), ranked.end()), ranked.end());
  std::string list;
  for (size_t index = 0; index < ranked.size() && index < 3 && ranked[index].first <= ranked[0].first + 1; ++index) {
    list += std::string(list.empty() ? "" : ", ") + std::string(ranked[index].second);
  }
  return list.empty() ? "" : " (nearest: " + list + ")";
}

std::vector<std::string_view> knownKeys() {
  std::vector<std::string_view> keys(std::begin(kHeaderKeys), std::end(kHeaderKeys));
  for (const auto& [key, use] : fieldKeys()) keys.emplace_back(key);
  return keys;
}

struct Token {
  enum class Kind : uint8_t { End, Word, Number, Text, Symbol };
  Kind kind = Kind::End;
  size_t at = 0;
  size_t length = 0;
  std::string text;  // Word, Symbol: as written; Text: with its escapes undone
  uint64_t number = 0;
};

// A problem in the expression: the words, and where.
struct ParseError {
  std::string problem;
  size_t at;
  size_t length;
};

bool isWordStart(char character) {
  return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') || character == '_';
}

bool isWordCharacter(char character) { return isWordStart(character) || (character >= '0' && character <= '9'); }

int hexValue(char character) {
  if (character >= '0' && character <= '9') return character - '0';
  if (character >= 'a' && character <= 'f') return character - 'a' + 10;
  if (character >= 'A' && character <= 'F') return character - 'A' + 10;
  return -1;
}

class Lexer {
 public:
  explicit Lexer(std::string_view expression) : expression_(expression) {}

  Token next() {
    while (at_ < expression_.size() && (expression_[at_] == ' ' || expression_[at_] == '\t')) ++at_;
    Token token{.at = at_};
    if (at_ >= expression_.size()) return token;
    const char first = expression_[at_];
    if (isWordStart(first)) {
      token.kind = Token::Kind::Word;
      while (at_ < expression_.size() && isWordCharacter(expression_[at_])) ++at_;
      token.text = expression_.substr(token.at, at_ - token.at);
    } else if (first >= '0' && first <= '9') {
      readNumber(token);
    } else if (first == '"') {
      readText(token);
    } else {
      readSymbol(token);
    }
    token.length = at_ - token.at;
    return token;
  }

 private:
  void readNumber(Token& token) {
    token.kind = Token::Kind::Number;
    const bool hex = expression_.substr(at_, 2) == "0x" || expression_.substr(at_, 2) == "0X";
    const uint64_t base = hex ? 16 : 10;
    if (hex) at_ += 2;
    const size_t digitsStart = at_;
    for (; at_ < expression_.size() && isWordCharacter(expression_[at_]); ++at_) {
      const int digit = hexValue(expression_[at_]);
      if (digit < 0 || static_cast<uint64_t>(digit) >= base || token.number > (UINT64_MAX - digit) / base) {
        throwBadNumber(token);
      }
      token.number = token.number * base + static_cast<uint64_t>(digit);
    }
    if (at_ == digitsStart) throwBadNumber(token);
  }

  [[noreturn]] void throwBadNumber(const Token& token) {
    while (at_ < expression_.size() && isWordCharacter(expression_[at_])) ++at_;
    const std::string_view word = expression_.substr(token.at, at_ - token.at);
    throw ParseError{"'" + std::string(word) + "' is not a number (decimal, or hex after 0x, below 2^64)", token.at,
                     word.size()};
  }

  void readText(Token& token) {
    token.kind = Token::Kind::Text;
    for (++at_; at_ < expression_.size() && expression_[at_] != '"'; ++at_) {
      if (expression_[at_] != '\\') {
        token.text += expression_[at_];
        continue;
      }
      token.text += escaped();
    }
    if (at_ >= expression_.size()) throw ParseError{"text without its closing '\"'", token.at, at_ - token.at};
    ++at_;
  }

  // The character an escape at at_ stands for; at_ left on its last character.
  char escaped() {
    const size_t start = at_++;
    const char letter = at_ < expression_.size() ? expression_[at_] : '\0';
    switch (letter) {
      case '"':
      case '\\': return letter;
      case 'n': return '\n';
      case 'r': return '\r';
      case 't': return '\t';
      case 'x': {
        const int high = at_ + 1 < expression_.size() ? hexValue(expression_[at_ + 1]) : -1;
        const int low = at_ + 2 < expression_.size() ? hexValue(expression_[at_ + 2]) : -1;
        if (high < 0 || low < 0) break;
        at_ += 2;
        return static_cast<char>(high * 16 + low);
      }
      default: break;
    }
    throw ParseError{"unknown escape in a text (known: \\\" \\\\ \\n \\r \\t \\xHH)", start,
                     std::min<size_t>(2, expression_.size() - start)};
  }

  void readSymbol(Token& token) {
    token.kind = Token::Kind::Symbol;
    static constexpr std::string_view kSymbols[] = {"==", "!=", "&&", "||", "<", ">", "(", ")", "!"};
    for (const std::string_view symbol : kSymbols) {
      if (expression_.substr(at_, symbol.size()) == symbol) {
        token.text = symbol;
        at_ += symbol.size();
        return;
      }
    }
    throw ParseError{"unexpected '" + std::string(1, expression_[at_]) + "'", at_, 1};
  }

  std::string_view expression_;
  size_t at_ = 0;
};

constexpr int kDeepestNesting = 64;

}  // namespace

class FilterParser {
 public:
  explicit FilterParser(std::string_view expression) : lexer_(expression) { advance(); }

  std::shared_ptr<const MessageFilter> parse() {
    filter_.root_ = parseOr();
    if (token_.kind != Token::Kind::End) fail("expected 'and', 'or' or the end, not '" + token_.text + "'");
    return std::make_shared<const MessageFilter>(std::move(filter_));
  }

 private:
  void advance() { token_ = lexer_.next(); }

  [[noreturn]] void fail(std::string problem) const {
    throw ParseError{std::move(problem), token_.at, std::max<size_t>(token_.length, 1)};
  }

  bool isWord(std::string_view word, std::string_view symbol = {}) const {
    if (token_.kind == Token::Kind::Word) return token_.text == word;
    return token_.kind == Token::Kind::Symbol && !symbol.empty() && token_.text == symbol;
  }

  uint16_t addNode(FilterNode node) {
    filter_.nodes_.push_back(node);
    return static_cast<uint16_t>(filter_.nodes_.size() - 1);
  }

  // Operands joined by one operator, from left to right.
  uint16_t parseChain(FilterNode::Kind kind, std::string_view word, std::string_view symbol,
                      uint16_t (FilterParser::*operand)()) {
    uint16_t node = (this->*operand)();
    while (isWord(word, symbol)) {
      advance();
      node = addNode({kind, node, (this->*operand)()});
    }
    return node;
  }

  uint16_t parseOr() { return parseChain(FilterNode::Kind::Or, "or", "||", &FilterParser::parseAnd); }
  uint16_t parseAnd() { return parseChain(FilterNode::Kind::And, "and", "&&", &FilterParser::parseUnary); }

  uint16_t parseUnary() {
    if (++depth_ > kDeepestNesting) fail("nested too deep (more than 64 parentheses and 'not's)");
    uint16_t node = 0;
    if (isWord("not", "!")) {
      advance();
      node = addNode({FilterNode::Kind::Not, parseUnary()});
    } else if (isWord("", "(")) {
      advance();
      node = parseOr();
      if (!isWord("", ")")) fail("expected ')'");
      advance();
    } else {
      node = addNode({FilterNode::Kind::Test, parseComparison()});
    }
    --depth_;
    return node;
  }

  std::optional<FilterOperator> operatorHere() const {
    static constexpr std::pair<std::string_view, FilterOperator> kOperators[] = {
        {"==", FilterOperator::Equal},  {"!=", FilterOperator::NotEqual},       {"<", FilterOperator::Less},
        {">", FilterOperator::Greater}, {"contains", FilterOperator::Contains}, {"matches", FilterOperator::Matches},
    };
    if (token_.kind != Token::Kind::Word && token_.kind != Token::Kind::Symbol) return std::nullopt;
    for (const auto& [text, op] : kOperators) {
      if (token_.text == text) return op;
    }
    return std::nullopt;
  }

  uint16_t parseComparison() {
    if (token_.kind != Token::Kind::Word) fail("expected a key (id, name, direction, length or a field's key)");
    const Token key = token_;
    advance();
    FilterTest test;
    const auto op = operatorHere();
    if (!op) {
      test.op = FilterOperator::Present;
      describeKey(key, test);
      if (test.subject != FilterTest::Subject::Field) fail("expected ==, !=, <, >, contains or matches");
      return addTest(std::move(test));
    }
    test.op = *op;
    const Token opToken = token_;
    advance();
    const Token value = token_;
    if (value.kind == Token::Kind::End || value.kind == Token::Kind::Symbol) fail("expected a value");
    advance();
    describeKey(key, test);
    test.numeric = value.kind == Token::Kind::Number;
    test.number = value.number;
    test.text = value.text;
    if (test.op == FilterOperator::Matches) compilePattern(value, test);
    if (test.numeric && (test.op == FilterOperator::Contains || test.op == FilterOperator::Matches)) {
      throw ParseError{opToken.text + " takes a quoted text", value.at, value.length};
    }
    checkValue(key.text, value, test);
    return addTest(std::move(test));
  }

  uint16_t addTest(FilterTest test) {
    if (filter_.tests_.size() >= kMostFilterTests) fail("more than 256 comparisons");
    if (test.subject == FilterTest::Subject::Field) filter_.keyed_ |= fieldKeys().find(test.key)->second.messages;
    filter_.tests_.push_back(std::move(test));
    return static_cast<uint16_t>(filter_.tests_.size() - 1);
  }

  static void describeKey(const Token& key, FilterTest& test) {
    if (key.text == "length") {
      test.subject = FilterTest::Subject::Length;
      return;
    }
    if (std::find(std::begin(kHeaderKeys), std::end(kHeaderKeys), key.text) != std::end(kHeaderKeys)) {
      test.subject = FilterTest::Subject::Header;
      return;
    }
    const auto found = fieldKeys().find(key.text);
    if (found == fieldKeys().end()) {
      throw ParseError{"unknown field '" + key.text + "'" + nearest(key.text, knownKeys()), key.at, key.length};
    }
    if (found->second.list && !found->second.number && !found->second.text) {
      throw ParseError{"'" + key.text + "' is a list: compare the keys of its entries", key.at, key.length};
    }
    test.subject = FilterTest::Subject::Field;
    test.key = key.text;
  }

  static void compilePattern(const Token& value, FilterTest& test) {
    if (value.kind == Token::Kind::Number) return;
    RE2::Options options;
    options.set_log_errors(false);
    auto pattern = std::make_shared<const RE2>(value.text, options);
    if (!pattern->ok()) {
      throw ParseError{"not a regular expression: " + pattern->error(), value.at, value.length};
    }
    test.pattern = std::move(pattern);
  }

  // The value fits the key: a number for numbers, a text for texts, a
  // known name for name and direction.
  static void checkValue(const std::string& key, const Token& value, FilterTest& test) {
    if (value.kind == Token::Kind::Word && key != "name" && key != "direction") {
      throw ParseError{"'" + value.text + "' needs quotes: only names and directions are written bare", value.at,
                       value.length};
    }
    if (key == "id") return checkId(value, test);
    if (key == "name") return checkName(value, test);
    if (key == "direction") return checkDirection(value, test);
    const bool number = test.subject == FilterTest::Subject::Length || fieldKeys().find(key)->second.number;
    const bool text = test.subject == FilterTest::Subject::Field && fieldKeys().find(key)->second.text;
    if (test.numeric && !number)
      throw ParseError{"'" + key + "' holds text: compare it with a quoted text", value.at, value.length};
    if (!test.numeric && !text)
      throw ParseError{"'" + key + "' is a number: compare it with a number", value.at, value.length};
  }

  // id and name are the same for both directions: the table is made by id.
  template <class Holds>
  static void setHeadersById(FilterTest& test, Holds holds) {
    for (size_t id = 0; id < 256; ++id) {
      const bool result = holds(id);
      test.headers[id] = result;
      test.headers[256 + id] = result;
    }
  }

  static void checkId(const Token& value, FilterTest& test) {
    if (!test.numeric) throw ParseError{"'id' is a number: compare it with a number", value.at, value.length};
    setHeadersById(test, [&test](size_t id) { return holdsForNumber(test, id); });
  }

  static void checkName(const Token& value, FilterTest& test) {
    const auto& names = messageNames();
    if (test.numeric) throw ParseError{"'name' is a message name, e.g. SID_CHATEVENT", value.at, value.length};
    if (test.op == FilterOperator::Less || test.op == FilterOperator::Greater) {
      throw ParseError{"'name' takes ==, !=, contains or matches", value.at, value.length};
    }
    const bool exact = test.op == FilterOperator::Equal || test.op == FilterOperator::NotEqual;
    if (exact && std::find(names.begin(), names.end(), value.text) == names.end()) {
      throw ParseError{"unknown message name '" + value.text + "'" + nearest(value.text, names), value.at,
                       value.length};
    }
    setHeadersById(test, [&test, &names](size_t id) { return holdsForText(test, names[id]); });
  }

  static void checkDirection(const Token& value, FilterTest& test) {
    const bool exact = test.op == FilterOperator::Equal || test.op == FilterOperator::NotEqual;
    const bool known = std::find(std::begin(kDirections), std::end(kDirections), value.text) != std::end(kDirections);
    if (!exact || !known) {
      throw ParseError{"'direction' takes == or != and sent or received", value.at, value.length};
    }
    const bool wantSent = (value.text == "sent") == (test.op == FilterOperator::Equal);
    for (size_t index = 0; index < test.headers.size(); ++index) test.headers[index] = (index >= 256) == wantSent;
  }

  Lexer lexer_;
  Token token_;
  MessageFilter filter_;
  int depth_ = 0;
};

FilterParse parseMessageFilter(std::string_view expression) {
  try {
    return {.filter = FilterParser(expression).parse()};
  } catch (const ParseError& error) {
    return {.problem = error.problem, .at = error.at, .length = error.length};
  }
}

std::string describeFilterProblem(const FilterParse& parse, std::string_view expression) {
  const size_t at = std::min(parse.at, expression.size());
  const size_t marks = std::max<size_t>(1, std::min(parse.length, expression.size() - at));
  return parse.problem + "\n  " + std::string(expression) + "\n  " + std::string(at, ' ') + "^" +
         std::string(marks - 1, '~');
}

std::vector<std::string> filterWords() {
  std::vector<std::string> words(std::begin(kHeaderKeys), std::end(kHeaderKeys));
  words.insert(words.end(), std::begin(kDirections), std::end(kDirections));
  words.insert(words.end(), std::begin(kKeywords), std::end(kKeywords));
  for (const auto& [key, use] : fieldKeys()) words.push_back(key);
  for (const std::string& name : messageNames()) {
    if (!name.starts_with("SID_UNK")) words.push_back(name);
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}

}  // namespace vestrel
