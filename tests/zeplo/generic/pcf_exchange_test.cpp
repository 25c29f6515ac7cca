// The Inquire Queue exchange against scripted replies: what each kind of
// reply prints and returns, and replies longer than the first area. The
// status inquiry runs end to end against localqm.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/zeplo/test_run.h"
#include "zeplo/generic/generic.h"
#include "zeplo/mq/mq.h"
#include "zeplo/names/names.h"
#include "zeplo/util/util.h"

namespace {

std::vector<std::vector<unsigned char>> gReplies;  // what MQGET hands out, in order
size_t gNext;

void Done(PMQLONG cc, PMQLONG rc, MQLONG reason = MQRC_NONE) {
  *cc = reason == MQRC_NONE ? MQCC_OK : MQCC_FAILED, *rc = reason;
}

void FakeOpen(MQHCONN, PMQVOID od, MQLONG, PMQHOBJ hobj, PMQLONG cc, PMQLONG rc) {
  MQOD* d = static_cast<MQOD*>(od);
  if (memcmp(d->ObjectName, "SYSTEM.DEFAULT.MODEL", 20) == 0) SetMqField(d->ObjectName, "AMQ.R");
  *hobj = 7;
  Done(cc, rc);
}
void FakePut(MQHCONN, MQHOBJ, PMQVOID, PMQVOID, MQLONG, PMQVOID, PMQLONG cc, PMQLONG rc) {
  Done(cc, rc);
}
void FakeGet(MQHCONN, MQHOBJ, PMQVOID, PMQVOID, MQLONG length, PMQVOID buffer, PMQLONG dataLength,
             PMQLONG cc, PMQLONG rc) {
  if (gNext >= gReplies.size()) return Done(cc, rc, MQRC_NO_MSG_AVAILABLE);
  const std::vector<unsigned char>& reply = gReplies[gNext];
  *dataLength = static_cast<MQLONG>(reply.size());
  // A reply longer than the buffer stays for a bigger one.
  if (*dataLength > length) return Done(cc, rc, MQRC_TRUNCATED_MSG_FAILED);
  memcpy(buffer, reply.data(), reply.size());
  gNext++;
  Done(cc, rc);
}

// A reply: header (command, control, reason) and parameter words.
std::vector<unsigned char> Reply(MQLONG command, MQLONG control, MQLONG reason,
                                 std::vector<MQLONG> params, MQLONG count) {
  std::vector<MQLONG> words = {MQCFT_RESPONSE, 36, 1, command, 1, control, 0, reason, count};
  words.insert(words.end(), params.begin(), params.end());
  std::vector<unsigned char> bytes(words.size() * 4);
  memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}
// MQCA_Q_NAME "Qn", type local, depth, definition type predefined.
std::vector<MQLONG> Queue(char n, MQLONG depth) {
  MQLONG name;
  memcpy(&name, (std::string("Q") + n + "  ").data(), 4);
  return {MQCFT_STRING, 24, MQCA_Q_NAME, 0, 2, name, MQCFT_INTEGER, 16, MQIA_Q_TYPE, MQQT_LOCAL,
          MQCFT_INTEGER, 16, MQIA_CURRENT_Q_DEPTH, depth, MQCFT_INTEGER, 16,
          MQIA_DEFINITION_TYPE, MQQDT_PREDEFINED};
}

int Collect(Run*, const PcfQueueInfo* q, void* context) {
  *static_cast<std::string*>(context) += std::string(q->Name) + ":" + std::to_string(q->Depth) + " ";
  return 0;
}

TEST(ExchangeTest, InquireQueueRepliesAsTheyCome) {
  MqApi api{};
  api.MQOPEN = FakeOpen, api.MQPUT = FakePut, api.MQGET = FakeGet;
  auto o = std::make_unique<TestRun>();
  o->Qmgrs[0] = QmgrSlot{nullptr, &api, "QM1", 10, 940, MQPL_UNIX, false, nullptr, nullptr};
  std::vector<MQLONG> big = Queue('B', 9);
  big.insert(big.end(), {MQCFT_INTEGER_LIST, 16 + 4 * 2000, 1, 2000});
  big.resize(big.size() + 2000, 5);
  struct Case {
    const char* what;
    std::vector<std::vector<unsigned char>> replies;
    int rc;
    std::string queues, err;
  } cases[] = {
      {"two queues", {Reply(13, 0, 0, Queue('1', 3), 4), Reply(13, 1, 0, Queue('2', 0), 4)}, 0,
       "Q1:3 Q2:0 ", ""},
      {"a reply longer than the area", {Reply(13, 1, 0, big, 5)}, 0, "QB:9 ", ""},
      {"another command", {Reply(41, 1, 0, {}, 0)}, MQRCCF_COMMAND_REPLY_ERROR, "",
       "Wrong command server response. CMD(41)\n"},
      {"shorter than a header", {std::vector<unsigned char>(20)}, MQRC_STORAGE_NOT_AVAILABLE, "",
       "Failed to parse command server response. RC(2071) Storage not available\n"},
      {"a damaged parameter is no queue", {Reply(13, 1, 0, Queue('1', 3), 5)}, 3016, "",
       "Failed to parse command server response. RC(3016) Message length error\n"},
      {"no last reply", {Reply(13, 0, 0, Queue('1', 3), 4)}, MQRC_NO_MSG_AVAILABLE, "Q1:3 ",
       "No response from command server.\n"},
  };
  for (const Case& c : cases) {
    gReplies = c.replies;
    gNext = 0;
    std::string queues;
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.rc, InquireQueues(o.get(), Collect, &queues)) << c.what;
    EXPECT_EQ(c.err, testing::internal::GetCapturedStderr()) << c.what;
    EXPECT_EQ(c.queues, queues) << c.what;
  }
  QueueListRelease(&o->Parsed.InputList);
}

}  // namespace
