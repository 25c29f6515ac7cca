#!/usr/bin/env python3
"""Writes zeplo/mq/reason_tables.cpp from mqi/constants.tsv.

The main table holds every MQRC_, MQRCCF_ and MQFB_ code (names that mark
the bounds of a code range, *_FIRST and *_LAST, are not codes and are left
out), grouped in that prefix order and sorted by name within a group, then
the program's own codes. The feedback table holds a first row for 0 with no
text, then the MQFB_ codes from MQFB_QUIT (256) up, in code order.

Descriptions are derived from the constant names: the prefix dropped,
abbreviations spelled out, acronyms kept upper case; sentence case for
reason codes, title case for feedback codes. TEXT_OVERRIDES holds the texts
that users and scripts already know, which win over the derivation.

Usage:
  gen_reason_texts.py            rewrite reason_tables.cpp beside this script
  gen_reason_texts.py --check    exit 1 when reason_tables.cpp is stale
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MQI = os.path.join(HERE, "..", "..", "mqi")
SOURCE = os.path.join(MQI, "constants.tsv")
TARGET = os.path.join(HERE, "reason_tables.cpp")

# The table reader and the write-or-check step are mqi/gen_constants.py's.
sys.path.insert(0, MQI)
sys.dont_write_bytecode = True  # no __pycache__ beside the sources
from gen_constants import read_constants, write_or_check  # noqa: E402

GROUPS = ["MQRC_", "MQRCCF_", "MQFB_"]

# The program's own codes: command-reply vocabulary and event-reader codes.
OWN_ROWS = [
    (33844, "MQRC_REPOS_NOT_AVAILABLE", "Repository not available"),
    (10000, "ZEPLO_OK_WITH_TEXT", "OK with text"),
    (10001, "ZEPLO_DATA_INCOMPLETE", "Data Incomplete"),
    (10002, "ZEPLO_MAX_SOURCE_REACHED", "Max Source Reached"),
    (10003, "ZEPLO_COLLATE_NOT_SUITABLE", "Collate not suitable"),
    (10004, "ZEPLO_PROGRESS_MESSAGE", "Progress message"),
    (200000, "ZEPLO_NOT_AN_EVENT_MESSAGE", "MQEV:Not an event message"),
    (200001, "ZEPLO_NOT_A_STATISTICS_MESSAGE", "MQEV:Not a statistics message"),
]

# Texts fixed by the program's history (exact, typos included).
TEXT_OVERRIDES = {
    "MQRC_NONE": "OK",
    "MQRC_MSG_TOO_BIG_FOR_Q": "Message to big for queue",
    "MQRC_CONVERTED_MSG_TOO_BIG": "Converted message to big",
    "MQRC_CNO_ERROR": "MQCNO Error",
    "MQRC_CHANNEL_NOT_AVAILABLE": "Channel Not Available",
    "MQRC_HOST_NOT_AVAILABLE": "Host Not Available",
    "MQRC_STORAGE_MEDIUM_FULL": "Pageset full",
    "MQFB_COA": "Confirm on Arrival",
    "MQFB_COD": "Confirm on Delivery",
    "MQFB_PAN": "Positive Action Notification",
    "MQFB_NAN": "Negative Action Notification",
}

# Words spelled out (lower case; sentence or title case is applied later).
WORDS = {
    "MSG": "message", "MSGS": "messages", "Q": "queue", "QS": "queues",
    "ERR": "error", "PARM": "parameter", "PARMS": "parameters",
    "ATTR": "attribute", "ATTRS": "attributes", "CHL": "channel",
    "CONN": "connection", "CONNS": "connections", "CONV": "conversion",
    "CONVS": "conversions", "CMD": "command", "DEST": "destination",
    "DISC": "disconnect", "ENC": "encoding", "LEN": "length",
    "LSTR": "listener", "PROP": "property", "PROPS": "properties",
    "PUB": "publication", "SUB": "subscription", "SUBS": "subscriptions",
    "REPOS": "repository", "SEQ": "sequence", "VAL": "value",
    "XMIT": "transmission", "ALLOC": "allocation", "INST": "installation",
    "INSTS": "installations", "REQD": "required", "RECS": "records",
    "REC": "record", "DEFS": "definitions", "IPADDR": "IP address",
    "INT": "integer", "CHAR": "character", "STRUC": "structure",
    "APPL": "application", "RCV": "receive", "SRC": "source",
    "MGR": "manager", "SEC": "security", "NET": "network",
    "COMM": "communication", "COMMS": "communications",
}

# Kept exactly as written.
FIXED = {
    "HCONN": "Hconn", "HOBJ": "Hobj", "HMSG": "Hmsg", "HBAG": "Hbag",
    "HCONFIG": "Hconfig", "ID": "ID", "IDS": "IDs", "CCSIDS": "CCSIDs",
    "QMGR": "QMgr", "UCS2": "UCS2", "DB2": "DB2", "1A": "1A",
}

ACRONYMS = set("""
SSL TLS CICS UOW RFH CF CFH CFSL CFST CFIL CFIN CFBS CFBF CFSF CFIF CFGR CCSID
MD MDE OD GMO PMO CNO CSP CBD CTLO SD SRO STS IMPO SMPO DMPO DMHO CMHO BMHO
MHBO BNO SCO XQH DLH IIH CIH WIH RMH DH PD API CD MCA LDAP URL XA TM IMS XCF
QSG PCF JMS AMQP HTTPS SOAP SNI OCSP JSSE DN DLQ MQSC MQGET MQPUT MQOPEN MQINQ
MQCONN MQSET MQUC NPM NHA XR WXP CCDT CLWL MQ ASID DBCS SMDS QMID CHAD TMC
XEPO CLUSRCVR GROUPUR AIR QM RAS MR DSGROUP NETBIOS CLNTUSER CHLAUTH COA COD
PAN NAN XWAIT DEFCLXQ REVDNS PSCLUS SIGNAL1 BO CO HB DOTNET MQCB MQCTL
""".split())

SMALL = {"a", "an", "and", "as", "at", "be", "by", "for", "from", "in", "is",
         "of", "on", "or", "to", "the", "with"}


def is_bound(name):
    return name.endswith("_FIRST") or name.endswith("_LAST")


def words_of(name, prefix):
    """The words of a constant name after its prefix, with Q_MGR joined."""
    parts = name[len(prefix):].split("_")
    out = []
    i = 0
    while i < len(parts):
        if parts[i] == "Q" and i + 1 < len(parts) and parts[i + 1] == "MGR":
            out.append("QMGR")
            i += 2
        else:
            out.append(parts[i])
            i += 1
    return out


def describe(name, prefix, title, keep_q=False):
    if name in TEXT_OVERRIDES:
        return TEXT_OVERRIDES[name]
    rendered = []
    for index, word in enumerate(words_of(name, prefix)):
        if word in FIXED:
            rendered.append(FIXED[word])
        elif word in ACRONYMS or (keep_q and word == "Q"):
            rendered.append(word)
        else:
            text = WORDS.get(word, word.lower())
            if title and (index == 0 or text not in SMALL):
                text = " ".join(w[:1].upper() + w[1:] for w in text.split(" "))
            elif index == 0:
                text = text[:1].upper() + text[1:]
            rendered.append(text)
    return " ".join(rendered)


def read_codes(path):
    return dict(read_constants(path))


def group_of(name):
    for prefix in sorted(GROUPS, key=len, reverse=True):
        if name.startswith(prefix):
            return prefix
    return None


def build(codes):
    main = []
    for prefix in GROUPS:
        names = sorted(n for n in codes if group_of(n) == prefix and not is_bound(n))
        for name in names:
            code = int(codes[name])
            if prefix == "MQFB_":
                text = describe(name, prefix, title=True, keep_q=True)
            else:
                # The object-interface reason codes have always been shown in
                # title case.
                title = prefix == "MQRC_" and 6100 <= code <= 6199
                text = describe(name, prefix, title=title)
            main.append((code, name, text))
    main.extend(OWN_ROWS)
    feedback = [(0, "", "")]
    fb = [(int(codes[n]), n) for n in codes
          if group_of(n) == "MQFB_" and not is_bound(n) and int(codes[n]) >= 256]
    for code, name in sorted(fb):
        feedback.append((code, name, describe(name, "MQFB_", title=True, keep_q=True)))
    return main, feedback


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def append_table(out, array, rows):
    out.append("const MqReasonRow %s[] = {" % array)
    for code, name, text in rows:
        out.append("    {%d, %s, %s}," % (code, c_string(name), c_string(text)))
    out.append("};")


def render(main, feedback):
    out = []
    out.append("// Generated by zeplo/mq/gen_reason_texts.py from mqi/constants.tsv. Do not")
    out.append("// edit: change the script (or the table) and run it again.")
    out.append('#include "zeplo/mq/mq.h"')
    out.append("")
    append_table(out, "kMqMainReasons", main)
    out.append("const size_t kMqMainReasonCount = sizeof kMqMainReasons / sizeof kMqMainReasons[0];")
    out.append("")
    append_table(out, "kMqFeedbackReasons", feedback)
    out.append("const size_t kMqFeedbackReasonCount =")
    out.append("    sizeof kMqFeedbackReasons / sizeof kMqFeedbackReasons[0];")
    return "\n".join(out) + "\n"


def main(argv):
    text = render(*build(read_codes(SOURCE)))
    return write_or_check(argv, TARGET, text, "reason_tables.cpp",
                          "zeplo/mq/gen_reason_texts.py")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
