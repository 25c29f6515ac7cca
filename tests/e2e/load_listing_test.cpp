// Browse-sample listings of every level loaded onto a queue: messages put
// with localqm, written out by a generator that prints what the browse
// sample prints for them, loaded with zeplo onto a second queue, and
// compared with the originals field for field and byte for byte.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mqi/mqi.h"
#include "tests/e2e/e2e_util.h"

namespace {

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), 0, 16));
  return out;
}

// A 32-bit integer in big-endian or little-endian order, and back.
std::string Int(uint32_t v, bool big) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; i++) out[big ? 3 - i : i] = static_cast<char>(v >> (8 * i));
  return out;
}
uint32_t ReadInt(const std::string& s, size_t at, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < 4; i++) v = v << 8 | static_cast<unsigned char>(s[at + (big ? i : 3 - i)]);
  return v;
}

// An MQDLH naming MQSTR data; text fields NUL- or blank-padded.
std::string Dlh(bool big, char pad, const std::string& innerFormat = "MQSTR") {
  auto Text = [](std::string s, size_t w, char with) { return s.append(w - s.size(), with); };
  return "DLH " + Int(1, big) + Int(MQRC_PUT_INHIBITED, big) + Text("QL.A", 48, pad) +
         Text("QMW", 48, pad) + Int(big ? 273 : 546, big) + Int(819, big) +
         Text(innerFormat, 8, ' ') + Int(6, big) + Text("amqrmppa", 28, pad) + "20130114" +
         "11242677";
}

// An MQRFH2 naming MQSTR data in 546 or 273, holding `folders` (each
// padded to a multiple of 4 with blanks).
std::string Rfh2(bool big, const std::vector<std::string>& folders) {
  std::string pairs;
  for (std::string f : folders) {
    f.append((4 - f.size() % 4) % 4, ' ');
    pairs += Int(static_cast<uint32_t>(f.size()), big) + f;
  }
  return "RFH " + Int(2, big) + Int(static_cast<uint32_t>(36 + pairs.size()), big) +
         Int(big ? 273 : 546, big) + Int(819, big) + "MQSTR   " + Int(0, big) + Int(1208, big) +
         pairs;
}

struct Original {
  std::vector<std::string> put;         // localqm put options
  std::vector<std::string> properties;  // property lines; empty: "None"
};

struct Form {
  const char* name;
  const char* heading;
  bool auth, sections, bigEndianPrinter;  // sections: current levels
};

// The dead-letter header's fields in order, with the width of the text
// ones (printed up to their first NUL); the others are 4-byte numbers.
const char kDeadLetter[] =
    "StrucId:4 Version Reason DestQName:48 DestQMgrName:48 Encoding CodedCharSetId Format:8 "
    "PutApplType PutApplName:28 PutDate:8 PutTime:8";

// What the browse sample prints for `m` (a localqm browse, data in hex).
std::string ListMessage(MessageFields m, const Original& o, const Form& form, int number) {
  std::string data = Unhex(m["DataHex"]), format = m["Format"];
  bool big = m["Encoding"] == "273";
  size_t at = m["Format"] == "MQDEAD" ? MQDLH_LENGTH_1 : 0;
  if (!o.properties.empty()) {  // the queue manager takes the MQRFH2 out of the data
    std::string inner = data.substr(at + 20, 8);
    data.erase(at, ReadInt(data, at + 8, big));
    if (at == 0)
      format = inner;
    else
      data.replace(116, 8, inner);
  }
  std::string out = "\n \n MQGET of message number " + std::to_string(number) +
                    ", CompCode:0 Reason:0\n****Message descriptor****\n";
  for (const auto& [name, value] : m) {
    if (name == "Message" || name.rfind("Data", 0) == 0) continue;
    bool bytes =
        name == "MsgId" || name == "CorrelId" || name == "GroupId" || name == "AccountingToken";
    std::string v = name == "Format" ? format : value;  // the reader pads text to its field
    out += "\n  " + name + " : " + (bytes ? "X'" + v + "'" : "'" + v + "'");
  }
  if (form.sections) {
    out += "\n \n****Message properties****\n";
    for (const std::string& p : o.properties) out += "\n  " + p;
    if (o.properties.empty()) out += "\n  None\n";
  }
  if (form.sections && format == "MQDEAD") {
    out += "\n\n****Dead Letter Header****\n";
    size_t field = 0;
    for (const std::string& f : Words(kDeadLetter)) {  // numbers in the sample's own byte order
      size_t colon = f.find(':'), width = colon == f.npos ? 0 : std::stoul(f.substr(colon + 1));
      int32_t n = static_cast<int32_t>(ReadInt(data, field, form.bigEndianPrinter));
      out += "\n  " + f.substr(0, colon) + " : '" +
             (width ? data.substr(field, width).c_str() : std::to_string(n)) + "'";
      if (f == "Reason") out += n == MQRC_PUT_INHIBITED ? " [MQRC_PUT_INHIBITED]" : " [UNKNOWN RC]";
      field += width ? width : 4;
    }
    data.erase(0, MQDLH_LENGTH_1);
  }
  std::string size = std::to_string(data.size());
  out += "\n \n****   Message      ****\n \n length - " +
         (form.sections ? size + " of " + size : size) + " bytes\n ";
  for (size_t line = 0; line == 0 || line < data.size(); line += 16) {
    char offset[24];  // "\n" + up to 16 hex digits + ": "
    std::snprintf(offset, sizeof offset, "\n%08zX: ", line);
    std::string hex = offset, shown;
    for (size_t i = line; i < line + 16; i++) {
      bool in = i < data.size();
      hex += (i % 2 == 0 ? " " : "") + (in ? Hex(data.substr(i, 1)) : "  ");
      shown += !in ? ' ' : isprint(static_cast<unsigned char>(data[i])) ? data[i] : '.';
    }
    out += hex + " '" + shown + "'";
  }
  return out;
}

std::string Listing(const std::vector<MessageFields>& messages,
                    const std::vector<Original>& originals, const Form& form) {
  std::string out =
      form.auth
          ? "Authentication not enabled, if you wish to enable:\n - Build this sample with "
            "amqsauth.c\n - Define the 'SAMPLE_AUTH_ENABLED' compile flag in your compile command\n"
          : "";
  out += "\n" + std::string(form.heading) +
         " - starts here\n**********************\n \n MQOPEN - 'Q1'\n ";
  for (size_t i = 0; i < messages.size(); i++)
    out += ListMessage(messages[i], originals[i], form, int(i) + 1);
  out += "\n \n \n No more messages ";
  if (form.sections)
    out += "\n\n****   Summary      ****\n 3 messages browsed.\n Smallest message 5 bytes.\n";
  return out + "\n MQCLOSE\n MQDISC\n";
}

TEST(LoadListing, EveryFormLoadsTheMessagesItShows) {
  const std::string payload = "Payload of a message that needs two dump lines.";
  const std::vector<Original> plain = {
      {{"--text", payload, "--format", "MQSTR", "--priority", "3", "--correlid", "C0FFEE"}, {}},
      {{"--hex", Hex(Dlh(false, '\0') + payload), "--format", "MQDEAD"}, {}},
      {{"--hex", Hex(Dlh(true, ' ') + "odd"), "--format", "MQDEAD", "--encoding", "273"}, {}},
  };
  const std::vector<Original> properties = {
      {{"--hex",
        Hex(Rfh2(
                false,
                {"<mcd><Msd>jms_text</Msd></mcd>", "<jms><Dst>queue:///Q1</Dst></jms>",
                 "<usr><count dt='i4'>12</count><big dt='i8'>5000000000</big><flag dt='boolean'>1"
                 "</flag><ratio dt='r8'>0.25</ratio><note>a&lt;b &amp; c's</note><raw dt='bin.hex'>"
                 "00FF</raw><nothing xsi:nil='true'></nothing></usr>",
                 "<app content='properties'><colour>red</colour></app>"}) +
            payload),
        "--format", "MQHRF2", "--ccsid", "819"},
       {"mcd.Msd : 'jms_text'", "jms.Dst : 'queue:///Q1'", "count : 12", "usr.big : 5000000000",
        "flag : TRUE", "ratio : 0.25", "note : 'a<b & c's'", "raw : X'00FF'", "nothing : NULL",
        "app.colour : 'red'"}},
      {{"--hex",
        Hex(Dlh(false, '\0', "MQHRF2") + Rfh2(false, {"<usr><n dt='i4'>1</n></usr>"}) + payload),
        "--format", "MQDEAD", "--ccsid", "819"},
       {"n : 1"}},
      {{"--hex", Hex(Rfh2(true, {"<usr><n dt='i4'>-7</n></usr>"}) + "big"), "--format", "MQHRF2",
        "--encoding", "273", "--ccsid", "819"},
       {"usr.n : -7"}},
      {{"--text", "none", "--format", "MQSTR"}, {}},
  };
  const struct {
    Form form;
    const std::vector<Original>* originals;
  } cases[] = {
      {{"older levels", "AMQSBCG0", false, false, false}, &plain},
      {{"dead-letter, little-endian sample", "AMQSBCG0", false, true, false}, &plain},
      {{"dead-letter, big-endian sample", "AMQSBCG0", false, true, true}, &plain},
      {{"IBM i, authentication notice", "AMQSBCG4", true, true, false}, &plain},
      {{"properties", "AMQSBCG0", false, true, false}, &properties},
  };
  LocalqmOrFail({"create", "QM1", "--default"});
  for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"define", "QM1", q});
  for (const auto& c : cases) {
    for (const char* q : {"Q1", "Q2"}) LocalqmOrFail({"clear", "QM1", q});
    for (const Original& o : *c.originals) {
      std::vector<std::string> put = {"put", "QM1", "Q1"};
      put.insert(put.end(), o.put.begin(), o.put.end());
      LocalqmOrFail(put);
    }
    const std::vector<MessageFields> original = BrowseMessages("QM1", "Q1", true);
    ASSERT_EQ(c.originals->size(), original.size()) << c.form.name;
    ASSERT_TRUE(WriteFileText(ScratchPath("listing.txt"), Listing(original, *c.originals, c.form)));
    RunResult r = RunZeplo({"-m", "QM1", "-f", "listing.txt", "-o", "Q2", "-q"});
    ASSERT_EQ(0, r.exitStatus) << c.form.name << "\n" << r.err;
    EXPECT_EQ(original, BrowseMessages("QM1", "Q2", true)) << c.form.name;
  }
}

}  // namespace
