// Message properties for selectors: the usr folders of the MQRFH2 headers
// at the front of the message data, read with a small XML reader that
// knows elements, attributes, text, entities and comments. Message data is
// untrusted: every read is bounded by the header and folder lengths, and
// nesting is limited.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "localqm/core/selector.h"
#include "zeplo/util/banned.h"  // after every other header

namespace {

constexpr int kMaxFolderDepth = 32;

MQLONG ReadLong(const unsigned char* p, MQLONG encoding) {
  uint32_t v;
  if ((encoding & MQENC_INTEGER_MASK) == MQENC_INTEGER_NORMAL)
    v = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  else
    v = (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | uint32_t{p[0]};
  return static_cast<MQLONG>(v);
}

// Folder text whose characters are ASCII where the markup is.
bool AsciiBased(MQLONG ccsid) {
  return ccsid == 1208 || ccsid == 819 || ccsid == 437 || ccsid == 850 || ccsid == 1252;
}

class FolderReader {
 public:
  FolderReader(const char* p, size_t n, std::vector<LqmSelProperty>* out)
      : p_(p), end_(p + n), out_(out) {}

  // Reads the folder's one top element; only "usr" holds properties.
  void Read() {
    SkipMisc();
    Element element;
    if (!StartTag(&element) || element.Name != "usr" || element.Empty) return;
    std::string text;
    bool children = false;
    Content("", 1, &text, &children);
  }

 private:
  struct Element {
    std::string Name;
    std::string Dt;
    bool Nil = false;
    bool Empty = false;  // <name/>
  };

  static bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool NameChar(char c) {
    return c != '\0' && !Blank(c) && c != '>' && c != '/' && c != '=' && c != '<' && c != '\'' &&
           c != '"';
  }

  // Skips blanks, comments and processing instructions.
  void SkipMisc() {
    for (;;) {
      while (p_ < end_ && Blank(*p_)) ++p_;
      if (Starts("<!--")) Skip("-->");
      else if (Starts("<?")) Skip("?>");
      else return;
    }
  }
  bool Starts(const char* s) const {
    size_t n = strlen(s);
    return static_cast<size_t>(end_ - p_) >= n && memcmp(p_, s, n) == 0;
  }
  void Skip(const char* closer) {
    const char* found = static_cast<const char*>(
        memmem(p_, static_cast<size_t>(end_ - p_), closer, strlen(closer)));
    p_ = found != nullptr ? found + strlen(closer) : end_;
  }

  std::string Word() {
    const char* start = p_;
    while (p_ < end_ && NameChar(*p_)) ++p_;
    return std::string(start, p_);
  }

  // "<name attr='v' ...>" or "<name .../>", the '<' current.
  bool StartTag(Element* e) {
    if (p_ >= end_ || *p_ != '<') return false;
    ++p_;
    e->Name = Word();
    if (e->Name.empty()) return false;
    for (;;) {
      while (p_ < end_ && Blank(*p_)) ++p_;
      if (p_ >= end_) return false;
      if (*p_ == '>') {
        ++p_;
        return true;
      }
      if (Starts("/>")) {
        p_ += 2;
        e->Empty = true;
        return true;
      }
      std::string attr = Word();
      while (p_ < end_ && Blank(*p_)) ++p_;
      if (attr.empty() || p_ >= end_ || *p_ != '=') return false;
      ++p_;
      while (p_ < end_ && Blank(*p_)) ++p_;
      if (p_ >= end_ || (*p_ != '\'' && *p_ != '"')) return false;
      char quote = *p_++;
      const char* value = p_;
      while (p_ < end_ && *p_ != quote) ++p_;
      if (p_ >= end_) return false;
      std::string v = Decode(value, p_);
      ++p_;
      if (attr == "dt") e->Dt = v;
      else if (attr == "xsi:nil") e->Nil = v == "true";
    }
  }

  // Reads what stands inside the current element, up to its end tag.
  // Child elements become properties, named with `prefix`; *text gets the
  // element's own text and *children tells whether it had any. Returns
  // false when the text ends or is malformed.
  bool Content(const std::string& prefix, int depth, std::string* text, bool* children) {
    *children = false;
    text->clear();
    for (;;) {
      const char* start = p_;
      while (p_ < end_ && *p_ != '<') ++p_;
      *text += Decode(start, p_);
      if (p_ >= end_) return false;
      if (Starts("<![CDATA[")) {
        p_ += 9;
        const char* cdata = p_;
        Skip("]]>");
        if (p_ - cdata >= 3) text->append(cdata, static_cast<size_t>(p_ - cdata - 3));
        continue;
      }
      if (Starts("<!--")) {
        Skip("-->");
        continue;
      }
      if (Starts("<?")) {
        Skip("?>");
        continue;
      }
      if (Starts("</")) {
        Skip(">");
        return true;
      }
      Element e;
      if (depth >= kMaxFolderDepth || !StartTag(&e)) return false;
      *children = true;
      std::string name = prefix + e.Name;
      if (e.Empty) {
        Add(name, e, "");
        continue;
      }
      std::string inner;
      bool innerChildren = false;
      if (!Content(name + ".", depth + 1, &inner, &innerChildren)) return false;
      if (!innerChildren) Add(name, e, inner);
    }
  }

  void Add(const std::string& name, const Element& e, const std::string& text) {
    LqmSelProperty p;
    p.Name = name;
    p.Value = Typed(e, text);
    out_->push_back(std::move(p));
  }

  static LqmSelValue Typed(const Element& e, const std::string& text) {
    LqmSelValue v;
    if (e.Nil) return v;
    const std::string& dt = e.Dt;
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    if (dt == "i1" || dt == "i2" || dt == "i4" || dt == "i8" || dt == "int") {
      long long n = strtoll(s, &end, 10);
      if (end != s && *end == '\0' && errno == 0) v.Type = LqmSelType::Int, v.Int = n;
    } else if (dt == "r4" || dt == "r8") {
      double d = strtod(s, &end);
      if (end != s && *end == '\0') v.Type = LqmSelType::Double, v.Double = d;
    } else if (dt == "boolean") {
      if (text == "1" || text == "true") v.Type = LqmSelType::Bool, v.Bool = true;
      if (text == "0" || text == "false") v.Type = LqmSelType::Bool, v.Bool = false;
    } else if (dt == "bin.hex") {
      std::string bytes;
      bool ok = text.size() % 2 == 0;
      for (size_t i = 0; ok && i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char* stop = nullptr;
        long b = strtol(pair, &stop, 16);
        ok = stop == pair + 2 && pair[0] != '-' && pair[0] != '+' && pair[0] != ' ';
        bytes += static_cast<char>(b);
      }
      if (ok) v.Type = LqmSelType::Bytes, v.Text = bytes;
    } else {
      v.Type = LqmSelType::String;
      v.Text = text;
    }
    return v;
  }

  // Text with the five named entities and numeric character references
  // resolved; anything else after '&' stays as it is.
  static std::string Decode(const char* p, const char* end) {
    static const struct {
      const char* Name;
      char Value;
    } kNamed[] = {{"lt;", '<'}, {"gt;", '>'}, {"amp;", '&'}, {"quot;", '"'}, {"apos;", '\''}};
    std::string out;
    while (p < end) {
      if (*p != '&') {
        out += *p++;
        continue;
      }
      bool done = false;
      for (const auto& e : kNamed) {
        size_t n = strlen(e.Name);
        if (static_cast<size_t>(end - p - 1) >= n && memcmp(p + 1, e.Name, n) == 0) {
          out += e.Value;
          p += 1 + n;
          done = true;
          break;
        }
      }
      if (!done && end - p > 2 && p[1] == '#') done = CharReference(&p, end, &out);
      if (!done) out += *p++;
    }
    return out;
  }

  // "&#65;" or "&#x41;" as UTF-8; false leaves *p alone.
  static bool CharReference(const char** p, const char* end, std::string* out) {
    const char* q = *p + 2;
    int base = 10;
    if (q < end && (*q == 'x' || *q == 'X')) base = 16, ++q;
    unsigned long code = 0;
    const char* digits = q;
    while (q < end && q - digits < 8 && isxdigit(static_cast<unsigned char>(*q))) {
      int d = isdigit(static_cast<unsigned char>(*q)) ? *q - '0' : (tolower(*q) - 'a' + 10);
      if (d >= base) break;
      code = code * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
      ++q;
    }
    if (q == digits || q >= end || *q != ';' || code == 0 || code > 0x10FFFF) return false;
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
    *p = q + 1;
    return true;
  }

  const char* p_;
  const char* end_;
  std::vector<LqmSelProperty>* out_;
};

}  // namespace

void LqmMessageProperties(const MQMD& md, const unsigned char* data, size_t length,
                          std::vector<LqmSelProperty>* out) {
  out->clear();
  char format[8];
  memcpy(format, md.Format, sizeof format);
  MQLONG encoding = md.Encoding;
  while (data != nullptr && memcmp(format, MQFMT_RF_HEADER_2, 8) == 0 &&
         length >= MQRFH2_LENGTH_2 && memcmp(data, MQRFH_STRUC_ID, 4) == 0 &&
         ReadLong(data + 4, encoding) == MQRFH_VERSION_2) {
    MQLONG strucLength = ReadLong(data + 8, encoding);
    if (strucLength < MQRFH2_LENGTH_2 || static_cast<size_t>(strucLength) > length) return;
    MQLONG ccsid = ReadLong(data + 32, encoding);
    size_t at = MQRFH2_LENGTH_2;
    while (at + 4 <= static_cast<size_t>(strucLength)) {
      MQLONG folderLength = ReadLong(data + at, encoding);
      at += 4;
      if (folderLength < 0 || static_cast<size_t>(folderLength) > strucLength - at) return;
      if (AsciiBased(ccsid)) {
        FolderReader(reinterpret_cast<const char*>(data + at), static_cast<size_t>(folderLength),
                     out)
            .Read();
      }
      at += static_cast<size_t>(folderLength);
    }
    // The next header's integers are in the encoding this one names.
    MQLONG next = ReadLong(data + 12, encoding);
    memcpy(format, data + 20, sizeof format);
    encoding = next;
    data += strucLength;
    length -= static_cast<size_t>(strucLength);
  }
}
