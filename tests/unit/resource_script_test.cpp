// The Windows resource script (res/actualizador.rc) read as the resource compiler (windres)
// compiles its dialogs and string table, held equal to the table the Qt window builds from and
// the Win32 window moves its controls by: both dialogs, every control in tab order, texts,
// positions, sizes and every style bit.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "model/dialog_template.h"
#include "model/resource.h"

namespace {

using namespace updater::dialog_style;

struct Token {
  enum Kind { kName, kNumber, kString, kPunct } kind;
  std::string text;    // a name, a string's bytes (Windows-1252) or the punctuation
  std::int64_t value;  // a number's
  std::string origin;  // the name of the macro it came from, if any
};

std::string ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.is_open()) << path;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Quoted rc/C string starting at text[i] == '"': octal and hex escapes, "" for a quote.
std::string ReadString(const std::string& text, std::size_t& i) {
  std::string bytes;
  for (++i; i < text.size();) {
    char c = text[i++];
    if (c == '"') {
      if (i < text.size() && text[i] == '"') {
        bytes += text[i++];
        continue;
      }
      break;
    }
    if (c != '\\' || i >= text.size()) {
      bytes += c;
      continue;
    }
    c = text[i++];
    int value = 0;
    if (c >= '0' && c <= '7') {
      value = c - '0';
      for (int n = 1; n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++n)
        value = value * 8 + (text[i++] - '0');
    } else if (c == 'x') {
      while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])))
        value = value * 16 + std::stoi(std::string(1, text[i++]), nullptr, 16);
    } else {
      value = c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    bytes += static_cast<char>(value);
  }
  return bytes;
}

// Tokens of the script or a header, without comments and preprocessor lines; the #define lines
// of a name and a value go into `macros`.
std::vector<Token> Tokenize(std::string text, std::map<std::string, std::vector<Token>>* macros) {
  std::vector<Token> tokens;
  for (std::size_t at; (at = text.find("\\\n")) != std::string::npos;)
    text.erase(at, 2);
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (text.compare(i, 2, "//") == 0 || c == '#') {
      const std::size_t end = text.find('\n', i);
      const std::string line = text.substr(i, end == std::string::npos ? end : end - i);
      i = end == std::string::npos ? text.size() : end;
      std::istringstream words(line);
      std::string directive, name;
      if (macros != nullptr && words >> directive >> name && directive == "#define") {
        std::string value;
        std::getline(words, value);
        (*macros)[name] = Tokenize(value, nullptr);
      }
    } else if (text.compare(i, 2, "/*") == 0) {
      const std::size_t end = text.find("*/", i);
      i = end == std::string::npos ? text.size() : end + 2;
    } else if (c == '"') {
      tokens.push_back({Token::kString, ReadString(text, i), 0, {}});
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      std::size_t used = 0;
      const std::int64_t value = std::stoll(text.substr(i), &used, 0);
      i += used;
      while (i < text.size() && (text[i] == 'L' || text[i] == 'l'))
        ++i;
      tokens.push_back({Token::kNumber, {}, value, {}});
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t end = i;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
        ++end;
      }
      tokens.push_back({Token::kName, text.substr(i, end - i), 0, {}});
      i = end;
    } else {
      tokens.push_back({Token::kPunct, std::string(1, c), 0, {}});
      ++i;
    }
  }
  return tokens;
}

// The names the script takes from the Windows headers, valued as the table values them.
std::map<std::string, std::vector<Token>> WindowsNames() {
  const std::pair<const char*, std::uint32_t> names[] = {
      {"WS_POPUP", kPopup},           {"WS_CHILD", kChild},
      {"WS_VISIBLE", kVisible},       {"WS_CAPTION", kCaption},
      {"WS_BORDER", kBorder},         {"WS_SYSMENU", kSysMenu},
      {"WS_THICKFRAME", kThickFrame}, {"WS_GROUP", kGroup},
      {"WS_TABSTOP", kTabStop},       {"WS_EX_APPWINDOW", kAppWindow},
      {"DS_CENTER", kCenter},         {"DS_MODALFRAME", kModalFrame},
      {"DS_SETFONT", kSetFont},       {"DS_3DLOOK", k3dLook},
      {"ES_MULTILINE", kMultiLine},   {"ES_READONLY", kReadOnly},
      {"SS_NOPREFIX", kNoPrefix},     {"PBS_SMOOTH", kSmooth},
      {"IDOK", updater::kOkId}};
  std::map<std::string, std::vector<Token>> macros;
  for (const auto& [name, value] : names)
    macros[name] = {{Token::kNumber, {}, value, {}}};
  macros["PROGRESS_CLASSA"] = {{Token::kString, "msctls_progress32", 0, {}}};
  return macros;
}

// Replaces each defined name by its value; the tokens keep the outermost name they came from.
std::vector<Token> Expand(const std::vector<Token>& in,
                          const std::map<std::string, std::vector<Token>>& macros, int depth = 0) {
  std::vector<Token> out;
  for (const Token& token : in) {
    const auto found = token.kind == Token::kName ? macros.find(token.text) : macros.end();
    if (found == macros.end() || depth > 8) {
      out.push_back(token);
      continue;
    }
    for (Token value : Expand(found->second, macros, depth + 1)) {
      value.origin = token.text;
      out.push_back(value);
    }
  }
  return out;
}

using Args = std::vector<std::vector<Token>>;

// A number: digits, a unary minus, parentheses.
std::int64_t Number(const std::vector<Token>& tokens, std::size_t& i) {
  if (i >= tokens.size()) {
    ADD_FAILURE() << "a number is missing";
    return 0;
  }
  const Token& token = tokens[i++];
  if (token.text == "-")
    return -Number(tokens, i);
  if (token.text == "(") {
    const std::int64_t value = Number(tokens, i);
    ++i;  // ")"
    return value;
  }
  EXPECT_EQ(token.kind, Token::kNumber) << "unknown name " << token.text;
  return token.value;
}

std::int64_t Number(const std::vector<Token>& tokens) {
  std::size_t i = 0;
  return Number(tokens, i);
}

// A style expression over `base`: "A | B | NOT C" sets A and B and clears C.
std::uint32_t Style(const std::vector<Token>& tokens, std::uint32_t base) {
  std::size_t i = 0;
  while (i < tokens.size()) {
    if (tokens[i].kind == Token::kPunct && tokens[i].text == "|") {
      ++i;
      continue;
    }
    const bool clear = tokens[i].kind == Token::kName && tokens[i].text == "NOT";
    if (clear)
      ++i;
    const auto bits = static_cast<std::uint32_t>(Number(tokens, i));
    base = clear ? base & ~bits : base | bits;
  }
  return base;
}

struct Control {
  std::int64_t id = 0;
  std::string idName;
  std::string windowClass;
  std::string text;
  std::int64_t icon = 0;
  std::int64_t x = 0, y = 0, cx = 0, cy = 0;
  std::uint32_t style = 0, exStyle = 0;
};

struct Dialog {
  std::int64_t id = 0;
  std::int64_t x = 0, y = 0, cx = 0, cy = 0;
  std::uint32_t style = 0, exStyle = 0;
  std::string caption, typeface;
  std::int64_t pointSize = 0, weight = 0, italic = 0, charset = 0;
  std::vector<Control> controls;
};

struct Script {
  std::map<std::string, Dialog> dialogs;
  std::map<std::int64_t, std::string> strings;
};

// Splits tokens [i, end) at the commas.
Args Split(const std::vector<Token>& tokens, std::size_t i, std::size_t end) {
  Args args(1);
  for (; i < end; ++i) {
    if (tokens[i].text == ",")
      args.emplace_back();
    else
      args.back().push_back(tokens[i]);
  }
  return args;
}

// One control statement, with the styles windres gives each kind: its default when the
// statement names no style, else its base with the named bits; always a visible child.
Control ReadControl(const std::string& keyword, const Args& a) {
  Control c;
  std::size_t n = 0;  // the next argument
  const auto number = [&] { return n < a.size() ? Number(a[n++]) : 0; };
  std::uint32_t fallback = 0, base = 0;
  if (keyword == "PUSHBUTTON" || keyword == "DEFPUSHBUTTON" || keyword == "LTEXT" ||
      keyword == "CONTROL") {
    c.text = a[n].empty() ? "" : a[n][0].text;
    ++n;
  }
  if (keyword == "ICON")
    c.icon = number();
  c.idName = a[n].empty() ? "" : a[n][0].origin;
  c.id = number();
  if (keyword == "CONTROL") {
    c.windowClass = a[n++][0].text;
    c.style = Style(a[n++], kChild | kVisible);
  } else if (keyword == "EDITTEXT") {
    c.windowClass = "Edit";
    fallback = base = kEditLeft | kBorder | kTabStop;
  } else if (keyword == "LTEXT") {
    c.windowClass = "Static";
    fallback = kStaticLeft | kGroup;
    base = kStaticLeft;
  } else if (keyword == "ICON") {
    c.windowClass = "Static";
    fallback = base = kIcon;
  } else {
    c.windowClass = "Button";
    fallback = base = (keyword == "DEFPUSHBUTTON" ? kDefPushButton : kPushButton) | kTabStop;
  }
  c.x = number();
  c.y = number();
  if (keyword == "ICON") {
    n += 2;  // an icon control keeps its icon's size: windres stores none
  } else {
    c.cx = number();
    c.cy = number();
  }
  if (keyword != "CONTROL")
    c.style = kChild | kVisible | (n < a.size() ? Style(a[n++], base) : fallback);
  if (n < a.size())
    c.exStyle = Style(a[n++], 0);
  return c;
}

Script ReadScript() {
  std::map<std::string, std::vector<Token>> macros = WindowsNames();
  Tokenize(ReadFile(UPDATER_RESOURCE_HEADER), &macros);
  Tokenize(ReadFile(UPDATER_PRODUCT_INFO_HEADER), &macros);
  const std::vector<Token> raw = Tokenize(ReadFile(UPDATER_RESOURCE_SCRIPT), &macros);
  const std::vector<Token> t = Expand(raw, macros);
  const auto is = [&t](std::size_t i, const char* name) {
    return i < t.size() && t[i].kind == Token::kName && t[i].text == name;
  };
  const auto isControl = [&](std::size_t i) {
    for (const char* keyword :
         {"PUSHBUTTON", "DEFPUSHBUTTON", "LTEXT", "EDITTEXT", "ICON", "CONTROL", "END"}) {
      if (is(i, keyword))
        return true;
    }
    return false;
  };
  // The end of the statement or argument list that starts at i.
  const auto until = [&](std::size_t i, auto stop) {
    while (i < t.size() && !stop(i))
      ++i;
    return i;
  };
  Script script;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (is(i, "STRINGTABLE")) {
      for (i += 2; i + 1 < t.size() && !is(i, "END"); i += 2)
        script.strings[t[i].value] = t[i + 1].text;
      continue;
    }
    if (!is(i + 1, "DIALOGEX"))
      continue;
    Dialog& d = script.dialogs[t[i].origin];
    d.id = t[i].value;
    std::size_t end = until(i + 2, [&](std::size_t j) { return t[j].kind == Token::kName; });
    const Args frame = Split(t, i + 2, end);
    d.x = Number(frame.at(0));
    d.y = Number(frame.at(1));
    d.cx = Number(frame.at(2));
    d.cy = Number(frame.at(3));
    for (i = end; i < t.size() && !is(i, "BEGIN"); i = end) {
      const std::string statement = t[i].text;
      end = until(i + 1, [&](std::size_t j) {
        return is(j, "STYLE") || is(j, "EXSTYLE") || is(j, "CAPTION") || is(j, "FONT") ||
               is(j, "BEGIN");
      });
      const Args args = Split(t, i + 1, end);
      if (statement == "STYLE") {
        d.style |= Style(args.at(0), 0);
      } else if (statement == "EXSTYLE") {
        d.exStyle = Style(args.at(0), 0);
      } else if (statement == "CAPTION") {
        d.caption = args.at(0).at(0).text;
        d.style |= kCaption;
      } else if (statement == "FONT") {
        d.pointSize = Number(args.at(0));
        d.typeface = args.at(1).at(0).text;
        d.weight = Number(args.at(2));
        d.italic = Number(args.at(3));
        d.charset = Number(args.at(4));
        d.style |= kSetFont;
      }
    }
    for (++i; i < t.size() && !is(i, "END"); i = end) {
      end = until(i + 1, isControl);
      d.controls.push_back(ReadControl(t[i].text, Split(t, i + 1, end)));
    }
  }
  return script;
}

const char* ClassName(updater::ControlClass windowClass) {
  switch (windowClass) {
    case updater::ControlClass::kButton:
      return "Button";
    case updater::ControlClass::kEdit:
      return "Edit";
    case updater::ControlClass::kStatic:
      return "Static";
    case updater::ControlClass::kProgress:
      return "msctls_progress32";
  }
  return "";
}

void ExpectSameDialog(const Script& script, const updater::DialogTemplate& table) {
  SCOPED_TRACE(table.name);
  ASSERT_EQ(script.dialogs.count(table.name), 1u);
  const Dialog& rc = script.dialogs.at(table.name);
  EXPECT_EQ(rc.id, table.id);
  EXPECT_EQ(rc.caption, table.caption);
  EXPECT_EQ(rc.typeface, table.typeface);
  EXPECT_EQ(rc.pointSize, table.pointSize);
  EXPECT_EQ(rc.weight, table.weight);
  EXPECT_EQ(rc.italic, table.italic);
  EXPECT_EQ(rc.charset, table.charset);
  EXPECT_EQ(std::vector<std::int64_t>({rc.x, rc.y, rc.cx, rc.cy}),
            std::vector<std::int64_t>({table.x, table.y, table.cx, table.cy}));
  EXPECT_EQ(rc.style, table.style);
  EXPECT_EQ(rc.exStyle, table.exStyle);
  ASSERT_EQ(rc.controls.size(), table.controls.size());
  for (std::size_t i = 0; i < rc.controls.size(); ++i) {
    const Control& c = rc.controls[i];
    const updater::ControlTemplate& want = table.controls[i];
    SCOPED_TRACE(testing::Message() << "control " << i << " " << want.name);
    EXPECT_EQ(c.id, want.id);
    if (want.id != updater::kStaticId) {
      EXPECT_EQ(c.idName, want.name);
    }
    EXPECT_EQ(c.windowClass, ClassName(want.windowClass));
    EXPECT_EQ(c.text, want.text);
    EXPECT_EQ(c.icon, want.iconId);
    EXPECT_EQ(std::vector<std::int64_t>({c.x, c.y, c.cx, c.cy}),
              std::vector<std::int64_t>({want.x, want.y, want.cx, want.cy}));
    EXPECT_EQ(c.style, want.style) << std::hex << c.style << " " << want.style;
    EXPECT_EQ(c.exStyle, want.exStyle);
  }
}

TEST(ResourceScript, DialogsAndStringAreTheTable) {
  const Script script = ReadScript();
  EXPECT_EQ(script.dialogs.size(), 2u);
  ExpectSameDialog(script, updater::kMainDialog);
  ExpectSameDialog(script, updater::kAboutBox);
  ASSERT_EQ(script.strings.size(), 1u);
  ASSERT_EQ(script.strings.count(IDS_ABOUTBOX), 1u);
  EXPECT_EQ(script.strings.at(IDS_ABOUTBOX), updater::kAboutMenuText);
}

// What the window hides, moves and shows as it opens are controls of its template.
TEST(ResourceScript, OpeningMovesNameControlsOfTheMainDialog) {
  const auto inTemplate = [](int id) {
    for (const updater::ControlTemplate& control : updater::kMainDialog.controls) {
      if (control.id == id && id != updater::kStaticId)
        return true;
    }
    return false;
  };
  const updater::OpeningMoves& moves = updater::kMainDialogOpening;
  for (const int id : moves.hidden)
    EXPECT_TRUE(inTemplate(id)) << id;
  for (const updater::ControlMove& move : moves.moved)
    EXPECT_TRUE(inTemplate(move.id)) << move.id;
  EXPECT_TRUE(inTemplate(moves.shown));
}

// In Spanish (this program never chooses another language) each control shows the script's text
// byte for byte, the About box's product line, composed from its words, among them.
TEST(ResourceScript, InSpanishEachControlShowsItsTemplateText) {
  for (const updater::DialogTemplate* dialog : {&updater::kMainDialog, &updater::kAboutBox}) {
    for (const updater::ControlTemplate& control : dialog->controls)
      EXPECT_EQ(updater::ShownText(control), control.text) << control.name;
  }
}

}  // namespace
