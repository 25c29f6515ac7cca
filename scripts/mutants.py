#!/usr/bin/env python3
"""Seeded mutants: how many single-line faults the tests catch.

Each mutant changes one line of the engine, files, driver or localqm's
store (a flipped comparison, an off-by-one, a dropped statement, a changed
return code). For each: apply it, rebuild the test executables that should
catch it (incremental, in its own build folder), run them one after the
other with a timeout, then restore the source. A mutant is "killed" when a
test fails or times out, "survived" when all pass, "stillborn" when it does
not compile (a badly chosen mutant, not a success of the tests).

The test executables are run directly (not through ctest), so that only the
ones a mutant needs are built; the first failure ends the mutant's run.

Usage: scripts/mutants.py [--list] [--only N,M,...] [--build DIR] [--timeout S]
                          [--also TEST,...]  (more test executables for each mutant)
Not run by CI: a full run rebuilds and tests once per mutant.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What each folder's mutants are tested with (executables of <build>/bin).
ENGINE = ["engine_processing_loop_test", "engine_queue_input_test", "engine_queue_output_test",
          "engine_selection_test", "engine_summary_test", "engine_pacing_test"]
SAFETY = ["e2e_message_safety_test", "e2e_copy_queue_test", "e2e_unload_failures_test"]
FILES = ["files_message_file_reader_test", "files_message_file_writer_test",
         "files_unit_files_test", "files_run_files_test", "files_line_storage_test",
         "files_message_storage_test", "files_delimited_reader_test", "files_file_names_test",
         "files_browse_listing_test", "files_layout_fixtures_test"]
LOADS = ["e2e_load_file_test", "e2e_file_integrity_test"]
DRIVER = ["driver_check_options_test", "driver_options_test", "driver_value_parsers_test"]
REFUSALS = ["e2e_options_refusals_test", "e2e_shaping_moves_test"]
LOCALQM = ["localqm_store_test", "localqm_mqi_put_get_test", "localqm_mqi_connect_open_test",
           "localqm_delivery_order_test", "localqm_recovery_log_test", "localqm_selector_test",
           "localqm_admin_tool_test", "localqm_multiprocess_test"]

# (file, original fragment (unique in the file), replacement, tests)
E, F, D, L = "zeplo/engine/", "zeplo/files/", "zeplo/driver/", "localqm/core/"
MUTANTS = [
    # --- engine: units of work, backout, delivery, selection
    (E + "units_of_work.cpp", "if (slot < 0 || slot > 1) return false;",
     "if (slot < 0 || slot > 0) return false;", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "if (compCode == MQCC_OK) return 0;\n  // A warning",
     "if (compCode != MQCC_FAILED) return 0;\n  // A warning", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "  run->StopRequested = true;\n  return SetExitMessage(run, reason, \"MQCMIT",
     "  return SetExitMessage(run, reason, \"MQCMIT", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "if (compCode != MQCC_FAILED) return 0;  // a warning is ignored",
     "if (compCode == MQCC_OK) return 0;  // a warning is ignored", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "rc = CommitQmgr(run, run->Options->OutputSlot);\n    if (rc != 0) return rc;",
     "rc = CommitQmgr(run, run->Options->OutputSlot);", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "        ReportUnitOnBothSides(run);\n",
     "", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "return run->Options->OutputFile[0] != '\\0' ? MarkOutputCommitted(run) : 0;",
     "return 0;", ENGINE + SAFETY + LOADS),
    (E + "units_of_work.cpp", "if (run->Options->InputSlot == run->Options->OutputSlot || run->Options->DestructiveGet) {",
     "if (run->Options->InputSlot == run->Options->OutputSlot) {", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "int files = RollBackOutputFiles(run);", "int files = 0;",
     ENGINE + SAFETY + LOADS),
    (E + "units_of_work.cpp", "if (rc == 0) rc = files;", "", ENGINE + SAFETY + LOADS),
    (E + "units_of_work.cpp", "run->Engine.UowMessageCount < run->Options->TransactionLimit &&",
     "run->Engine.UowMessageCount <= run->Options->TransactionLimit &&", ENGINE + SAFETY),
    (E + "units_of_work.cpp", "  int rc = FlushOutputForCommit(run);\n  if (rc != 0) return rc;\n",
     "  int rc = 0;\n", ENGINE + SAFETY + LOADS),
    (E + "processing_loop.cpp", "if (rc == 0 && run->Engine.UowMessageCount > 0) {",
     "if (rc == 0 && run->Engine.UowMessageCount > 1) {", ENGINE + SAFETY),
    (E + "processing_loop.cpp", "if (rc != 0) BackoutAll(run);", "", ENGINE + SAFETY),
    (E + "deliver.cpp", "run->Message.Descriptor->BackoutCount >= inputQueue->BackoutThreshold",
     "run->Message.Descriptor->BackoutCount > inputQueue->BackoutThreshold", ENGINE + SAFETY),
    (E + "deliver.cpp", "if (rc == 0) NoteMessageInUnit(run);", "NoteMessageInUnit(run);",
     ENGINE + SAFETY),
    (E + "queue_input.cpp", "if (now - run->Engine.LastMessageTime >= run->Options->WaitInterval) {",
     "if (now - run->Engine.LastMessageTime > run->Options->WaitInterval + 1) {", ENGINE + SAFETY),
    (E + "selection.cpp", "if (run->Counters.MessageIndex < run->Options->RangeFirst) return false;",
     "if (run->Counters.MessageIndex <= run->Options->RangeFirst) return false;", ENGINE),
    (E + "selection.cpp", "if (run->Options->PutBefore != 0 && putTime >= run->Options->PutBefore) return false;",
     "if (run->Options->PutBefore != 0 && putTime > run->Options->PutBefore) return false;", ENGINE),
    (E + "queue_output_put.cpp", "if (*reason == MQRC_NONE) *reason = MQRC_UNEXPECTED_ERROR;",
     "", ENGINE + SAFETY),
    # --- files: rollback of output files, the reader's checks, the writer
    (F + "unit_files.cpp", "bool remove = f.Opened && f.Size == 0;",
     "bool remove = f.Size == 0;", FILES + LOADS + SAFETY),
    (F + "unit_files.cpp", "if (!f.NeedsEnd) return 0;", "return 0;", FILES + LOADS + SAFETY),
    (F + "unit_files.cpp", "if (truncate(f.Name, f.Size) != 0) return errno;",
     "if (truncate(f.Name, f.Size + 1) != 0) return errno;", FILES + LOADS + SAFETY),
    (F + "unit_files.cpp", "if (old != nullptr && old->Count < old->Capacity) return 0;",
     "if (old != nullptr && old->Count <= old->Capacity) return 0;", FILES + LOADS + SAFETY),
    (F + "unit_files.cpp", "if (remove) run->Counters.UncommittedWrittenFiles++;", "",
     FILES + LOADS + SAFETY),
    (F + "unit_files.cpp", "  list->Count = 0;\n  return rc;", "  return rc;",
     FILES + LOADS + SAFETY),
    (F + "message_file_reader.cpp", "if (ls->Marked && !ls->EndSeen) return RefuseCutFile(run, false);",
     "if (ls->Marked && ls->EndSeen) return RefuseCutFile(run, false);", FILES + LOADS),
    (F + "message_file_reader.cpp", "if (eof && ls->Marked) return RefuseCutFile(run, true);",
     "", FILES + LOADS),
    (F + "message_file_reader.cpp", "if (ls->Length < 5) {", "if (ls->Length < 4) {",
     FILES + LOADS),
    (F + "message_file_reader.cpp", "if (p[1] != '\"' && p[1] != '~') {", "if (p[1] != '\"') {",
     FILES + LOADS),
    (F + "message_file_reader.cpp", "if (value > INT32_MAX) return INT32_MAX;",
     "if (value > INT32_MAX) return INT32_MIN;", FILES + LOADS),
    (F + "message_file_reader.cpp", "if (rc == 0 && eof) run->StopRequested = true;",
     "if (rc == 0) run->StopRequested = true;", FILES + LOADS),
    (F + "message_file_writer.cpp", "Room(size_t n) {\n  if (kChunkSize - gOut.Used < n)",
     "Room(size_t n) {\n  if (kChunkSize - gOut.Used < n - 1)", FILES + LOADS),
    (F + "message_file_writer.cpp", "if (*p == '\"' || *p == '~') *out++ = '~';",
     "if (*p == '\"') *out++ = '~';", FILES + LOADS),
    # --- driver: option checks and value parsers
    (D + "check_options.cpp", "if (inputQueues && options->Purge && !options->DestructiveGet)",
     "if (inputQueues && options->Purge && options->DestructiveGet)", DRIVER + REFUSALS),
    (D + "check_options.cpp", "if (outputQueue && options->OutputFile[0] != '\\0')",
     "if (outputQueue && options->OutputFile[0] == '\\0')", DRIVER + REFUSALS),
    (D + "check_options.cpp", "if (options->Count && options->DestructiveGet)",
     "if (options->Count && !options->DestructiveGet)", DRIVER + REFUSALS),
    (D + "check_options.cpp", "options->YoungerThan < options->OlderThan) {",
     "options->YoungerThan > options->OlderThan) {", DRIVER + REFUSALS),
    (D + "check_options.cpp", "if (options->RawBytes && options->DestructiveGet)",
     "if (options->RawBytes && !options->DestructiveGet)", DRIVER + REFUSALS),
    (D + "value_parsers.cpp", "options->PriorityMin > options->PriorityMax) {",
     "options->PriorityMin < options->PriorityMax) {", DRIVER + REFUSALS),
    (D + "value_parsers.cpp", "if (digits == 0 || points > 1) return false;",
     "if (digits == 0 || points > 2) return false;", DRIVER + REFUSALS),
    (D + "value_parsers.cpp", "if (value > INT32_MAX) return INT32_MAX;",
     "if (value > INT32_MAX) return INT32_MAX - 1;", DRIVER + REFUSALS),
    # --- localqm's store: units of work, depths, names, exclusive input
    (L + "messages.cpp", "if (rc == 0) rc = AddDepth(store, queue, 1);",
     "if (rc == 0) rc = AddDepth(store, queue, 2);", LOCALQM),
    (L + "messages.cpp", "if (!syncpoint) rc = AddDepth(store, queue, -1);",
     "rc = AddDepth(store, queue, -1);", LOCALQM),
    (L + "messages.cpp", "if (expires != 0 && expires <= LqmNowMs()) {",
     "if (expires != 0 && expires >= LqmNowMs()) {", LOCALQM),
    (L + "messages.cpp", "\"UPDATE messages SET state = 0, conn = 0, backouts = backouts + 1 WHERE\"",
     "\"UPDATE messages SET state = 0, conn = 0, backouts = backouts WHERE\"", LOCALQM),
    (L + "messages.cpp", "if (rc == 0 && gets + puts > 0) rc = LqmLogCommit(store);",
     "if (rc == 0 && gets > 0) rc = LqmLogCommit(store);", LOCALQM),
    (L + "queues.cpp", "if (q.Depth > 0 && !purge) return MQRC_Q_NOT_EMPTY;",
     "if (q.Depth > 1 && !purge) return MQRC_Q_NOT_EMPTY;", LOCALQM),
    (L + "queues.cpp", "if (exclusive > 0 || ((mode & MQOO_INPUT_EXCLUSIVE) != 0 && inputs > 0))",
     "if (exclusive > 0 || ((mode & MQOO_INPUT_EXCLUSIVE) != 0 && inputs > 1))", LOCALQM),
    (L + "store.cpp", "if (len == 0 || len > kLqmNameLength) return reason;",
     "if (len == 0 || len > kLqmNameLength + 1) return reason;", LOCALQM),
    (L + "store.cpp", "(strchr(name, '/') != nullptr || strcmp(name, \".\") == 0 || strcmp(name, \"..\") == 0))",
     "(strcmp(name, \".\") == 0 || strcmp(name, \"..\") == 0))", LOCALQM),
    (L + "uow.cpp", "if (rc == 0 && n > 0) store->NotifyPending = true;", "", LOCALQM),
    (L + "uow.cpp", "*found = src == SQLITE_ROW;", "*found = src != SQLITE_ROW;", LOCALQM),
]


def folder_of(path):
    return "localqm/core" if path.startswith("localqm/") else path.split("/")[1]


def run(cmd, timeout=None, **kw):
    return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=timeout, text=True, **kw)


def check_unique(i, path, old):
    text = open(os.path.join(ROOT, path), encoding="utf-8").read()
    n = text.count(old)
    if n != 1:
        sys.exit(f"mutant {i}: the fragment occurs {n} times in {path}: {old!r}")
    return text


def test_once(build, tests, timeout):
    """Returns (outcome, detail): killed by the first failing test or not."""
    for t in tests:
        exe = os.path.join(build, "bin", t)
        if not os.path.exists(exe):
            continue
        try:
            r = subprocess.run([exe, "--gtest_brief=1"], cwd=build, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=timeout, text=True,
                               errors="replace", start_new_session=True)
        except subprocess.TimeoutExpired:
            return "killed", f"{t}: timeout"
        if r.returncode != 0:
            failed = [l for l in r.stdout.splitlines() if l.startswith("[  FAILED  ]")]
            return "killed", f"{t}: {failed[0][13:] if failed else 'exit %d' % r.returncode}"
    return "survived", ""


def mutate(i, build, timeout, also=()):
    path, old, new, tests = MUTANTS[i]
    tests = tests + [t for t in also if t not in tests]
    full = os.path.join(ROOT, path)
    original = check_unique(i, path, old)
    try:
        with open(full, "w", encoding="utf-8") as f:
            f.write(original.replace(old, new, 1))
        b = run(["nice", "-n", "10", "cmake", "--build", build, "-j2", "--target"] + tests)
        if b.returncode != 0:
            return "stillborn", b.stdout.strip().splitlines()[-1:]
        return test_once(build, tests, timeout)
    finally:
        with open(full, "w", encoding="utf-8") as f:
            f.write(original)
        if run(["git", "diff", "--quiet", "--", path]).returncode != 0:
            sys.exit(f"{path} differs from git after restoring it: check it by hand")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--list", action="store_true", help="print the mutants and stop")
    ap.add_argument("--only", help="comma-separated mutant numbers")
    ap.add_argument("--build", default=os.path.join(ROOT, "build-mut"))
    ap.add_argument("--timeout", type=int, default=300, help="seconds per test executable")
    ap.add_argument("--also", default="", help="comma-separated test executables added to each")
    a = ap.parse_args()
    # The tests run with the build folder as their working directory: a
    # relative path would be taken from there.
    a.build = os.path.abspath(a.build)
    chosen = [int(n) for n in a.only.split(",")] if a.only else range(1, len(MUTANTS) + 1)
    for n in chosen:
        if not 1 <= n <= len(MUTANTS):
            sys.exit(f"no mutant {n}: there are {len(MUTANTS)}")
        check_unique(n, *MUTANTS[n - 1][:2])
    if a.list:
        for n in chosen:
            path, old, new, _ = MUTANTS[n - 1]
            print(f"{n:3} {path}: {old.strip()!r} -> {new.strip()!r}")
        return
    if not os.path.exists(os.path.join(a.build, "build.ninja")):
        env = dict(os.environ, CCACHE_BASEDIR=ROOT)
        subprocess.run(["cmake", "-S", ROOT, "-B", a.build, "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=Debug", "-DZEPLO_BENCH=OFF",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
                        "-DCMAKE_C_COMPILER_LAUNCHER=ccache"], check=True, env=env)
    # A terminating signal restores the file as Ctrl-C does.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    tally, survivors = {}, []
    for n in chosen:
        path, old, new, _ = MUTANTS[n - 1]
        start = time.time()
        outcome, detail = mutate(n - 1, a.build, a.timeout, [t for t in a.also.split(",") if t])
        t = tally.setdefault(folder_of(path), {"killed": 0, "survived": 0, "stillborn": 0})
        t[outcome] += 1
        print(f"{n:3} {outcome:9} {time.time() - start:5.0f}s {path}: {detail}", flush=True)
        if outcome == "survived":
            survivors.append(n)
    print()
    total = {"killed": 0, "survived": 0, "stillborn": 0}
    for folder in sorted(tally):
        t = tally[folder]
        print(f"{folder:<13} killed {t['killed']:3}  survived {t['survived']:3}  "
              f"stillborn {t['stillborn']:3}")
        for k in total:
            total[k] += t[k]
    scored = total["killed"] + total["survived"]
    score = 100.0 * total["killed"] / scored if scored else 0.0
    print(f"{'total':<13} killed {total['killed']:3}  survived {total['survived']:3}  "
          f"stillborn {total['stillborn']:3}  score {score:.1f}% of {scored}")
    for n in survivors:
        path, old, new, _ = MUTANTS[n - 1]
        print(f"survived {n}: {path}: {old.strip()!r} -> {new.strip()!r}")


if __name__ == "__main__":
    main()
